// Fakes for the session tests (included by *_test.cpp only): a session and a decoder
// of their own, host sinks, a settings store and a host platform whose module channel
// serves a scripted payload.
#ifndef ZQBLOG_TEST_SESSIONTESTSUPPORT_H_
#define ZQBLOG_TEST_SESSIONTESTSUPPORT_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IZQBlogFailureSink.h"
#include "interfaces/IZQBlogResultSink.h"
#include "interfaces/IZQCPPlatform.h"
#include "platform/atl.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/ComTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace session_testing {

// A session of the test's own (the library reaches only the process-wide one).
class TestSession : public BlogSession_ {
 public:
  TestSession() = default;
  ~TestSession() override = default;
};

// A decoder that applies to a given session.
class TestDecoder : public BlogShareSessionDecoder_ {
 public:
  explicit TestDecoder(BlogSession_* session) : BlogShareSessionDecoder_(session) {}
  ~TestDecoder() override = default;
};

using com_testing::Counted;

// Records every OnResultReady; runs an optional action inside the call.
class RecordingResultSink : public Counted<IZQBlogResultSink> {
 public:
  STDMETHOD(OnResultReady)(int commandId, int resultKind) override;
  std::vector<std::pair<int, int>> calls() const;

  std::function<void(int commandId)> action;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int, int>> calls_;
};

// Records every OnFailure as its four values.
class RecordingFailureSink : public Counted<IZQBlogFailureSink> {
 public:
  STDMETHOD(OnFailure)(int code, int operationIndex, int value3, int value4) override;
  std::vector<std::vector<int>> calls() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::vector<int>> calls_;
};

// An in-memory settings store: sections of key -> (time, value).
class FakeSettingsStore : public Counted<ISettingsStore> {
 public:
  struct Value {
    int time = 0;
    std::string text;
  };
  typedef std::map<std::string, Value> Section;

  class FakeSection : public Counted<ISettingsSection> {
   public:
    explicit FakeSection(Section* values) : values_(values) {}
    STDMETHOD(WriteValue)(LPCSTR key, int time, LPCSTR value, int length) override;
    STDMETHOD(ReadValue)(LPCSTR key, char* buffer, int* length) override;

   private:
    Section* values_;
  };

  ~FakeSettingsStore() override;

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(CreateSection)(BSTR name, int flag) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(OpenSection)(BSTR name, ISettingsSection** section) override;

  // Section handles still referenced by the code under test.
  int LiveSectionHandles() const;

  std::map<std::wstring, Section> sections;
  std::vector<std::pair<std::wstring, int>> createCalls;
  int openCalls = 0;
  bool openFails = false;
  bool createFails = false;

 private:
  std::vector<FakeSection*> handedOut_;
};

// The host's module channel with one broadcast payload; logs the calls it gets.
class FakeChannel : public Counted<IShareSessionChannel> {
 public:
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(BeginReadMessage)() override;
  STDMETHOD(GetMessagePayload)(const BYTE** data, int* length) override;
  STDMETHOD(EndReadMessage)() override;
  STDMETHOD(AttachMessageSink)(IOnRecvShareSessionMsg*) override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(AttachResultSink)(IOnRecvShareSessionOperationEvent*) override { return E_NOTIMPL; }
  STDMETHOD(DetachResultSink)(IOnRecvShareSessionOperationEvent*) override { return E_NOTIMPL; }
  STDMETHOD(CreateOperationMessage)(IShareSessionMessage**) override { return E_NOTIMPL; }
  STDMETHOD(SendOperationMessage)(IShareSessionMessage*) override { return E_NOTIMPL; }

  std::vector<uint8_t> payload;
  static constexpr int kRealLength = INT32_MIN;
  int reportedLength = kRealLength;  // the length GetMessagePayload reports
  std::function<void()> onPayload;  // runs inside GetMessagePayload
  bool beginFails = false;
  bool reading = false;
  std::vector<std::string> log;

 private:
  std::vector<uint8_t> exact_;
};

class FakeManager : public Counted<IShareSessionManager> {
 public:
  explicit FakeManager(FakeChannel* channel) : channel_(channel) {}
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetRole)(int* role) override;
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterModule)(LPCSTR, int) override { return E_NOTIMPL; }
  STDMETHOD(GetModuleServer)(LPCSTR, int, IShareSessionServer**) override { return E_NOTIMPL; }
  STDMETHOD(GetModuleChannel)(LPCSTR name, int reserved, IShareSessionChannel** channel) override;
  std::vector<std::string> channelRequests;

 private:
  FakeChannel* channel_;
};

// The host platform: the share-session manager and the settings store.
class FakePlatform : public Counted<IZQCPPlatform> {
 public:
  FakePlatform(FakeManager* manager, ISettingsStore* store) : manager_(manager), store_(store) {}
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry**) override { return E_NOTIMPL; }
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop**) override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory**) override { return E_NOTIMPL; }
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** manager) override;
  STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
  STDMETHOD(GetSettingsStore)(ISettingsStore** store) override;
  STDMETHOD(CreateObjectByName)(LPCWSTR, int, IUnknown** object) override;

 private:
  FakeManager* manager_;
  ISettingsStore* store_;
};

// Little-endian record items built by hand.
class Payload {
 public:
  Payload& Int(int32_t value);
  Payload& Byte(uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  Payload& Text(const std::string& text);
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace session_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_SESSIONTESTSUPPORT_H_
