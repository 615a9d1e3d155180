#include "host/http/HttpServiceCore.h"

#include <algorithm>

namespace Velmora {
namespace ZQHost {

void HttpServiceCore::SetReplyObserver(HttpReplyObserver observer) {
  std::shared_ptr<const HttpReplyObserver> next;
  if (observer) next = std::make_shared<const HttpReplyObserver>(std::move(observer));
  std::lock_guard<std::mutex> lock(observer_mutex_);
  observer_ = std::move(next);
}

void HttpServiceCore::ReportReply(const HttpReplyProgress& progress) {
  std::shared_ptr<const HttpReplyObserver> observer;
  {
    std::lock_guard<std::mutex> lock(observer_mutex_);
    observer = observer_;
  }
  // Called without the lock: the observer may replace itself.
  if (observer) (*observer)(progress);
}

void HttpServiceCore::Track(const std::weak_ptr<Abortable>& item) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Forget the connections that are gone, so the list stays as long as the live ones.
  items_.erase(std::remove_if(items_.begin(), items_.end(),
                              [](const std::weak_ptr<Abortable>& p) { return p.expired(); }),
               items_.end());
  items_.push_back(item);
}

void HttpServiceCore::BeginShutdown(int code) {
  std::vector<std::weak_ptr<Abortable>> items;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    items.swap(items_);
  }
  boost::asio::post(io_, [items = std::move(items), code]() {
    for (const auto& weak : items) {
      if (auto item = weak.lock()) item->Abort(code);
    }
  });
  work_guard_.reset();
}

bool HttpServiceCore::IsStopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

}  // namespace ZQHost
}  // namespace Velmora
