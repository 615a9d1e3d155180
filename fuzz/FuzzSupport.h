// A minimal fake host for the fuzz targets (no test framework): share-session messages,
// the module channel that hands the change decoder its payload, the module server that
// keeps what a serving command publishes, the share-session manager with a role, and a
// platform object that gives those and the host's real XML reply parser. Everything
// else the platform is asked for it refuses. Host objects delete themselves on their
// last Release. One thread: the fuzz targets call the library from the fuzzer's thread.
#ifndef ZQBLOG_FUZZ_FUZZSUPPORT_H_
#define ZQBLOG_FUZZ_FUZZSUPPORT_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/xml/XmlPackageParser.h"
#include "interfaces/IPackageParser.h"
#include "interfaces/IShareSessionChannel.h"
#include "interfaces/IShareSessionManager.h"
#include "interfaces/IShareSessionMessage.h"
#include "interfaces/IShareSessionServer.h"
#include "interfaces/IZQCPPlatform.h"
#include "module/HostPlatform.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {
namespace fuzzing {

// Stops the run: a property the target checks does not hold.
[[noreturn]] inline void Violation(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}
#define ZQ_FUZZ_CHECK(condition) \
  do {                           \
    if (!(condition)) ::Velmora::ZQBlog::fuzzing::Violation(#condition); \
  } while (0)

// The IUnknown part of a fake host object: IUnknown and I, a plain counter.
template <class I>
class Fake : public I {
 public:
  Fake() = default;
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;
  virtual ~Fake() = default;

  STDMETHOD(QueryInterface)(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IidOf<I>())) {
      *out = static_cast<I*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
  STDMETHOD_(ULONG, Release)() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG refs_ = 0;
};

// An operation or result message: an id, a name and a payload.
class FakeMessage : public Fake<IShareSessionMessage> {
 public:
  explicit FakeMessage(int id = 1) : id_(id) {}

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
    payload.assign(static_cast<size_t>(size), 0);
    return S_OK;
  }
  STDMETHOD(GetPayload)(BYTE** data, int* size) override {
    if (data == nullptr || size == nullptr) return E_POINTER;
    *data = payload.empty() ? nullptr : payload.data();
    *size = static_cast<int>(payload.size());
    return S_OK;
  }

  std::string name;
  std::vector<BYTE> payload;

 private:
  int id_;
};

// The module channel: the broadcast payload the change decoder reads. Result sinks and
// operation messages are not part of what the targets drive.
class FakeChannel : public Fake<IShareSessionChannel> {
 public:
  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(BeginReadMessage)() override {
    if (reading_) Violation("BeginReadMessage while a read is open");
    reading_ = true;
    return S_OK;
  }
  STDMETHOD(GetMessagePayload)(const BYTE** data, int* length) override {
    if (!reading_) Violation("GetMessagePayload outside BeginReadMessage");
    *data = broadcast.empty() ? nullptr : broadcast.data();
    *length = static_cast<int>(broadcast.size());
    return broadcast.empty() ? S_FALSE : S_OK;
  }
  STDMETHOD(EndReadMessage)() override {
    if (!reading_) Violation("EndReadMessage without BeginReadMessage");
    reading_ = false;
    return S_OK;
  }
  STDMETHOD(AttachMessageSink)(IOnRecvShareSessionMsg*) override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(AttachResultSink)(IOnRecvShareSessionOperationEvent*) override { return E_NOTIMPL; }
  STDMETHOD(DetachResultSink)(IOnRecvShareSessionOperationEvent*) override { return S_FALSE; }
  STDMETHOD(CreateOperationMessage)(IShareSessionMessage** message) override {
    *message = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(SendOperationMessage)(IShareSessionMessage*) override { return E_NOTIMPL; }

  // Whether a read is open (every decode must close the one it opened).
  bool reading() const { return reading_; }

  std::vector<BYTE> broadcast;

 private:
  bool reading_ = false;
};

// The module server: keeps every change payload and notice a serving command publishes.
class FakeServer : public Fake<IShareSessionServer> {
 public:
  struct Notice {
    int first, type, value1, value2;
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
    FakeMessage* created = new FakeMessage(id);
    created->AddRef();
    *result = created;
    return S_OK;
  }
  STDMETHOD(PublishData)(const BYTE* payload, int size) override {
    if (size < 0 || (payload == nullptr && size > 0)) Violation("PublishData of no bytes");
    published.emplace_back(payload, payload + size);
    return S_OK;
  }
  STDMETHOD(PublishNotice)(int first, int type, int value1, int value2) override {
    notices.push_back(Notice{first, type, value1, value2});
    return S_OK;
  }

  std::vector<std::vector<BYTE>> published;
  std::vector<Notice> notices;
};

// The share-session manager: the role and the module's channel and server.
class FakeManager : public Fake<IShareSessionManager> {
 public:
  FakeManager() : channel(new FakeChannel), server(new FakeServer) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(GetRole)(int* value) override {
    *value = role;
    return S_OK;
  }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved4)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved5)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(RegisterModule)(LPCSTR, int) override { return E_NOTIMPL; }
  STDMETHOD(GetModuleServer)(LPCSTR, int, IShareSessionServer** result) override {
    server->AddRef();
    *result = server;
    return S_OK;
  }
  STDMETHOD(GetModuleChannel)(LPCSTR, int, IShareSessionChannel** result) override {
    channel->AddRef();
    *result = channel;
    return S_OK;
  }

  int role = 2;
  CComPtr<FakeChannel> channel;
  CComPtr<FakeServer> server;
};

// The platform: the share-session manager and the host's "IXMLPackageParser".
class FakePlatform : public Fake<IZQCPPlatform> {
 public:
  FakePlatform() : manager(new FakeManager) {}

  STDMETHOD(Reserved1)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved2)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved3)() override { return E_NOTIMPL; }
  STDMETHOD(GetPluginRegistry)(IZQCPPluginRegistry** registry) override {
    *registry = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetCommandWorkshop)(IZQCPCommandWorkshop** workshop) override {
    *workshop = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(Reserved6)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved7)() override { return E_NOTIMPL; }
  STDMETHOD(Reserved8)() override { return E_NOTIMPL; }
  STDMETHOD(GetHttpConnectionFactory)(IHttpConnectionFactory** factory) override {
    *factory = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(GetShareSessionManager)(IShareSessionManager** result) override {
    manager->AddRef();
    *result = manager;
    return S_OK;
  }
  STDMETHOD(Reserved11)() override { return E_NOTIMPL; }
  STDMETHOD(GetSettingsStore)(ISettingsStore** store) override {
    *store = nullptr;
    return E_NOTIMPL;
  }
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int, IUnknown** object) override {
    *object = nullptr;
    if (name == nullptr || std::wstring(name) != L"IXMLPackageParser") {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
    IPackageParser* parser = nullptr;
    const HRESULT hr = ZQHost::CreateXmlPackageParser(&parser);
    if (FAILED(hr)) return hr;
    *object = parser;
    return S_OK;
  }

  CComPtr<FakeManager> manager;
};

// The library's host platform for the whole fuzz run, made on first use, with role set
// and nothing published or waiting to be read yet.
inline FakePlatform* ProcessPlatform(int role) {
  static FakePlatform* platform = [] {
    FakePlatform* made = new FakePlatform;
    made->AddRef();  // kept for the life of the process
    ZQCP::SetHostPlatform(made);
    return made;
  }();
  platform->manager->role = role;
  platform->manager->channel->broadcast.clear();
  platform->manager->server->published.clear();
  platform->manager->server->notices.clear();
  return platform;
}

// Makes platform the library's host platform while the object lives.
class HostPlatformScope {
 public:
  explicit HostPlatformScope(IZQCPPlatform* platform) { ZQCP::SetHostPlatform(platform); }
  ~HostPlatformScope() { ZQCP::SetHostPlatform(nullptr); }
  HostPlatformScope(const HostPlatformScope&) = delete;
  HostPlatformScope& operator=(const HostPlatformScope&) = delete;
};

}  // namespace fuzzing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_FUZZ_FUZZSUPPORT_H_
