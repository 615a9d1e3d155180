#include "commands/CommandRegistry.h"

#include <exception>

#include "commands/CmdBatchCollect.h"
#include "commands/CmdBatchRemove.h"
#include "commands/CmdCopyResource.h"
#include "commands/CmdCreateAlbum.h"
#include "commands/CmdGetAlbumList.h"
#include "commands/CmdGetCidDat.h"
#include "commands/CmdGetResourceList.h"
#include "commands/CmdModifyAlbum.h"
#include "commands/CmdModifyResource.h"
#include "commands/CmdMoveResource.h"
#include "commands/CmdRefreshBlogServerInfo.h"
#include "commands/CmdRefreshResComment.h"
#include "commands/CmdRemoveAlbum.h"
#include "framework/ShareSessionCmd.h"
#include "framework/ShareSessionCmdParserManager.h"
#include "module/ZQBlogPlugin.h"

namespace Velmora {
namespace ZQBlog {
namespace {

// The thirteen commands, in registration order.
const BlogCommandRegistration kBlogCommands[] = {
    {"BatchCollect", &CreateShareSessionCmd<CmdBatchCollect>},
    {"BatchRemove", &CreateShareSessionCmd<CmdBatchRemove>},
    {"CopyResource", &CreateShareSessionCmd<CmdCopyResource>},
    {"CreateAlbum", &CreateShareSessionCmd<CmdCreateAlbum>},
    {"GetAlbumList", &CreateShareSessionCmd<CmdGetAlbumList>},
    {"GetCidDat", &CreateShareSessionCmd<CmdGetCidDat>},
    {"GetResourceList", &CreateShareSessionCmd<CmdGetResourceList>},
    {"ModifyAlbum", &CreateShareSessionCmd<CmdModifyAlbum>},
    {"ModifyResource", &CreateShareSessionCmd<CmdModifyResource>},
    {"MoveResource", &CreateShareSessionCmd<CmdMoveResource>},
    {"RefreshBlogServerInfo", &CreateShareSessionCmd<CmdRefreshBlogServerInfo>},
    {"RefreshResComment", &CreateShareSessionCmd<CmdRefreshResComment>},
    {"RemoveAlbum", &CreateShareSessionCmd<CmdRemoveAlbum>},
};

}  // namespace

const BlogCommandRegistration* BlogCommandTable(size_t* count) {
  *count = sizeof(kBlogCommands) / sizeof(kBlogCommands[0]);
  return kBlogCommands;
}

bool RegisterBlogCommands() {
  try {
    for (const BlogCommandRegistration& row : kBlogCommands) {
      ShareSessionCmdParserManager_* manager = ShareSessionCmdParserManager_::Instance();
      if (manager == nullptr) return false;
      manager->GetParser(kModuleName)->Register(row.name, row.factory);
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace ZQBlog
}  // namespace Velmora
