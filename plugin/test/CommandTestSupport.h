// A fake host for the blog command tests (included by *_test.cpp only): the platform
// object with a share-session manager (role set by the test), the module channel and
// server, share-session messages, the command workshop and the reply parser of
// "IXMLPackageParser". The HTTP side is FrameworkTestSupport.h's FakeFactory. Every fake
// records what it is asked; host objects are reference counted and delete themselves.
#ifndef ZQBLOG_TEST_COMMANDTESTSUPPORT_H_
#define ZQBLOG_TEST_COMMANDTESTSUPPORT_H_

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IShareSessionMessage.h"
#include "interfaces/IShareSessionServer.h"
#include "interfaces/IZQCPCommandWorkshop.h"
#include "interfaces/IZQCPPlatform.h"
#include "module/HostPlatform.h"
#include "platform/atl.h"
#include "test/FrameworkTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace commands_testing {

using framework_testing::Fake;

// Hands object out through out as interface I with one reference for the caller.
template <class I, class Object>
HRESULT Hand(Object* object, I** out) {
  *out = static_cast<I*>(object);
  object->AddRef();
  return S_OK;
}

// An operation or result message: an id, a name and a payload.
class FakeMessage : public Fake<IShareSessionMessage> {
 public:
  explicit FakeMessage(int id = 0) : id_(id) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetId)(int* id) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(GetName)(char* buffer, int size) override;
  STDMETHOD(SetName)(LPCSTR text) override;
  STDMETHOD(SetPayloadSize)(int size) override;
  STDMETHOD(GetPayload)(BYTE** data, int* size) override;

  std::string name;
  std::vector<BYTE> payload;
  bool failPayloadSize = false;
  bool failGetPayload = false;

 private:
  int id_;
};

// Little-endian record items built by hand.
class Record {
 public:
  Record& Int(int32_t value);
  Record& Byte(BYTE value) {
    bytes_.push_back(value);
    return *this;
  }
  Record& Text(const std::string& text);
  const std::vector<BYTE>& bytes() const { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

// The module channel: result sinks (one reference each while attached), operation
// messages made and sent, and one broadcast payload for the change decoder.
class FakeChannel : public Fake<IShareSessionChannel> {
 public:
  ~FakeChannel() override;

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(BeginReadMessage)() override;
  STDMETHOD(GetMessagePayload)(const BYTE** data, int* length) override;
  STDMETHOD(EndReadMessage)() override;
  STDMETHOD(AttachMessageSink)(IOnRecvShareSessionMsg*) override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(AttachResultSink)(IOnRecvShareSessionOperationEvent* sink) override;
  STDMETHOD(DetachResultSink)(IOnRecvShareSessionOperationEvent* sink) override;
  STDMETHOD(CreateOperationMessage)(IShareSessionMessage** message) override;
  STDMETHOD(SendOperationMessage)(IShareSessionMessage* message) override;

  std::vector<std::string> log();
  std::vector<IOnRecvShareSessionOperationEvent*> resultSinks();
  std::vector<CComPtr<FakeMessage>> sent();

  int nextId = 100;
  bool failAttach = false;
  bool failCreate = false;
  bool failSend = false;
  std::vector<BYTE> broadcast;  // what GetMessagePayload hands out

 private:
  std::mutex mutex_;
  bool reading_ = false;
  std::vector<std::string> log_;
  std::vector<IOnRecvShareSessionOperationEvent*> resultSinks_;
  std::vector<CComPtr<FakeMessage>> sent_;
};

// The module server: result messages made, change payloads and notices published.
class FakeServer : public Fake<IShareSessionServer> {
 public:
  struct Notice {
    int first, type, value1, value2;
    bool operator==(const Notice& o) const {
      return first == o.first && type == o.type && value1 == o.value1 && value2 == o.value2;
    }
  };

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(AttachOperationHandler)(IOnRecvShareSessionOperationEvent*) override {
    return E_NOTIMPL;
  }
  STDMETHOD(CreateResultMessage)(IShareSessionMessage* request,
                                 IShareSessionMessage** result) override;
  STDMETHOD(PublishData)(const BYTE* payload, int size) override;
  STDMETHOD(PublishNotice)(int first, int type, int value1, int value2) override;

  std::vector<std::vector<BYTE>> published();
  std::vector<Notice> notices();

  bool failResultPayload = false;
  CComPtr<FakeMessage> lastResult;

 private:
  std::mutex mutex_;
  std::vector<std::vector<BYTE>> published_;
  std::vector<Notice> notices_;
};

// The share-session manager: the role, and the module's channel and server; logs the
// module requests as "channel ZQBlog/0" and "server ZQBlog/0".
class FakeManager : public Fake<IShareSessionManager> {
 public:
  FakeManager() : channel(new FakeChannel), server(new FakeServer) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetRole)(int* value) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterModule)(LPCSTR, int) override { return E_NOTIMPL; }
  STDMETHOD(GetModuleServer)(LPCSTR name, int priority, IShareSessionServer** result) override;
  STDMETHOD(GetModuleChannel)(LPCSTR name, int reserved, IShareSessionChannel** result) override;

  std::vector<std::string> requests();

  int role = 2;
  bool failRole = false;
  CComPtr<FakeChannel> channel;  // null: the host has none
  CComPtr<FakeServer> server;    // null: the host has none

 private:
  void Note(const std::string& line);
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

// The command workshop: keeps every command added (one reference); optionally starts
// it at once, as the host's workshop does.
class FakeWorkshop : public Fake<IZQCPCommandWorkshop> {
 public:
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(AddCommand)(IWorkshopCmd* command) override;

  bool startOnAdd = false;
  std::vector<CComPtr<IWorkshopCmd>> added;
  std::vector<HRESULT> startResults;
};

// The platform: share-session manager, workshop, HTTP factory and the XML parser by
// name; each can be made missing by setting it to null.
class FakePlatform : public Fake<IZQCPPlatform> {
 public:
  FakePlatform()
      : manager(new FakeManager),
        workshop(new FakeWorkshop),
        factory(new framework_testing::FakeFactory),
        xmlParser(new framework_testing::FakeParser) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry** registry) override;
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop** result) override;
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory** result) override;
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** result) override;
  STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
  STDMETHOD(GetSettingsStore)(ISettingsStore** store) override;
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int reserved, IUnknown** object) override;

  CComPtr<FakeManager> manager;
  CComPtr<FakeWorkshop> workshop;
  CComPtr<framework_testing::FakeFactory> factory;
  CComPtr<framework_testing::FakeParser> xmlParser;
  std::vector<std::wstring> objectRequests;
};

// A blog command whose parameters are the user id and whose result is the status; it
// counts its broadcasts and deliveries. Its HTTP side asks GET "/test" of
// blog.velmora.cn and takes any reply.
class TestBlogCmd : public BaseBlogCmd {
 public:
  BEGIN_COM_MAP(TestBlogCmd)
  COM_INTERFACE_ENTRY(IWorkshopCmd)
  END_COM_MAP()

  TestBlogCmd() = default;

  std::string GetCommandName() override { return "TestCommand"; }
  int GetRequestRecordSize() override { return UserIdRecordSize(); }
  bool WriteRequestRecord(IShareSessionMessage* message) override {
    return WriteUserIdRecord(message);
  }
  bool ReadRequestRecord(IShareSessionMessage* message) override;
  void PublishChange() override { ++publishCalls; }
  int GetChangeRecordSize() override { return 0; }
  void NotifyChange() override { ++notifyCalls; }
  int GetResultRecordSize() override { return kStatusRecordSize; }
  bool WriteResultRecord(BYTE* payload, int size) override {
    return WriteStatusRecord(payload, size);
  }
  bool ReadResultRecord(const BYTE* payload, int size) override {
    return ReadStatusRecord(payload, size);
  }
  void DeliverResult() override;

  // The protected helpers, for the tests.
  using BaseBlogCmd::ReadStatusRecord;
  using BaseBlogCmd::ReadUserIdRecord;
  using BaseBlogCmd::SetStatus;
  using BaseBlogCmd::UserIdRecordSize;
  using BaseBlogCmd::WriteStatusRecord;
  using BaseBlogCmd::WriteUserIdRecord;

  int readRequestCalls = 0;
  int publishCalls = 0;
  int notifyCalls = 0;
  std::vector<int> delivered;  // Status at each DeliverResult

 protected:
  void GetServer(const char** host, unsigned short* port) override;
  bool GetConnectionParameter(ConnectionParameter*) override { return false; }
  void GetRequestLine(int* method, std::string* path) override;
  bool GetRequestBody(const BYTE**, int*) override { return false; }
  HRESULT OnResponseHeaders(IHttpReplyHeaders*) override { return S_OK; }
  HRESULT OnReplyPackage(IPackage*) override { return S_OK; }
  CComPtr<IPackageParser> CreateReplyParser() override { return CComPtr<IPackageParser>(); }
};

// Makes platform the library's host platform for the life of the object, then clears it.
class HostPlatformScope {
 public:
  explicit HostPlatformScope(IZQCPPlatform* platform) { ZQCP::SetHostPlatform(platform); }
  ~HostPlatformScope() { ZQCP::SetHostPlatform(nullptr); }
  HostPlatformScope(const HostPlatformScope&) = delete;
  HostPlatformScope& operator=(const HostPlatformScope&) = delete;
};

}  // namespace commands_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_COMMANDTESTSUPPORT_H_
