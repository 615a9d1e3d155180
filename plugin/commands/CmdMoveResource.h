// CmdMoveResource ("MoveResource", operation 10, notice code 9): moves resources, named
// by their ids, from a source album of the user into a target album; a moved resource
// keeps its id. Everything but the values below is BaseResourceTransferCmd's.
#ifndef ZQBLOG_COMMANDS_CMDMOVERESOURCE_H_
#define ZQBLOG_COMMANDS_CMDMOVERESOURCE_H_

#include "commands/BaseResourceTransferCmd.h"

namespace Velmora {
namespace ZQBlog {

class CmdMoveResource : public BaseResourceTransferCmd {
 public:
  static const Traits kTraits;
  static constexpr int kReplyValueBufferSize = 8192;

 protected:
  CmdMoveResource();
  ~CmdMoveResource() override;
};

}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_COMMANDS_CMDMOVERESOURCE_H_
