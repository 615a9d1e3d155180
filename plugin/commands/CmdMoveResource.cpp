#include "commands/CmdMoveResource.h"

#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"

namespace Velmora {
namespace ZQBlog {

const BaseResourceBatchCmd::Traits CmdMoveResource::kTraits = {
    "MoveResource", kEndpointMoveResource, kOpMoveResource, kNoticeMoveResource,
    kReplyValueBufferSize};

CmdMoveResource::CmdMoveResource() : BaseResourceTransferCmd(kTraits, kTransferMove) {}

CmdMoveResource::~CmdMoveResource() = default;

}  // namespace ZQBlog
}  // namespace Velmora
