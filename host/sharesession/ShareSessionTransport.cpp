#include "host/sharesession/ShareSessionTransport.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace Velmora {
namespace ZQHost {

namespace {

// Everything the delivery thread touches; shared with it, so the thread may outlive
// the transport object when Stop had to detach it.
struct QueueState {
  std::mutex mutex;
  std::condition_variable wake;  // an event arrived, or stop
  std::condition_variable idle;  // the queue ran empty, or stop
  std::deque<ShareSessionEvent> queue;
  ShareSessionTransport::Receiver receiver;
  bool started = false;
  bool stopping = false;
  bool busy = false;
  std::thread::id delivery_thread;
};

void RunQueue(std::shared_ptr<QueueState> state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
    if (state->stopping) break;
    ShareSessionEvent event = std::move(state->queue.front());
    state->queue.pop_front();
    state->busy = true;
    lock.unlock();
    try {
      state->receiver(event);
    } catch (...) {
      // A failing receiver loses its event, not the session.
    }
    lock.lock();
    state->busy = false;
    if (state->queue.empty()) state->idle.notify_all();
  }
  state->busy = false;
  state->idle.notify_all();
}

class InProcessTransport : public ShareSessionTransport {
 public:
  InProcessTransport() : state_(std::make_shared<QueueState>()) {}
  ~InProcessTransport() override { Stop(); }

  void Start(Receiver receiver, ShareSessionRouter* /*session*/) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->started || state_->stopping) return;
    state_->receiver = std::move(receiver);
    state_->started = true;
    thread_ = std::thread(RunQueue, state_);
    state_->delivery_thread = thread_.get_id();
  }

  bool Post(ShareSessionEvent event) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->started || state_->stopping) return false;
    state_->queue.push_back(std::move(event));
    state_->wake.notify_one();
    return true;
  }

  void WaitIdle() override {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->idle.wait(lock, [&] {
      return state_->stopping || !state_->started || (state_->queue.empty() && !state_->busy);
    });
  }

  void Stop() override {
    std::deque<ShareSessionEvent> dropped;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->stopping = true;
      dropped.swap(state_->queue);
      state_->wake.notify_all();
      state_->idle.notify_all();
    }
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // the thread holds its own state and ends after this event
    } else {
      thread_.join();
    }
  }

  bool OnDeliveryThread() const override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->started && state_->delivery_thread == std::this_thread::get_id();
  }

 private:
  std::shared_ptr<QueueState> state_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<ShareSessionTransport> CreateInProcessShareSessionTransport() {
  return std::make_unique<InProcessTransport>();
}

}  // namespace ZQHost
}  // namespace Velmora
