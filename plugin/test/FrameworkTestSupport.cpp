#include "test/FrameworkTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace framework_testing {

std::string TextOf(const CountedString& text) {
  return std::string(text.text, static_cast<size_t>(text.length));
}

// FakeBuffer

STDMETHODIMP FakeBuffer::SetData(const BYTE* data, int length) {
  ++setDataCalls;
  if (length < 0) return E_INVALIDARG;
  if (data == nullptr && length > 0) return E_POINTER;
  bytes_.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  return S_OK;
}

STDMETHODIMP FakeBuffer::GetData(BYTE** data, int* length) {
  ++getDataCalls;
  if (failGetData) return E_FAIL;
  if (length == nullptr) return E_POINTER;
  if (data != nullptr) {
    *data = bytes_.empty() ? nullptr : reinterpret_cast<BYTE*>(&bytes_[0]);
  }
  *length = static_cast<int>(bytes_.size());
  return S_OK;
}

// FakeReplyHeaders

STDMETHODIMP FakeReplyHeaders::GetStatusCode(int* statusCode) {
  if (statusCode == nullptr) return E_POINTER;
  *statusCode = status_;
  return S_OK;
}

// FakeRequest

STDMETHODIMP FakeRequest::AddHeader(CountedString name, CountedString value) {
  headers.emplace_back(TextOf(name), TextOf(value));
  return S_OK;
}

// FakeConnection

STDMETHODIMP FakeConnection::Advise(IHttpConnectionClientEvents* sink) {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back("Advise");
  events_ = sink;
  advisedEvents_ = sink;
  return S_OK;
}

STDMETHODIMP FakeConnection::Unadvise(IHttpConnectionClientEvents* sink) {
  CComPtr<IHttpConnectionClientEvents> dropped;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    log_.push_back(sink == advisedEvents_ ? "Unadvise" : "Unadvise(other)");
    dropped = std::move(events_);
  }
  return S_OK;  // dropped releases the events outside the mutex
}

STDMETHODIMP FakeConnection::SetServer(CountedString host, DWORD port) {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back("SetServer " + TextOf(host) + ":" + std::to_string(port));
  return S_OK;
}

STDMETHODIMP FakeConnection::Send(IHttpRequest* request, IHttpBuffer* body) {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back(body != nullptr ? "Send+body" : "Send");
  sentRequest_ = static_cast<FakeRequest*>(request);
  if (body != nullptr) {
    BYTE* data = nullptr;
    int length = 0;
    body->GetData(&data, &length);
    sentBody_.emplace(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  }
  ++sends_;
  changed_.notify_all();
  return S_OK;
}

STDMETHODIMP FakeConnection::Continue() {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back("Continue");
  return S_OK;
}

CComPtr<IHttpConnectionClientEvents> FakeConnection::events() {
  std::lock_guard<std::mutex> hold(mutex_);
  return events_;
}

std::vector<std::string> FakeConnection::log() {
  std::lock_guard<std::mutex> hold(mutex_);
  return log_;
}

CComPtr<FakeRequest> FakeConnection::sentRequest() {
  std::lock_guard<std::mutex> hold(mutex_);
  return sentRequest_;
}

std::optional<std::string> FakeConnection::sentBody() {
  std::lock_guard<std::mutex> hold(mutex_);
  return sentBody_;
}

void FakeConnection::WaitForSends(int n) {
  std::unique_lock<std::mutex> hold(mutex_);
  changed_.wait(hold, [&] { return sends_ >= n; });
}

HRESULT FakeConnection::Note(const char* what) {
  std::lock_guard<std::mutex> hold(mutex_);
  log_.push_back(what);
  return S_OK;
}

// FakeFactory

STDMETHODIMP FakeFactory::CreateConnection(int reserved, void* parameters,
                                           IHttpConnection** result) {
  ++connectionsCreated;
  lastReserved = reserved;
  lastParameters = parameters;
  if (parameters != nullptr) lastParameterSize = *static_cast<const DWORD*>(parameters);
  *result = nullptr;
  if (connectionResult < 0) return connectionResult;
  if (!connectionNullOnSuccess) {
    connection->AddRef();
    *result = connection;
  }
  return connectionResult;
}

STDMETHODIMP FakeFactory::CreateRequest(IHttpRequest** result, CountedString method,
                                        CountedString path, CountedString version) {
  ++requestsCreated;
  *result = nullptr;
  if (FAILED(requestResult)) return requestResult;
  CComPtr<FakeRequest> request(new FakeRequest);
  request->method = TextOf(method);
  request->path = TextOf(path);
  request->version = TextOf(version);
  lastRequest = request;
  *result = request.Detach();
  return S_OK;
}

STDMETHODIMP FakeFactory::CreateBuffer(IHttpBuffer** result) {
  ++buffersCreated;
  *result = nullptr;
  if (FAILED(bufferResult)) return bufferResult;
  CComPtr<FakeBuffer> buffer(new FakeBuffer);
  lastBuffer = buffer;
  *result = buffer.Detach();
  return S_OK;
}

// FakePackage

STDMETHODIMP FakePackage::SetData(const BYTE* /*data*/, int length, int* storedLength) {
  if (storedLength != nullptr) *storedLength = length;
  return S_OK;
}

// FakeParser

STDMETHODIMP FakeParser::Parse(const BYTE* data, int length) {
  ++parseCalls;
  parsedPointerWasNull = (data == nullptr);
  parsed.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  return parseResult;
}

STDMETHODIMP FakeParser::GetPackageCount(int* count) {
  *count = packageCount;
  return S_OK;
}

STDMETHODIMP FakeParser::GetPackage(IPackage** result) {
  ++getPackageCalls;
  return package.CopyTo(result);
}

// RecordingSink

STDMETHODIMP RecordingSink::OnStateChanged(IWorkshopCmd* command, int oldState,
                                           int newState) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    changes_.push_back(Change{command, oldState, newState});
  }
  if (onChange) onChange(command, newState);
  return E_FAIL;  // the command ignores the answer
}

std::vector<RecordingSink::Change> RecordingSink::changes() {
  std::lock_guard<std::mutex> hold(mutex_);
  return changes_;
}

std::vector<int> RecordingSink::newStates() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<int> states;
  for (const Change& change : changes_) states.push_back(change.newState);
  return states;
}

}  // namespace framework_testing
}  // namespace ZQBlog
}  // namespace Velmora
