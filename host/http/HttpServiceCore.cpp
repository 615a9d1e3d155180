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

bool HttpServiceCore::TakeSlot(Waiter* waiter, std::weak_ptr<Waiter> handle) {
  if (waiters_.empty() && HasFreeSlot()) {
    CountOpened();
    return true;
  }
  waiters_.emplace_back(waiter, std::move(handle));
  return false;
}

void HttpServiceCore::ReleaseSlot() {
  // Above the cap (it was lowered): the slot is not handed on.
  const size_t cap = std::max<size_t>(1, max_open_connections.load());
  if (open_slots_.load(std::memory_order_relaxed) <= cap) {
    while (!waiters_.empty()) {
      std::shared_ptr<Waiter> next = waiters_.front().second.lock();
      waiters_.pop_front();
      if (next && next->Admit()) return;  // the slot goes on: as many open as before
    }
  }
  open_slots_.fetch_sub(1, std::memory_order_relaxed);
}

void HttpServiceCore::Withdraw(Waiter* waiter) {
  for (auto it = waiters_.begin(); it != waiters_.end(); ++it) {
    if (it->first == waiter) {
      waiters_.erase(it);
      return;
    }
  }
}

void HttpServiceCore::AdmitWaiters() {
  while (!waiters_.empty() && HasFreeSlot()) {
    std::shared_ptr<Waiter> next = waiters_.front().second.lock();
    waiters_.pop_front();
    if (next && next->Admit()) CountOpened();
  }
}

bool HttpServiceCore::HasFreeSlot() const {
  return open_slots_.load(std::memory_order_relaxed) <
         std::max<size_t>(1, max_open_connections.load());
}

void HttpServiceCore::CountOpened() {
  const size_t open = open_slots_.load(std::memory_order_relaxed) + 1;
  open_slots_.store(open, std::memory_order_relaxed);
  if (open > peak_open_slots_.load(std::memory_order_relaxed)) {
    peak_open_slots_.store(open, std::memory_order_relaxed);
  }
}

bool HttpServiceCore::IsStopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopping_;
}

}  // namespace ZQHost
}  // namespace Velmora
