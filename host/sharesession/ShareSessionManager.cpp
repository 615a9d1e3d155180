#include "host/sharesession/ShareSessionManager.h"

#include <string>
#include <utility>

#include "host/sharesession/ShareSessionChannel.h"
#include "host/sharesession/ShareSessionHub.h"
#include "host/sharesession/ShareSessionRouter.h"
#include "host/sharesession/ShareSessionServer.h"

namespace Velmora {
namespace ZQHost {

ShareSessionManager::~ShareSessionManager() {
  if (router_ != nullptr) router_->RemoveParticipant(participant_);
}

HRESULT ShareSessionManager::Create(std::shared_ptr<ShareSessionRouter> router, int role,
                                    IShareSessionManager** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (router == nullptr) return E_INVALIDARG;
  CComObject<ShareSessionManager>* manager = nullptr;
  HRESULT hr = CComObject<ShareSessionManager>::CreateInstance(&manager);
  if (FAILED(hr)) return hr;
  manager->role_ = role;
  manager->participant_ = router->AddParticipant(role);
  manager->router_ = std::move(router);
  manager->AddRef();
  *out = manager;
  return S_OK;
}

ShareSessionManager* ShareSessionManager::FromInterface(IShareSessionManager* manager) {
  return dynamic_cast<ShareSessionManager*>(manager);
}

STDMETHODIMP ShareSessionManager::GetRole(int* role) {
  if (role == nullptr) return E_POINTER;
  *role = role_;
  return S_OK;
}

STDMETHODIMP ShareSessionManager::RegisterModule(LPCSTR moduleName, int priority) {
  if (moduleName == nullptr) return E_POINTER;
  if (*moduleName == '\0') return E_INVALIDARG;
  return router_->RegisterModule(participant_, moduleName, priority);
}

STDMETHODIMP ShareSessionManager::GetModuleServer(LPCSTR moduleName, int priority,
                                                  IShareSessionServer** server) {
  if (server == nullptr) return E_POINTER;
  *server = nullptr;
  if (moduleName == nullptr) return E_POINTER;
  if (*moduleName == '\0') return E_INVALIDARG;
  CComPtr<ShareSessionServer> found;
  HRESULT hr = router_->GetServer(participant_, moduleName, priority, &found);
  if (FAILED(hr)) return hr;
  *server = found.Detach();
  return S_OK;
}

STDMETHODIMP ShareSessionManager::GetModuleChannel(LPCSTR moduleName, int /*reserved*/,
                                                   IShareSessionChannel** channel) {
  if (channel == nullptr) return E_POINTER;
  *channel = nullptr;
  if (moduleName == nullptr) return E_POINTER;
  if (*moduleName == '\0') return E_INVALIDARG;
  CComPtr<ShareSessionChannel> found;
  HRESULT hr = router_->GetChannel(participant_, moduleName, &found);
  if (FAILED(hr)) return hr;
  *channel = found.Detach();
  return S_OK;
}

HRESULT CreateShareSessionManager(ShareSessionHub* hub, int role, IShareSessionManager** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (hub == nullptr) return E_INVALIDARG;
  return ShareSessionManager::Create(hub->router(), role, out);
}

}  // namespace ZQHost
}  // namespace Velmora
