#include "commands/CmdCopyResource.h"

#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"

namespace Velmora {
namespace ZQBlog {

const BaseResourceBatchCmd::Traits CmdCopyResource::kTraits = {
    "CopyResource", kEndpointMoveResource, kOpCopyResource, kNoticeCopyResource,
    kReplyValueBufferSize};

CmdCopyResource::CmdCopyResource() : BaseResourceTransferCmd(kTraits, kTransferCopy) {}

CmdCopyResource::~CmdCopyResource() = default;

}  // namespace ZQBlog
}  // namespace Velmora
