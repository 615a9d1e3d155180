#include "host/sharesession/ShareSessionHub.h"

#include <utility>

#include "host/sharesession/ShareSessionManager.h"
#include "host/sharesession/ShareSessionRouter.h"

namespace Velmora {
namespace ZQHost {

ShareSessionHub::ShareSessionHub() : ShareSessionHub(CreateInProcessShareSessionTransport()) {}

ShareSessionHub::ShareSessionHub(std::unique_ptr<ShareSessionTransport> transport)
    : router_(ShareSessionRouter::Create(
          transport != nullptr ? std::move(transport) : CreateInProcessShareSessionTransport())) {}

ShareSessionHub::~ShareSessionHub() { Shutdown(); }

void ShareSessionHub::WaitIdle() { router_->WaitIdle(); }

void ShareSessionHub::Shutdown() { router_->Shutdown(); }

bool ShareSessionHub::IsDeliveryThread() const { return router_->OnDeliveryThread(); }

HRESULT ShareSessionHub::ObserveChanges(IShareSessionManager* participant,
                                        std::function<void(const ShareSessionChange&)> observer) {
  ShareSessionManager* manager = ShareSessionManager::FromInterface(participant);
  if (manager == nullptr || !manager->BelongsTo(router_)) return E_INVALIDARG;
  router_->ObserveChanges(manager->participant(), std::move(observer));
  return S_OK;
}

std::shared_ptr<ShareSessionServedOperation> ShareSessionHub::ClaimServedOperation() {
  return ShareSessionRouter::ClaimDelivered();
}

ShareSessionHub::WorkScope::WorkScope(
    const std::shared_ptr<ShareSessionServedOperation>& operation) {
  ShareSessionRouter::WorkState previous = ShareSessionRouter::EnterWork(operation.get());
  previous_set_ = previous.set;
  previous_ = previous.operation;
}

ShareSessionHub::WorkScope::~WorkScope() {
  ShareSessionRouter::WorkState previous;
  previous.set = previous_set_;
  previous.operation = previous_;
  ShareSessionRouter::LeaveWork(previous);
}

}  // namespace ZQHost
}  // namespace Velmora
