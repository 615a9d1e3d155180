#include "host/sharesession/ShareSessionMessage.h"

#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "host/sharesession/ShareSessionRouter.h"

namespace Velmora {
namespace ZQHost {

HRESULT ShareSessionMessage::Create(int id, const std::string& name, std::vector<BYTE> payload,
                                    ShareSessionMessage** out) {
  CComObject<ShareSessionMessage>* message = nullptr;
  HRESULT hr = CComObject<ShareSessionMessage>::CreateInstance(&message);
  if (FAILED(hr)) return hr;
  message->id_ = id;
  message->name_ = name;
  message->payload_ = std::move(payload);
  message->AddRef();
  *out = message;
  return S_OK;
}

ShareSessionMessage* ShareSessionMessage::FromInterface(IShareSessionMessage* message) {
  return dynamic_cast<ShareSessionMessage*>(message);
}

std::string ShareSessionMessage::name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

std::vector<BYTE> ShareSessionMessage::payload() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return payload_;
}

std::shared_ptr<ShareSessionServedOperation> ShareSessionMessage::served() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return served_;
}

void ShareSessionMessage::set_served(std::shared_ptr<ShareSessionServedOperation> served) {
  std::shared_ptr<ShareSessionServedOperation> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old.swap(served_);
    served_ = std::move(served);
  }
  // old may be the last hold: its answer is sent outside the lock.
}

STDMETHODIMP ShareSessionMessage::GetId(int* id) {
  if (id == nullptr) return E_POINTER;
  *id = id_;
  return S_OK;
}

STDMETHODIMP ShareSessionMessage::GetName(char* buffer, int bufferSize) {
  if (buffer == nullptr) return E_POINTER;
  if (bufferSize < 1) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(mutex_);
  if (name_.size() >= static_cast<size_t>(bufferSize)) {
    buffer[0] = '\0';
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, name_.c_str(), name_.size() + 1);
  return S_OK;
}

STDMETHODIMP ShareSessionMessage::SetName(LPCSTR name) {
  if (name == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  name_ = name;
  return S_OK;
}

STDMETHODIMP ShareSessionMessage::SetPayloadSize(int size) {
  if (size < 0) return E_INVALIDARG;
  std::vector<BYTE> fresh;
  try {
    fresh.assign(static_cast<size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  payload_.swap(fresh);
  return S_OK;
}

STDMETHODIMP ShareSessionMessage::GetPayload(BYTE** payload, int* size) {
  if (payload == nullptr || size == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *payload = payload_.empty() ? nullptr : payload_.data();
  *size = payload_.size() > static_cast<size_t>(INT_MAX) ? INT_MAX
                                                          : static_cast<int>(payload_.size());
  return S_OK;
}

}  // namespace ZQHost
}  // namespace Velmora
