#include "test/CommandTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace commands_testing {

// FakeMessage

STDMETHODIMP FakeMessage::GetId(int* id) {
  if (id == nullptr) return E_POINTER;
  *id = id_;
  return S_OK;
}

STDMETHODIMP FakeMessage::GetName(char* buffer, int size) {
  if (static_cast<int>(name.size()) + 1 > size) {
    if (size > 0) buffer[0] = '\0';
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return S_OK;
}

STDMETHODIMP FakeMessage::SetName(LPCSTR text) {
  name = text != nullptr ? text : "";
  return S_OK;
}

STDMETHODIMP FakeMessage::SetPayloadSize(int size) {
  if (size < 0) return E_INVALIDARG;
  if (failPayloadSize) return E_OUTOFMEMORY;
  payload.assign(static_cast<size_t>(size), 0);
  return S_OK;
}

STDMETHODIMP FakeMessage::GetPayload(BYTE** data, int* size) {
  if (data == nullptr || size == nullptr) return E_POINTER;
  if (failGetPayload) return E_FAIL;
  *data = payload.empty() ? nullptr : payload.data();
  *size = static_cast<int>(payload.size());
  return S_OK;
}

// Record

Record& Record::Int(int32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes_.push_back(static_cast<BYTE>(static_cast<uint32_t>(value) >> (8 * i)));
  }
  return *this;
}

Record& Record::Text(const std::string& text) {
  Int(static_cast<int32_t>(text.size()));
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

// FakeChannel

FakeChannel::~FakeChannel() {
  for (IOnRecvShareSessionOperationEvent* sink : resultSinks_) sink->Release();
}

STDMETHODIMP FakeChannel::BeginReadMessage() {
  std::lock_guard<std::mutex> hold(mutex_);
  reading_ = true;
  return S_OK;
}

STDMETHODIMP FakeChannel::GetMessagePayload(const BYTE** data, int* length) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!reading_) return E_UNEXPECTED;
  *data = broadcast.empty() ? nullptr : broadcast.data();
  *length = static_cast<int>(broadcast.size());
  return broadcast.empty() ? S_FALSE : S_OK;
}

STDMETHODIMP FakeChannel::EndReadMessage() {
  std::lock_guard<std::mutex> hold(mutex_);
  reading_ = false;
  return S_OK;
}

STDMETHODIMP FakeChannel::AttachResultSink(IOnRecvShareSessionOperationEvent* sink) {
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

STDMETHODIMP FakeChannel::DetachResultSink(IOnRecvShareSessionOperationEvent* sink) {
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

STDMETHODIMP FakeChannel::CreateOperationMessage(IShareSessionMessage** message) {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back("CreateOperationMessage");
  *message = nullptr;
  if (failCreate) return E_OUTOFMEMORY;
  CComPtr<FakeMessage> created(new FakeMessage(nextId++));
  *message = created.Detach();
  return S_OK;
}

STDMETHODIMP FakeChannel::SendOperationMessage(IShareSessionMessage* message) {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back("SendOperationMessage");
  if (failSend) return E_FAIL;
  sent_.push_back(static_cast<FakeMessage*>(message));
  return S_OK;
}

std::vector<std::string> FakeChannel::log() {
  std::lock_guard<std::mutex> hold(mutex_);
  return log_;
}

std::vector<IOnRecvShareSessionOperationEvent*> FakeChannel::resultSinks() {
  std::lock_guard<std::mutex> hold(mutex_);
  return resultSinks_;
}

std::vector<CComPtr<FakeMessage>> FakeChannel::sent() {
  std::lock_guard<std::mutex> hold(mutex_);
  return sent_;
}

// FakeServer

STDMETHODIMP FakeServer::CreateResultMessage(IShareSessionMessage* request,
                                             IShareSessionMessage** result) {
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

STDMETHODIMP FakeServer::PublishData(const BYTE* payload, int size) {
  std::lock_guard<std::mutex> hold(mutex_);
  published_.emplace_back(payload, payload + size);
  return S_OK;
}

STDMETHODIMP FakeServer::PublishNotice(int first, int type, int value1, int value2) {
  std::lock_guard<std::mutex> hold(mutex_);
  notices_.push_back(Notice{first, type, value1, value2});
  return S_OK;
}

std::vector<std::vector<BYTE>> FakeServer::published() {
  std::lock_guard<std::mutex> hold(mutex_);
  return published_;
}

std::vector<FakeServer::Notice> FakeServer::notices() {
  std::lock_guard<std::mutex> hold(mutex_);
  return notices_;
}

// FakeManager

STDMETHODIMP FakeManager::GetRole(int* value) {
  if (failRole) return E_FAIL;
  *value = role;
  return S_OK;
}

STDMETHODIMP FakeManager::GetModuleServer(LPCSTR name, int priority,
                                          IShareSessionServer** result) {
  Note("server " + std::string(name) + "/" + std::to_string(priority));
  *result = nullptr;
  if (!server) return E_FAIL;
  return Hand(server.p, result);
}

STDMETHODIMP FakeManager::GetModuleChannel(LPCSTR name, int reserved,
                                           IShareSessionChannel** result) {
  Note("channel " + std::string(name) + "/" + std::to_string(reserved));
  *result = nullptr;
  if (!channel) return E_FAIL;
  return Hand(channel.p, result);
}

std::vector<std::string> FakeManager::requests() {
  std::lock_guard<std::mutex> hold(mutex_);
  return requests_;
}

void FakeManager::Note(const std::string& line) {
  std::lock_guard<std::mutex> hold(mutex_);
  requests_.push_back(line);
}

// FakeWorkshop

STDMETHODIMP FakeWorkshop::AddCommand(IWorkshopCmd* command) {
  added.push_back(command);
  if (startOnAdd) startResults.push_back(command->Start());
  return S_OK;
}

// FakePlatform

STDMETHODIMP FakePlatform::GetPluginRegistry(IZQCPPluginRegistry** registry) {
  *registry = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FakePlatform::GetCommandWorkshop(IZQCPCommandWorkshop** result) {
  *result = nullptr;
  if (!workshop) return E_FAIL;
  return Hand(workshop.p, result);
}

STDMETHODIMP FakePlatform::GetHttpConnectionFactory(IHttpConnectionFactory** result) {
  *result = nullptr;
  if (!factory) return E_FAIL;
  return Hand(factory.p, result);
}

STDMETHODIMP FakePlatform::GetShareSessionManager(IShareSessionManager** result) {
  *result = nullptr;
  if (!manager) return E_FAIL;
  return Hand(manager.p, result);
}

STDMETHODIMP FakePlatform::GetSettingsStore(ISettingsStore** store) {
  *store = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FakePlatform::CreateObjectByName(LPCWSTR name, int reserved, IUnknown** object) {
  *object = nullptr;
  objectRequests.push_back(std::wstring(name) + L"/" + std::to_wstring(reserved));
  if (std::wstring(name) != L"IXMLPackageParser" || !xmlParser) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  *object = static_cast<IPackageParser*>(xmlParser.p);
  xmlParser->AddRef();
  return S_OK;
}

// TestBlogCmd

bool TestBlogCmd::ReadRequestRecord(IShareSessionMessage* message) {
  ++readRequestCalls;
  return ReadUserIdRecord(message);
}

void TestBlogCmd::DeliverResult() { delivered.push_back(Status()); }

void TestBlogCmd::GetServer(const char** host, unsigned short* port) {
  *host = "blog.velmora.cn";
  *port = 80;
}

void TestBlogCmd::GetRequestLine(int* method, std::string* path) {
  *method = kMethodGet;
  *path = "/test";
}

}  // namespace commands_testing
}  // namespace ZQBlog
}  // namespace Velmora
