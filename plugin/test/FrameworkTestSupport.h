// A scripted stand-in for the host's HTTP connection service and workshop, for the
// command framework tests (included by *_test.cpp only). Every fake records the calls
// it receives; the connection hands the test the events pointer the command advised,
// so the test plays the connection thread by calling the events itself.
#ifndef ZQBLOG_TEST_FRAMEWORKTESTSUPPORT_H_
#define ZQBLOG_TEST_FRAMEWORKTESTSUPPORT_H_

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "interfaces/ICmdEvent.h"
#include "interfaces/IHttpBuffer.h"
#include "interfaces/IHttpConnection.h"
#include "interfaces/IHttpConnectionClientEvents.h"
#include "interfaces/IHttpConnectionFactory.h"
#include "interfaces/IHttpReplyHeaders.h"
#include "interfaces/IHttpRequest.h"
#include "interfaces/IPackage.h"
#include "interfaces/IPackageParser.h"
#include "interfaces/IWorkshopCmd.h"
#include "platform/atl.h"
#include "test/ComTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace framework_testing {

using com_testing::ModuleLockWatch;
using com_testing::RefCount;

std::string TextOf(const CountedString& text);

using com_testing::Fake;

// A byte buffer. Counts the calls it gets; GetData can be made to fail.
class FakeBuffer : public Fake<IHttpBuffer> {
 public:
  explicit FakeBuffer(std::string bytes = std::string()) : bytes_(std::move(bytes)) {}

  STDMETHOD(SetData)(const BYTE* data, int length) override;
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(GetData)(BYTE** data, int* length) override;

  const std::string& bytes() const { return bytes_; }

  std::atomic<int> setDataCalls{0};
  std::atomic<int> getDataCalls{0};
  bool failGetData = false;

 private:
  std::string bytes_;
};

class FakeReplyHeaders : public Fake<IHttpReplyHeaders> {
 public:
  explicit FakeReplyHeaders(int status = 200) : status_(status) {}
  STDMETHOD(GetStatusCode)(int* statusCode) override;
  STDMETHOD(GetHeader)(LPCSTR /*name*/, IStringSetter* /*value*/) override { return S_FALSE; }

 private:
  int status_;
};

class FakeRequest : public Fake<IHttpRequest> {
 public:
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(AddHeader)(CountedString name, CountedString value) override;

  std::string method;
  std::string path;
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;
};

// One connection: records every call as a line of text, keeps the advised events and
// what was sent. A thread can wait for Send (WaitForSends).
class FakeConnection : public Fake<IHttpConnection> {
 public:
  STDMETHOD(Advise)(IHttpConnectionClientEvents* sink) override;
  STDMETHOD(Unadvise)(IHttpConnectionClientEvents* sink) override;
  STDMETHOD(SetServer)(CountedString host, DWORD port) override;
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Open)() override { return Note("Open"); }
  STDMETHOD(Send)(IHttpRequest* request, IHttpBuffer* body) override;
  STDMETHOD(Continue)() override;
  STDMETHOD(Close)() override { return Note("Close"); }

  // The advised events (null after Unadvise), with a reference for the caller.
  CComPtr<IHttpConnectionClientEvents> events();
  std::vector<std::string> log();
  CComPtr<FakeRequest> sentRequest();
  std::optional<std::string> sentBody();
  // Blocks until Send has been called at least n times.
  void WaitForSends(int n);

 private:
  HRESULT Note(const char* what);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> log_;
  CComPtr<IHttpConnectionClientEvents> events_;
  IHttpConnectionClientEvents* advisedEvents_ = nullptr;  // identity only
  CComPtr<FakeRequest> sentRequest_;
  std::optional<std::string> sentBody_;
  int sends_ = 0;
};

// The factory: makes one FakeConnection (kept for the test), requests and buffers;
// each kind of creation can be made to fail.
class FakeFactory : public Fake<IHttpConnectionFactory> {
 public:
  FakeFactory() : connection(new FakeConnection) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(CreateConnection)(int reserved, void* parameters,
                              IHttpConnection** result) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(CreateRequest)(IHttpRequest** result, CountedString method, CountedString path,
                           CountedString version) override;
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(CreateBuffer)(IHttpBuffer** result) override;

  CComPtr<FakeConnection> connection;
  HRESULT connectionResult = S_OK;
  bool connectionNullOnSuccess = false;
  HRESULT requestResult = S_OK;
  HRESULT bufferResult = S_OK;
  int connectionsCreated = 0;
  int requestsCreated = 0;
  int buffersCreated = 0;
  int lastReserved = -1;
  void* lastParameters = nullptr;
  DWORD lastParameterSize = 0;
  CComPtr<FakeRequest> lastRequest;
  CComPtr<FakeBuffer> lastBuffer;
};

class FakePackage : public Fake<IPackage> {
 public:
  STDMETHOD(SetData)(const BYTE* /*data*/, int length, int* storedLength) override;
};

// A parser that keeps what Parse was given and answers as scripted.
class FakeParser : public Fake<IPackageParser> {
 public:
  STDMETHOD(Reset)() override { return S_OK; }
  STDMETHOD(Parse)(const BYTE* data, int length) override;
  STDMETHOD(GetPackageCount)(int* count) override;
  STDMETHOD(GetPackage)(IPackage** result) override;

  HRESULT parseResult = S_OK;
  int packageCount = 1;
  CComPtr<IPackage> package{new FakePackage};
  int parseCalls = 0;
  int getPackageCalls = 0;
  bool parsedPointerWasNull = false;
  std::string parsed;
};

// A state-change sink: records (command, old, new) and can run a reaction.
class RecordingSink : public Fake<ICmdEvent> {
 public:
  struct Change {
    IWorkshopCmd* command;
    int oldState;
    int newState;
  };

  STDMETHOD(OnStateChanged)(IWorkshopCmd* command, int oldState, int newState) override;

  std::vector<Change> changes();
  std::vector<int> newStates();

  // Set before the sink is registered.
  std::function<void(IWorkshopCmd* command, int newState)> onChange;

 private:
  std::mutex mutex_;
  std::vector<Change> changes_;
};

}  // namespace framework_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_FRAMEWORKTESTSUPPORT_H_
