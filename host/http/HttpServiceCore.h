// HttpServiceCore: what the HTTP connection service shares with its factory and its
// connections: the io_context run by the one connection thread, the resolver table,
// the limits, the list of connections to abort at shutdown, and the open-connection
// slots with the queue of connections waiting for one. Internal to the HTTP service
// (HttpConnectionService, HttpConnectionFactory, HttpConnection).
//
// Lifetime: shared by the service and every object it made, so the io_context outlives
// each socket; the connection thread belongs to HttpConnectionService alone.
#ifndef ZQBLOG_HOST_HTTP_HTTPSERVICECORE_H_
#define ZQBLOG_HOST_HTTP_HTTPSERVICECORE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "host/http/HttpReplyProgress.h"
#include "host/http/HttpResolverTable.h"

namespace Velmora {
namespace ZQHost {

class HttpServiceCore {
 public:
  // Something the service ends when it shuts down (a connection).
  class Abortable {
   public:
    virtual ~Abortable() = default;
    // Runs on the connection thread: fail with code unless already ended.
    virtual void Abort(int code) = 0;
  };

  // Something that waits for an open-connection slot (a connection whose Open came
  // while every slot was taken).
  class Waiter {
   public:
    virtual ~Waiter() = default;
    // Runs on the connection thread when a slot is handed over: true when it takes it
    // (and proceeds later, as work of its own: never inside this call), false when it
    // waits no more and the slot goes to the next.
    virtual bool Admit() = 0;
  };

  // The io_context keeps running while idle until BeginShutdown.
  HttpServiceCore() : work_guard_(boost::asio::make_work_guard(io_)) {}
  HttpServiceCore(const HttpServiceCore&) = delete;
  HttpServiceCore& operator=(const HttpServiceCore&) = delete;

  // Runs work on the connection thread later. False, and work dropped, once the
  // service is stopping.
  template <class Work>
  bool Post(Work&& work) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    boost::asio::post(io_, std::forward<Work>(work));
    return true;
  }

  // Remembers item, to be aborted at shutdown while it is still alive.
  void Track(const std::weak_ptr<Abortable>& item);

  // Refuses every later Post, aborts every live item on the connection thread with
  // code, and lets the io_context run out of work. Called once, by the service.
  void BeginShutdown(int code);

  bool IsStopping() const;

  // Sets who hears of every reply's progress (null: nobody).
  void SetReplyObserver(HttpReplyObserver observer);
  // Tells the observer, if any. Runs on the connection thread.
  void ReportReply(const HttpReplyProgress& progress);

  // The open-connection slots, connection thread only. TakeSlot takes one and answers
  // true when fewer than max_open_connections are taken; otherwise it queues waiter
  // (first come, first served) and answers false. ReleaseSlot gives one back: it goes
  // to the first waiter that takes it, else back to the free ones. Withdraw takes
  // waiter out of the queue (it ended while waiting). AdmitWaiters hands free slots to
  // waiters (after the cap was raised).
  bool TakeSlot(Waiter* waiter, std::weak_ptr<Waiter> handle);
  void ReleaseSlot();
  void Withdraw(Waiter* waiter);
  void AdmitWaiters();

  // Exchanges open now, and the most open at once since the service started; on any
  // thread.
  size_t OpenSlots() const { return open_slots_.load(std::memory_order_relaxed); }
  size_t PeakOpenSlots() const { return peak_open_slots_.load(std::memory_order_relaxed); }

  boost::asio::io_context& Io() { return io_; }
  HttpResolverTable& ResolverTable() { return resolver_table_; }

  std::atomic<int64_t> stall_timeout_ms{30000};
  std::atomic<uint64_t> max_body_bytes{64ull << 20};
  std::atomic<size_t> read_piece_bytes{256u << 10};
  std::atomic<size_t> max_header_bytes{64u << 10};
  std::atomic<size_t> max_open_connections{64};

 private:
  // Connection thread only. HasFreeSlot: fewer than max_open_connections slots are
  // taken. CountOpened: one more is taken (and the peak kept).
  bool HasFreeSlot() const;
  void CountOpened();

  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_guard_;
  HttpResolverTable resolver_table_;
  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::vector<std::weak_ptr<Abortable>> items_;
  std::mutex observer_mutex_;
  std::shared_ptr<const HttpReplyObserver> observer_;
  // The slots: written on the connection thread only, read anywhere.
  std::atomic<size_t> open_slots_{0};
  std::atomic<size_t> peak_open_slots_{0};
  // The connections waiting for a slot, oldest first. Connection thread only.
  std::deque<std::pair<Waiter*, std::weak_ptr<Waiter>>> waiters_;
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPSERVICECORE_H_
