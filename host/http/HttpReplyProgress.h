// HttpReplyProgress: what one reply of the host's HTTP service has brought so far, as
// the service tells an observer of every reply (HttpConnectionService::
// SetReplyObserver): once when its header has arrived, after each piece of its body,
// and once when it is complete.
#ifndef ZQBLOG_HOST_HTTP_HTTPREPLYPROGRESS_H_
#define ZQBLOG_HOST_HTTP_HTTPREPLYPROGRESS_H_

#include <cstdint>
#include <functional>

namespace Velmora {
namespace ZQHost {

struct HttpReplyProgress {
  const void* exchange = nullptr;  // the same for every report of one reply
  int status = 0;                  // the status code of the reply's status line
  int64_t content_length = -1;     // the declared length of the body; -1 when none
  uint64_t received = 0;           // body bytes received so far
  bool complete = false;           // the whole reply has arrived
};

// Called on the service's connection thread; must not block.
typedef std::function<void(const HttpReplyProgress&)> HttpReplyObserver;

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_HTTP_HTTPREPLYPROGRESS_H_
