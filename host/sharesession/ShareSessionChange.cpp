#include "host/sharesession/ShareSessionChange.h"

namespace Velmora {
namespace ZQHost {

namespace {

// A string item longer than this is taken for a broken record.
constexpr uint32_t kMaxUinBytes = 65536;

}  // namespace

ShareSessionChange ShareSessionChange::Of(const std::vector<uint8_t>* payload,
                                          const int notice[4], bool served, bool applied) {
  ShareSessionChange change;
  change.notice = notice[1];
  change.served = served;
  change.applied = applied;
  if (payload == nullptr) return change;
  change.payload_size = payload->size();
  if (payload->size() < 4) return change;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>((*payload)[static_cast<size_t>(i)]) << (8 * i);
  if (length > kMaxUinBytes || length > payload->size() - 4) return change;
  change.uin.assign(payload->begin() + 4, payload->begin() + 4 + length);
  return change;
}

}  // namespace ZQHost
}  // namespace Velmora
