// CmdCopyResource ("CopyResource", operation 11, notice code 8): copies resources, named
// by their ids, from a source album of the user into a target album; the server gives
// every copy a new id. Everything but the values below is BaseResourceTransferCmd's.
#ifndef ZQBLOG_COMMANDS_CMDCOPYRESOURCE_H_
#define ZQBLOG_COMMANDS_CMDCOPYRESOURCE_H_

#include "commands/BaseResourceTransferCmd.h"

namespace Velmora {
namespace ZQBlog {

class CmdCopyResource : public BaseResourceTransferCmd {
 public:
  static const Traits kTraits;
  static constexpr int kReplyValueBufferSize = 4096;

 protected:
  CmdCopyResource();
  ~CmdCopyResource() override;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDCOPYRESOURCE_H_
