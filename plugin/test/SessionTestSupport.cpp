#include "test/SessionTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace session_testing {

// RecordingResultSink

STDMETHODIMP RecordingResultSink::OnResultReady(int commandId, int resultKind) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.emplace_back(commandId, resultKind);
  }
  if (action) action(commandId);
  return S_OK;
}

std::vector<std::pair<int, int>> RecordingResultSink::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

// RecordingFailureSink

STDMETHODIMP RecordingFailureSink::OnFailure(int code, int operationIndex, int value3,
                                             int value4) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back({code, operationIndex, value3, value4});
  return S_OK;
}

std::vector<std::vector<int>> RecordingFailureSink::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

// FakeSettingsStore::FakeSection

STDMETHODIMP FakeSettingsStore::FakeSection::WriteValue(LPCSTR key, int time, LPCSTR value,
                                                        int length) {
  if (length < 0) return E_INVALIDARG;
  (*values_)[key] = Value{time, std::string(value, static_cast<size_t>(length))};
  return S_OK;
}

STDMETHODIMP FakeSettingsStore::FakeSection::ReadValue(LPCSTR key, char* buffer, int* length) {
  auto found = values_->find(key);
  if (found == values_->end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  int needed = static_cast<int>(found->second.text.size()) + 1;
  if (*length < needed) {
    *length = needed;
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  std::copy(found->second.text.begin(), found->second.text.end(), buffer);
  buffer[needed - 1] = '\0';
  *length = needed - 1;
  return S_OK;
}

// FakeSettingsStore

FakeSettingsStore::~FakeSettingsStore() {
  for (auto& entry : handedOut_) delete entry;
}

STDMETHODIMP FakeSettingsStore::CreateSection(BSTR name, int flag) {
  std::wstring key(name, SysStringLen(name));
  createCalls.push_back({key, flag});
  if (createFails) return E_FAIL;
  if (sections.count(key) != 0) return S_FALSE;
  sections[key];
  return S_OK;
}

STDMETHODIMP FakeSettingsStore::OpenSection(BSTR name, ISettingsSection** section) {
  std::wstring key(name, SysStringLen(name));
  ++openCalls;
  *section = nullptr;
  auto found = sections.find(key);
  if (openFails || found == sections.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  FakeSection* handle = new FakeSection(&found->second);
  handedOut_.push_back(handle);
  handle->AddRef();
  *section = handle;
  return S_OK;
}

int FakeSettingsStore::LiveSectionHandles() const {
  int live = 0;
  for (FakeSection* handle : handedOut_) live += handle->refs() != 0 ? 1 : 0;
  return live;
}

// FakeChannel

STDMETHODIMP FakeChannel::BeginReadMessage() {
  log.push_back("Begin");
  if (beginFails) return E_FAIL;
  reading = true;
  return S_OK;
}

STDMETHODIMP FakeChannel::GetMessagePayload(const BYTE** data, int* length) {
  log.push_back("GetPayload");
  if (!reading) return E_UNEXPECTED;
  if (onPayload) onPayload();
  // The bytes live in a buffer of exactly their size, so a read past the end is
  // caught by the address sanitizer.
  exact_.assign(payload.begin(), payload.end());
  *data = exact_.empty() ? nullptr : exact_.data();
  *length = reportedLength != kRealLength ? reportedLength : static_cast<int>(exact_.size());
  return exact_.empty() ? S_FALSE : S_OK;
}

STDMETHODIMP FakeChannel::EndReadMessage() {
  log.push_back("End");
  reading = false;
  return S_OK;
}

// FakeManager

STDMETHODIMP FakeManager::GetRole(int* role) {
  *role = 0;
  return S_OK;
}

STDMETHODIMP FakeManager::GetModuleChannel(LPCSTR name, int reserved,
                                           IShareSessionChannel** channel) {
  channelRequests.push_back(std::string(name) + "/" + std::to_string(reserved));
  *channel = channel_;
  channel_->AddRef();
  return S_OK;
}

// FakePlatform

STDMETHODIMP FakePlatform::GetShareSessionManager(IShareSessionManager** manager) {
  *manager = manager_;
  if (manager_ == nullptr) return E_FAIL;
  manager_->AddRef();
  return S_OK;
}

STDMETHODIMP FakePlatform::GetSettingsStore(ISettingsStore** store) {
  *store = store_;
  if (store_ == nullptr) return E_FAIL;
  store_->AddRef();
  return S_OK;
}

STDMETHODIMP FakePlatform::CreateObjectByName(LPCWSTR, int, IUnknown** object) {
  *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

// Payload

Payload& Payload::Int(int32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes_.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
  }
  return *this;
}

Payload& Payload::Text(const std::string& text) {
  Int(static_cast<int32_t>(text.size()));
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

}  // namespace session_testing
}  // namespace ZQBlog
}  // namespace Velmora
