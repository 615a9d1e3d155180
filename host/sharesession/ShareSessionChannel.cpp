#include "host/sharesession/ShareSessionChannel.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "host/sharesession/ShareSessionMessage.h"
#include "host/sharesession/ShareSessionRouter.h"

namespace Velmora {
namespace ZQHost {

HRESULT ShareSessionChannel::Create(std::weak_ptr<ShareSessionRouter> router, int participant,
                                    const std::string& module,
                                    ShareSessionChannel** out) {
  CComObject<ShareSessionChannel>* channel = nullptr;
  HRESULT hr = CComObject<ShareSessionChannel>::CreateInstance(&channel);
  if (FAILED(hr)) return hr;
  channel->router_ = std::move(router);
  channel->participant_ = participant;
  channel->module_ = module;
  channel->AddRef();
  *out = channel;
  return S_OK;
}

HRESULT ShareSessionChannel::DeliverBroadcast(std::shared_ptr<const std::vector<BYTE>> payload,
                                              const int notice[4]) {
  CComPtr<IOnRecvShareSessionMsg> sink;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_ = std::move(payload);
    sink = message_sink_;
  }
  if (!sink) return S_FALSE;
  return sink->OnRecvShareSessionMsg(notice[0], notice[1], notice[2], notice[3]);
}

void ShareSessionChannel::DeliverResult(ShareSessionMessage* result) {
  std::vector<CComPtr<IOnRecvShareSessionOperationEvent>> sinks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sinks = result_sinks_;
  }
  for (CComPtr<IOnRecvShareSessionOperationEvent>& sink : sinks) {
    {
      // A sink detached by an earlier one during this delivery is not called.
      std::lock_guard<std::mutex> lock(mutex_);
      if (std::find(result_sinks_.begin(), result_sinks_.end(), sink.p) == result_sinks_.end()) {
        continue;
      }
    }
    sink->OnRecvOperationResult(result);
  }
}

void ShareSessionChannel::DetachAll() {
  CComPtr<IOnRecvShareSessionMsg> message_sink;
  std::vector<CComPtr<IOnRecvShareSessionOperationEvent>> result_sinks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    message_sink = std::move(message_sink_);
    result_sinks.swap(result_sinks_);
  }
  // Released here, outside the lock.
}

STDMETHODIMP ShareSessionChannel::BeginReadMessage() {
  std::lock_guard<std::mutex> lock(mutex_);
  Reading& reading = readings_[std::this_thread::get_id()];
  if (reading.depth++ == 0) reading.payload = latest_;
  return S_OK;
}

STDMETHODIMP ShareSessionChannel::GetMessagePayload(const BYTE** payload, int* length) {
  if (payload == nullptr || length == nullptr) return E_POINTER;
  *payload = nullptr;
  *length = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = readings_.find(std::this_thread::get_id());
  if (found == readings_.end()) return E_UNEXPECTED;
  const std::shared_ptr<const std::vector<BYTE>>& bytes = found->second.payload;
  if (bytes == nullptr) return S_FALSE;
  *payload = bytes->empty() ? nullptr : bytes->data();
  *length = bytes->size() > static_cast<size_t>(INT_MAX) ? INT_MAX
                                                         : static_cast<int>(bytes->size());
  return S_OK;
}

STDMETHODIMP ShareSessionChannel::EndReadMessage() {
  std::shared_ptr<const std::vector<BYTE>> done;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = readings_.find(std::this_thread::get_id());
  if (found == readings_.end()) return E_UNEXPECTED;
  if (--found->second.depth == 0) {
    done = std::move(found->second.payload);
    readings_.erase(found);
  }
  return S_OK;
}

STDMETHODIMP ShareSessionChannel::AttachMessageSink(IOnRecvShareSessionMsg* sink) {
  CComPtr<IOnRecvShareSessionMsg> old;
  std::lock_guard<std::mutex> lock(mutex_);
  old = std::move(message_sink_);
  message_sink_ = sink;
  return S_OK;
}

STDMETHODIMP ShareSessionChannel::AttachResultSink(IOnRecvShareSessionOperationEvent* sink) {
  if (sink == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(result_sinks_.begin(), result_sinks_.end(), sink) != result_sinks_.end()) {
    return S_FALSE;
  }
  result_sinks_.emplace_back(sink);
  return S_OK;
}

STDMETHODIMP ShareSessionChannel::DetachResultSink(IOnRecvShareSessionOperationEvent* sink) {
  CComPtr<IOnRecvShareSessionOperationEvent> gone;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find(result_sinks_.begin(), result_sinks_.end(), sink);
    if (sink == nullptr || found == result_sinks_.end()) return S_FALSE;
    gone = std::move(*found);
    result_sinks_.erase(found);
  }
  return S_OK;  // the sink's reference goes here, outside the lock
}

STDMETHODIMP ShareSessionChannel::CreateOperationMessage(IShareSessionMessage** message) {
  if (message == nullptr) return E_POINTER;
  *message = nullptr;
  std::shared_ptr<ShareSessionRouter> router = router_.lock();
  if (router == nullptr) return E_UNEXPECTED;
  CComPtr<ShareSessionMessage> created;
  HRESULT hr = ShareSessionMessage::Create(router->NextMessageId(), std::string(),
                                           std::vector<BYTE>(), &created);
  if (FAILED(hr)) return hr;
  *message = created.Detach();
  return S_OK;
}

STDMETHODIMP ShareSessionChannel::SendOperationMessage(IShareSessionMessage* message) {
  if (message == nullptr) return E_POINTER;
  ShareSessionMessage* ours = ShareSessionMessage::FromInterface(message);
  if (ours == nullptr) return E_INVALIDARG;
  std::shared_ptr<ShareSessionRouter> router = router_.lock();
  if (router == nullptr) return E_UNEXPECTED;
  return router->SendOperation(participant_, module_, ours->id(), ours->name(), ours->payload())
             ? S_OK
             : E_UNEXPECTED;
}

}  // namespace ZQHost
}  // namespace Velmora
