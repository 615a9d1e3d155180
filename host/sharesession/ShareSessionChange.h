// ShareSessionChange: what one change broadcast of the share session was, as a host
// reports it to its embedder: one per broadcast this process's serving participant
// published, and one per broadcast its forwarding participant received.
#ifndef ZQBLOG_HOST_SHARESESSION_SHARESESSIONCHANGE_H_
#define ZQBLOG_HOST_SHARESESSION_SHARESESSIONCHANGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {
namespace ZQHost {

struct ShareSessionChange {
  int notice = 0;           // the notice code (the broadcast's type)
  std::string uin;          // the payload's first string item, ANSI bytes; "" if unreadable
  size_t payload_size = 0;  // bytes of payload (0 when none was published)
  bool applied = false;     // received: the message sink answered S_OK; published: true
  bool served = false;      // true: this process published it

  // The change of a broadcast with notice (first, type, value1, value2) and payload
  // (null: none).
  static ShareSessionChange Of(const std::vector<uint8_t>* payload, const int notice[4],
                               bool served, bool applied);
};

}  // namespace ZQHost
}  // namespace Velmora

#endif  // ZQBLOG_HOST_SHARESESSION_SHARESESSIONCHANGE_H_
