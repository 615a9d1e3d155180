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
#include "test/FrameworkTestSupport.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IShareSessionMessage.h"
#include "interfaces/IShareSessionServer.h"
#include "interfaces/IZQCPCommandWorkshop.h"
#include "interfaces/IZQCPPlatform.h"
#include "module/HostPlatform.h"
#include "platform/atl.h"

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
  STDMETHOD(GetId)(int* id) override {
    if (id == nullptr) return E_POINTER;
    *id = id_;
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(GetName)(char* buffer, int size) override {
    if (static_cast<int>(name.size()) + 1 > size) {
      if (size > 0) buffer[0] = '\0';
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return S_OK;
  }
  STDMETHOD(SetName)(LPCSTR text) override {
    name = text != nullptr ? text : "";
    return S_OK;
  }
  STDMETHOD(SetPayloadSize)(int size) override {
    if (size < 0) return E_INVALIDARG;
    if (failPayloadSize) return E_OUTOFMEMORY;
    payload.assign(static_cast<size_t>(size), 0);
    return S_OK;
  }
  STDMETHOD(GetPayload)(BYTE** data, int* size) override {
    if (data == nullptr || size == nullptr) return E_POINTER;
    if (failGetPayload) return E_FAIL;
    *data = payload.empty() ? nullptr : payload.data();
    *size = static_cast<int>(payload.size());
    return S_OK;
  }

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
  Record& Int(int32_t value) {
    for (int i = 0; i < 4; ++i) {
      bytes_.push_back(static_cast<BYTE>(static_cast<uint32_t>(value) >> (8 * i)));
    }
    return *this;
  }
  Record& Byte(BYTE value) {
    bytes_.push_back(value);
    return *this;
  }
  Record& Text(const std::string& text) {
    Int(static_cast<int32_t>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  const std::vector<BYTE>& bytes() const { return bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

// The module channel: result sinks (one reference each while attached), operation
// messages made and sent, and one broadcast payload for the change decoder.
class FakeChannel : public Fake<IShareSessionChannel> {
 public:
  ~FakeChannel() override {
    for (IOnRecvShareSessionOperationEvent* sink : resultSinks_) sink->Release();
  }

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(BeginReadMessage)() override {
    std::lock_guard<std::mutex> hold(mutex_);
    reading_ = true;
    return S_OK;
  }
  STDMETHOD(GetMessagePayload)(const BYTE** data, int* length) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!reading_) return E_UNEXPECTED;
    *data = broadcast.empty() ? nullptr : broadcast.data();
    *length = static_cast<int>(broadcast.size());
    return broadcast.empty() ? S_FALSE : S_OK;
  }
  STDMETHOD(EndReadMessage)() override {
    std::lock_guard<std::mutex> hold(mutex_);
    reading_ = false;
    return S_OK;
  }
  STDMETHOD(AttachMessageSink)(IOnRecvShareSessionMsg*) override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(AttachResultSink)(IOnRecvShareSessionOperationEvent* sink) override {
    std::lock_guard<std::mutex> hold(mutex_);
    log_.push_back("AttachResultSink");
    if (failAttach) return E_FAIL;
    for (IOnRecvShareSessionOperationEvent* known : resultSinks_) {
      if (known == sink) return S_FALSE;
    }
    sink->AddRef();
    resultSinks_.push_back(sink);
    return S_OK;
  }
  STDMETHOD(DetachResultSink)(IOnRecvShareSessionOperationEvent* sink) override {
    IOnRecvShareSessionOperationEvent* dropped = nullptr;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      log_.push_back("DetachResultSink");
      for (auto it = resultSinks_.begin(); it != resultSinks_.end(); ++it) {
        if (*it == sink) {
          dropped = *it;
          resultSinks_.erase(it);
          break;
        }
      }
    }
    if (dropped == nullptr) return S_FALSE;
    dropped->Release();  // outside the mutex: it may destroy the command
    return S_OK;
  }
  STDMETHOD(CreateOperationMessage)(IShareSessionMessage** message) override {
    std::lock_guard<std::mutex> hold(mutex_);
    log_.push_back("CreateOperationMessage");
    *message = nullptr;
    if (failCreate) return E_OUTOFMEMORY;
    CComPtr<FakeMessage> created(new FakeMessage(nextId++));
    *message = created.Detach();
    return S_OK;
  }
  STDMETHOD(SendOperationMessage)(IShareSessionMessage* message) override {
    std::lock_guard<std::mutex> hold(mutex_);
    log_.push_back("SendOperationMessage");
    if (failSend) return E_FAIL;
    sent_.push_back(static_cast<FakeMessage*>(message));
    return S_OK;
  }

  std::vector<std::string> log() {
    std::lock_guard<std::mutex> hold(mutex_);
    return log_;
  }
  std::vector<IOnRecvShareSessionOperationEvent*> resultSinks() {
    std::lock_guard<std::mutex> hold(mutex_);
    return resultSinks_;
  }
  std::vector<CComPtr<FakeMessage>> sent() {
    std::lock_guard<std::mutex> hold(mutex_);
    return sent_;
  }

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
                                 IShareSessionMessage** result) override {
    *result = nullptr;
    if (request == nullptr) return E_POINTER;
    int id = 0;
    request->GetId(&id);
    CComPtr<FakeMessage> created(new FakeMessage(id));
    created->failPayloadSize = failResultPayload;
    lastResult = created;
    *result = created.Detach();
    return S_OK;
  }
  STDMETHOD(PublishData)(const BYTE* payload, int size) override {
    std::lock_guard<std::mutex> hold(mutex_);
    published_.emplace_back(payload, payload + size);
    return S_OK;
  }
  STDMETHOD(PublishNotice)(int first, int type, int value1, int value2) override {
    std::lock_guard<std::mutex> hold(mutex_);
    notices_.push_back(Notice{first, type, value1, value2});
    return S_OK;
  }

  std::vector<std::vector<BYTE>> published() {
    std::lock_guard<std::mutex> hold(mutex_);
    return published_;
  }
  std::vector<Notice> notices() {
    std::lock_guard<std::mutex> hold(mutex_);
    return notices_;
  }

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
  STDMETHOD(GetRole)(int* value) override {
    if (failRole) return E_FAIL;
    *value = role;
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterModule)(LPCSTR, int) override { return E_NOTIMPL; }
  STDMETHOD(GetModuleServer)(LPCSTR name, int priority, IShareSessionServer** result) override {
    Note("server " + std::string(name) + "/" + std::to_string(priority));
    *result = nullptr;
    if (!server) return E_FAIL;
    return Hand(server.p, result);
  }
  STDMETHOD(GetModuleChannel)(LPCSTR name, int reserved, IShareSessionChannel** result) override {
    Note("channel " + std::string(name) + "/" + std::to_string(reserved));
    *result = nullptr;
    if (!channel) return E_FAIL;
    return Hand(channel.p, result);
  }

  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
  }

  int role = 2;
  bool failRole = false;
  CComPtr<FakeChannel> channel;  // null: the host has none
  CComPtr<FakeServer> server;    // null: the host has none

 private:
  void Note(const std::string& line) {
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.push_back(line);
  }
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
  STDMETHOD(AddCommand)(IWorkshopCmd* command) override {
    added.push_back(command);
    if (startOnAdd) startResults.push_back(command->Start());
    return S_OK;
  }

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
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry** registry) override {
    *registry = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop** result) override {
    *result = nullptr;
    if (!workshop) return E_FAIL;
    return Hand(workshop.p, result);
  }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory** result) override {
    *result = nullptr;
    if (!factory) return E_FAIL;
    return Hand(factory.p, result);
  }
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** result) override {
    *result = nullptr;
    if (!manager) return E_FAIL;
    return Hand(manager.p, result);
  }
  STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
  STDMETHOD(GetSettingsStore)(ISettingsStore** store) override {
    *store = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int reserved, IUnknown** object) override {
    *object = nullptr;
    objectRequests.push_back(std::wstring(name) + L"/" + std::to_wstring(reserved));
    if (std::wstring(name) != L"IXMLPackageParser" || !xmlParser) {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
    *object = static_cast<IPackageParser*>(xmlParser.p);
    xmlParser->AddRef();
    return S_OK;
  }

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
  bool ReadRequestRecord(IShareSessionMessage* message) override {
    ++readRequestCalls;
    return ReadUserIdRecord(message);
  }
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
  void DeliverResult() override { delivered.push_back(Status()); }

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
  void GetServer(const char** host, unsigned short* port) override {
    *host = "blog.velmora.cn";
    *port = 80;
  }
  bool GetConnectionParameter(ConnectionParameter*) override { return false; }
  void GetRequestLine(int* method, std::string* path) override {
    *method = kMethodGet;
    *path = "/test";
  }
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
