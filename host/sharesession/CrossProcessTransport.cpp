#include "host/sharesession/CrossProcessTransport.h"

#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zmq.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "common/Folders.h"
#include "host/sharesession/CrossProcessForwardingSide.h"
#include "host/sharesession/CrossProcessServingSide.h"
#include "host/sharesession/ShareSessionEndpoint.h"
#include "host/sharesession/ShareSessionLock.h"

namespace Velmora {
namespace ZQHost {

namespace {

// The longest wait of the I/O thread between two looks at its timers.
constexpr int kTickMilliseconds = 50;
// Messages taken from the socket in one go before the timers get a look.
constexpr int kReceiveBatch = 256;
// How long a leaving forwarding process gives its goodbye to get out.
constexpr int kByeLingerMilliseconds = 100;
// ZeroMQ refuses (and disconnects) a peer whose message part is larger than this; up to
// it, an oversized frame reaches the codec and is reported like any bad frame.
constexpr int64_t kSocketMessageLimit = 2 * static_cast<int64_t>(kShareSessionFrameMaxSize);

void WriteLine(const std::string& text) {
  const std::string line = "zqblog host: share session: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

uint64_t NewInstanceId() {
  std::random_device device;
  uint64_t id = (static_cast<uint64_t>(device()) << 32) ^ device();
  id ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  id ^= static_cast<uint64_t>(getpid()) << 16;
  return id != 0 ? id : 1;
}

// One received message part.
class Part {
 public:
  Part() { zmq_msg_init(&message_); }
  ~Part() { zmq_msg_close(&message_); }
  Part(const Part&) = delete;
  Part& operator=(const Part&) = delete;
  zmq_msg_t* get() { return &message_; }
  const uint8_t* data() { return static_cast<const uint8_t*>(zmq_msg_data(&message_)); }
  size_t size() { return zmq_msg_size(&message_); }

 private:
  zmq_msg_t message_;
};

class ZmqTransport final : public CrossProcessTransport, private CrossProcessWire {
 public:
  ZmqTransport(Options options, ShareSessionEndpoint endpoint)
      : options_(std::move(options)),
        endpoint_(std::move(endpoint)),
        serving_(options_.side == Side::kServe),
        instance_(NewInstanceId()),
        local_(CreateInProcessShareSessionTransport()) {
    CrossProcessWire* wire = this;
    if (serving_) {
      side_ = std::make_unique<CrossProcessServingSide>(wire, instance_);
    } else {
      side_ = std::make_unique<CrossProcessForwardingSide>(wire, instance_, options_.module,
                                                           endpoint_.lock_path);
    }
  }

  ~ZmqTransport() override { Stop(); }

  // Takes the lock and binds (serving), or connects (forwarding).
  bool Open(std::string* error) {
    if (!Common::MakeFolders(endpoint_.folder)) {
      *error = "cannot create " + endpoint_.folder + ": " + std::strerror(errno);
      return false;
    }
    if (serving_) {
      switch (lock_.Acquire(endpoint_.lock_path, error)) {
        case ShareSessionLock::Outcome::kAcquired:
          break;
        case ShareSessionLock::Outcome::kHeldElsewhere: {
          std::string data = options_.data_root;
          while (data.size() > 1 && data.back() == '/') data.pop_back();
          *error = "another process already serves the share session of " + options_.user +
                   " in " + data;
          return false;
        }
        case ShareSessionLock::Outcome::kFailed:
          return false;
      }
    }
    context_ = zmq_ctx_new();
    if (context_ == nullptr) return SocketError("cannot start ZeroMQ", error);
    socket_ = zmq_socket(context_, serving_ ? ZMQ_ROUTER : ZMQ_DEALER);
    if (socket_ == nullptr) return SocketError("cannot make a socket", error);
    const int zero = 0;
    const int one = 1;
    zmq_setsockopt(socket_, ZMQ_LINGER, &zero, sizeof(zero));
    zmq_setsockopt(socket_, ZMQ_SNDHWM, &zero, sizeof(zero));  // no limit: nothing is lost
    zmq_setsockopt(socket_, ZMQ_RCVHWM, &zero, sizeof(zero));
    zmq_setsockopt(socket_, ZMQ_MAXMSGSIZE, &kSocketMessageLimit, sizeof(kSocketMessageLimit));
    const std::string address = endpoint_.Address();
    if (serving_) {
      // Sends to a peer that is gone fail instead of vanishing.
      zmq_setsockopt(socket_, ZMQ_ROUTER_MANDATORY, &one, sizeof(one));
      // The lock is ours: a socket file left there is from a serving process that died.
      unlink(endpoint_.socket_path.c_str());
      if (zmq_bind(socket_, address.c_str()) != 0) {
        return SocketError("cannot listen on " + endpoint_.socket_path, error);
      }
    } else {
      // Sends fail while no connection is up, instead of waiting for one.
      zmq_setsockopt(socket_, ZMQ_IMMEDIATE, &one, sizeof(one));
      const int reconnect = 50;
      zmq_setsockopt(socket_, ZMQ_RECONNECT_IVL, &reconnect, sizeof(reconnect));
      if (zmq_connect(socket_, address.c_str()) != 0) {
        return SocketError("cannot connect to " + endpoint_.socket_path, error);
      }
    }
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) return SocketError("cannot make an event descriptor", error);
    return true;
  }

  // ShareSessionTransport

  void Start(Receiver receiver, ShareSessionRouter* session) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || stopping_) return;
    started_ = true;
    router_ = session;
    local_->Start(std::move(receiver), session);
    side_->Attach();
    io_ = std::thread([this] { Run(); });
  }

  bool Post(ShareSessionEvent event) override { return local_->Post(std::move(event)); }

  void Carry(int to, ShareSessionEvent event) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!started_ || stopping_) return;
      outgoing_.push_back(Carried{to, std::move(event)});
    }
    Wake();
  }

  void WaitIdle() override { local_->WaitIdle(); }

  void Stop() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_) return;
      stopped_ = true;
      stopping_ = true;
    }
    Wake();
    if (io_.joinable()) io_.join();
    local_->Stop();
    if (socket_ != nullptr) {
      if (!serving_) {
        zmq_setsockopt(socket_, ZMQ_LINGER, &kByeLingerMilliseconds,
                       sizeof(kByeLingerMilliseconds));
      }
      zmq_close(socket_);
      socket_ = nullptr;
    }
    if (context_ != nullptr) {
      zmq_ctx_term(context_);
      context_ = nullptr;
    }
    if (wake_fd_ >= 0) {
      close(wake_fd_);
      wake_fd_ = -1;
    }
    lock_.Release();  // after the socket: the next serving process binds a fresh one
  }

  bool OnDeliveryThread() const override { return local_->OnDeliveryThread(); }

  // CrossProcessTransport

  uint64_t LostOperations() const override { return side_->LostOperations(); }
  int JoinedPeers() const override { return side_->JoinedPeers(); }

 private:
  struct Carried {
    int to;
    ShareSessionEvent event;
  };

  // CrossProcessWire, on the I/O thread

  SendResult Send(const std::string& peer, const ShareSessionFrame& frame) override {
    const std::vector<uint8_t> bytes = EncodeShareSessionFrame(frame);
    if (bytes.empty()) return SendResult::kTooLarge;
    if (serving_ && zmq_send(socket_, peer.data(), peer.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) < 0) {
      return SendResult::kUnreachable;
    }
    if (zmq_send(socket_, bytes.data(), bytes.size(), ZMQ_DONTWAIT) < 0) {
      return SendResult::kUnreachable;
    }
    return SendResult::kSent;
  }

  ShareSessionRouter* Router() override { return router_; }

  void Log(const std::string& text) override { WriteLine(text); }

  // The I/O thread.

  void Run() {
    for (;;) {
      zmq_pollitem_t items[2] = {{socket_, 0, ZMQ_POLLIN, 0}, {nullptr, wake_fd_, ZMQ_POLLIN, 0}};
      zmq_poll(items, 2, kTickMilliseconds);
      if ((items[1].revents & ZMQ_POLLIN) != 0) {
        uint64_t count = 0;
        ssize_t got = read(wake_fd_, &count, sizeof(count));
        (void)got;
      }
      std::deque<Carried> carried;
      bool stopping = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        carried.swap(outgoing_);
        stopping = stopping_;
      }
      for (Carried& item : carried) {
        side_->OnCarry(item.to, std::move(item.event), CrossProcessClock::now());
      }
      if (stopping) {
        side_->OnStop();
        return;
      }
      Receive();
      side_->OnTick(CrossProcessClock::now());
    }
  }

  void Receive() {
    const char* from = serving_ ? "a forwarding process" : "the serving process";
    const size_t expected = serving_ ? 2 : 1;  // [routing id] frame
    for (int taken = 0; taken < kReceiveBatch; ++taken) {
      std::vector<std::unique_ptr<Part>> parts;
      size_t count = 0;
      bool more = false;
      do {
        auto part = std::make_unique<Part>();
        // The rest of a message is there once its first part is.
        if (zmq_msg_recv(part->get(), socket_, count == 0 ? ZMQ_DONTWAIT : 0) < 0) {
          if (count == 0) return;  // nothing left
          break;
        }
        ++count;
        more = zmq_msg_more(part->get()) != 0;
        if (parts.size() < expected) parts.push_back(std::move(part));
      } while (more);
      if (count != expected) {
        WriteLine("dropped a message of " + std::to_string(count - (expected - 1)) +
                  " parts from " + from + " (one frame expected)");
        continue;
      }
      Part& body = *parts.back();
      ShareSessionFrame frame;
      std::string problem;
      if (!DecodeShareSessionFrame(body.data(), body.size(), &frame, &problem)) {
        WriteLine("dropped a frame from " + std::string(from) + ": " + problem);
        continue;
      }
      std::string peer;
      if (serving_) {
        peer.assign(reinterpret_cast<const char*>(parts.front()->data()), parts.front()->size());
      }
      side_->OnFrame(peer, frame, CrossProcessClock::now());
    }
  }

  void Wake() {
    if (wake_fd_ < 0) return;
    const uint64_t one = 1;
    ssize_t written = write(wake_fd_, &one, sizeof(one));
    (void)written;
  }

  bool SocketError(const std::string& what, std::string* error) {
    *error = what + ": " + zmq_strerror(zmq_errno());
    return false;
  }

  const Options options_;
  const ShareSessionEndpoint endpoint_;
  const bool serving_;
  const uint64_t instance_;
  std::unique_ptr<ShareSessionTransport> local_;  // the delivery queue and thread
  std::unique_ptr<CrossProcessSide> side_;
  ShareSessionLock lock_;
  void* context_ = nullptr;
  void* socket_ = nullptr;  // the I/O thread's while it runs
  int wake_fd_ = -1;
  ShareSessionRouter* router_ = nullptr;
  std::thread io_;

  std::mutex mutex_;  // guards the fields below
  bool started_ = false;
  bool stopping_ = false;
  bool stopped_ = false;
  std::deque<Carried> outgoing_;
};

}  // namespace

std::unique_ptr<CrossProcessTransport> CrossProcessTransport::Create(const Options& options,
                                                                     std::string* error) {
  ShareSessionEndpoint endpoint;
  if (!ShareSessionEndpoint::Resolve(options.data_root, options.user, &endpoint, error)) {
    return nullptr;
  }
  auto transport = std::make_unique<ZmqTransport>(options, std::move(endpoint));
  if (!transport->Open(error)) return nullptr;
  return transport;
}

bool CrossProcessTransport::IsServed(const std::string& data_root, const std::string& user) {
  ShareSessionEndpoint endpoint;
  std::string error;
  if (!ShareSessionEndpoint::Resolve(data_root, user, &endpoint, &error)) return false;
  return ShareSessionLock::IsHeld(endpoint.lock_path);
}

}  // namespace ZQHost
}  // namespace Velmora
