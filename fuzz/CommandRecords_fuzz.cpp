// The share-session records of every command: the operation record a serving process
// reads from another process's message (ReadRequestRecord) and the result record a
// forwarding process reads from the answer (ReadResultRecord), from arbitrary bytes.
//
// Input: one byte choosing the command (its value modulo 13) and the record (bit 7:
// result, else operation), then the record.
//
// A record that reads is written back by the command that read it, and must be:
//   - written whole into the size the command announces, and refused by a buffer one
//     byte shorter;
//   - a fixed point: a fresh command reads the written bytes and writes exactly them
//     again, so what one process sends another reads as it was meant.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

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
#include "fuzz/FuzzSupport.h"

namespace {

using namespace Velmora::ZQBlog;
using namespace Velmora::ZQBlog::fuzzing;

template <class Cmd>
CComPtr<CComObject<ShareSessionCmd<Cmd>>> MakeCommand() {
  CComObject<ShareSessionCmd<Cmd>>* made = nullptr;
  if (FAILED(CreateTypedShareSessionCmd<Cmd>(&made)) || made == nullptr) {
    Violation("a command cannot be made");
  }
  return CComPtr<CComObject<ShareSessionCmd<Cmd>>>(made);
}

// The operation record read from bytes by a fresh command and written back; false
// when it does not read (or a text cannot be converted).
template <class Cmd>
bool RewriteRequest(const std::vector<BYTE>& bytes, std::vector<BYTE>* written) {
  auto cmd = MakeCommand<Cmd>();
  CComPtr<FakeMessage> in(new FakeMessage);
  in->payload = bytes;
  try {
    if (!cmd->ReadRequestRecord(in)) return false;
    const int size = cmd->GetRequestRecordSize();
    ZQ_FUZZ_CHECK(size >= 0);
    if (size > 0) {
      CComPtr<FakeMessage> shorter(new FakeMessage);
      shorter->SetPayloadSize(size - 1);
      ZQ_FUZZ_CHECK(!cmd->WriteRequestRecord(shorter));
    }
    CComPtr<FakeMessage> out(new FakeMessage);
    out->SetPayloadSize(size);
    ZQ_FUZZ_CHECK(cmd->WriteRequestRecord(out));
    *written = out->payload;
  } catch (const ConversionError&) {
    return false;
  }
  return true;
}

template <class Cmd>
bool RewriteResult(const std::vector<BYTE>& bytes, std::vector<BYTE>* written) {
  auto cmd = MakeCommand<Cmd>();
  try {
    if (!cmd->ReadResultRecord(bytes.data(), static_cast<int>(bytes.size()))) return false;
    const int size = cmd->GetResultRecordSize();
    ZQ_FUZZ_CHECK(size >= 0);
    std::vector<BYTE> out(static_cast<size_t>(size) + 1, 0);
    if (size > 0) ZQ_FUZZ_CHECK(!cmd->WriteResultRecord(out.data(), size - 1));
    ZQ_FUZZ_CHECK(cmd->WriteResultRecord(out.data(), size));
    out.resize(static_cast<size_t>(size));
    *written = out;
  } catch (const ConversionError&) {
    return false;
  }
  return true;
}

template <class Cmd>
void RoundTrip(bool result, const std::vector<BYTE>& bytes) {
  auto rewrite = result ? &RewriteResult<Cmd> : &RewriteRequest<Cmd>;
  std::vector<BYTE> canonical;
  if (!rewrite(bytes, &canonical)) return;
  std::vector<BYTE> again;
  ZQ_FUZZ_CHECK(rewrite(canonical, &again));
  ZQ_FUZZ_CHECK(again == canonical);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool result = (data[0] & 0x80) != 0;
  const std::vector<BYTE> record(data + 1, data + size);
  switch ((data[0] & 0x7F) % 13) {
    case 0: RoundTrip<CmdRefreshBlogServerInfo>(result, record); break;
    case 1: RoundTrip<CmdGetCidDat>(result, record); break;
    case 2: RoundTrip<CmdGetAlbumList>(result, record); break;
    case 3: RoundTrip<CmdGetResourceList>(result, record); break;
    case 4: RoundTrip<CmdRefreshResComment>(result, record); break;
    case 5: RoundTrip<CmdCreateAlbum>(result, record); break;
    case 6: RoundTrip<CmdModifyAlbum>(result, record); break;
    case 7: RoundTrip<CmdRemoveAlbum>(result, record); break;
    case 8: RoundTrip<CmdModifyResource>(result, record); break;
    case 9: RoundTrip<CmdBatchCollect>(result, record); break;
    case 10: RoundTrip<CmdBatchRemove>(result, record); break;
    case 11: RoundTrip<CmdCopyResource>(result, record); break;
    case 12: RoundTrip<CmdMoveResource>(result, record); break;
  }
  return 0;
}
