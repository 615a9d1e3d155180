#include "host/sharesession/ShareSessionServer.h"

#include <new>
#include <utility>

#include "host/sharesession/ShareSessionMessage.h"
#include "host/sharesession/ShareSessionRouter.h"

namespace Velmora {
namespace ZQHost {

HRESULT ShareSessionServer::Create(std::weak_ptr<ShareSessionRouter> router, int participant,
                                   const std::string& module, ShareSessionServer** out) {
  CComObject<ShareSessionServer>* server = nullptr;
  HRESULT hr = CComObject<ShareSessionServer>::CreateInstance(&server);
  if (FAILED(hr)) return hr;
  server->router_ = std::move(router);
  server->participant_ = participant;
  server->module_ = module;
  server->AddRef();
  *out = server;
  return S_OK;
}

CComPtr<IOnRecvShareSessionOperationEvent> ShareSessionServer::handler() {
  std::lock_guard<std::mutex> lock(mutex_);
  return handler_;
}

void ShareSessionServer::DetachAll() {
  CComPtr<IOnRecvShareSessionOperationEvent> old;
  std::lock_guard<std::mutex> lock(mutex_);
  old = std::move(handler_);
  pending_.clear();
}

STDMETHODIMP ShareSessionServer::AttachOperationHandler(
    IOnRecvShareSessionOperationEvent* handler) {
  CComPtr<IOnRecvShareSessionOperationEvent> old;
  std::lock_guard<std::mutex> lock(mutex_);
  old = std::move(handler_);
  handler_ = handler;
  return S_OK;
}

STDMETHODIMP ShareSessionServer::CreateResultMessage(IShareSessionMessage* request,
                                                     IShareSessionMessage** result) {
  if (result == nullptr) return E_POINTER;
  *result = nullptr;
  if (request == nullptr) return E_POINTER;
  ShareSessionMessage* ours = ShareSessionMessage::FromInterface(request);
  if (ours == nullptr) return E_INVALIDARG;
  CComPtr<ShareSessionMessage> answer;
  HRESULT hr = ShareSessionMessage::Create(ours->id(), std::string(), std::vector<BYTE>(), &answer);
  if (FAILED(hr)) return hr;
  std::shared_ptr<ShareSessionServedOperation> served = ours->served();
  if (served != nullptr && served->server() == participant_ && served->module() == module_) {
    served->SetAnswer(answer);
  }
  *result = answer.Detach();
  return S_OK;
}

STDMETHODIMP ShareSessionServer::PublishData(const BYTE* payload, int size) {
  if (size < 0) return E_INVALIDARG;
  if (payload == nullptr && size > 0) return E_POINTER;
  std::vector<BYTE> copy;
  try {
    copy.assign(payload, payload + size);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  pending_[std::this_thread::get_id()] = std::move(copy);
  return S_OK;
}

STDMETHODIMP ShareSessionServer::PublishNotice(int first, int type, int value1, int value2) {
  std::shared_ptr<ShareSessionRouter> router = router_.lock();
  if (router == nullptr) return E_UNEXPECTED;
  bool has_payload = false;
  std::vector<BYTE> payload;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = pending_.find(std::this_thread::get_id());
    if (found != pending_.end()) {
      has_payload = true;
      payload = std::move(found->second);
      pending_.erase(found);
    }
  }
  const int notice[4] = {first, type, value1, value2};
  return router->Publish(participant_, module_, has_payload, std::move(payload), notice)
             ? S_OK
             : E_UNEXPECTED;
}

}  // namespace ZQHost
}  // namespace Velmora
