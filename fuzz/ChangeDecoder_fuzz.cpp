// The change decoder of a forwarding process, fed a series of broadcasts with arbitrary
// payloads against a session that holds the seeded blog (fuzz/FuzzSession.h).
//
// Input: up to kMaxMessages messages back to back, each one byte notice code (its value
// modulo 13: the twelve codes and one without a handler), a 16-bit little-endian
// payload length, then the payload (cut short by the end of the input).
//
// After every message:
//   - the decoder has closed the channel read it opened;
//   - no user has an album id twice in the list;
//   - an album that left the session left the content-id index too, and no change but
//     the content-id data adds a pair naming an album the session does not hold;
//   - a message the decoder refuses (false) changed nothing: albums, resources, index
//     and directory records are as before. The one exception is the album removal,
//     which drops the album's pairs before it finds the user's list lacks the album.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "data/RecordText.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/FuzzSupport.h"
#include "session/BlogShareSessionDecoder.h"

namespace {

using namespace Velmora::ZQBlog;
using namespace Velmora::ZQBlog::fuzzing;

// A few changes in a row reach every state the codes build on one another; more only
// slow the run down.
constexpr int kMaxMessages = 8;

struct DirectoryImage {
  bool present = false;
  ServerDirectoryRecord record;
  bool operator==(const DirectoryImage& o) const {
    return present == o.present && (!present || SameDirectory(record, o.record));
  }
};

// Everything a message may change, for every user the run has named.
struct WholeImage {
  std::vector<SessionImage> users;
  std::vector<DirectoryImage> directories;
  bool operator==(const WholeImage& o) const {
    return users == o.users && directories == o.directories;
  }
};

WholeImage ImageOfAll(BlogSession_* session, const std::set<std::wstring>& uins) {
  WholeImage image;
  for (const std::wstring& uin : uins) {
    image.users.push_back(ImageOf(session, uin, ImageForm::kHeld));
    DirectoryImage directory;
    Hold hold(session->ServerLock());
    if (const ServerDirectoryRecord* record = session->FindServerEntry(uin)) {
      directory.present = true;
      directory.record = *record;
    }
    image.directories.push_back(directory);
  }
  return image;
}

// The user a payload names (its first item), when it reads.
void NoteUin(const std::vector<BYTE>& payload, std::set<std::wstring>* uins) {
  RecordReader reader(payload.data(), payload.size());
  std::wstring uin;
  try {
    if (ReadTextItem(&reader, BlogShareSessionDecoder_::kTextLimit, &uin) && !uin.empty()) {
      uins->insert(uin);
    }
  } catch (const ConversionError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FakeChannel* channel = ProcessPlatform(BaseBlogCmd::kRoleForward)->manager->channel;
  std::unique_ptr<FuzzSession> session(new FuzzSession);
  SeedSession(session.get());
  FuzzDecoder decoder(session.get());
  std::set<std::wstring> uins = {kUin};

  size_t at = 0;
  for (int message = 0; message < kMaxMessages && at + 3 <= size; ++message) {
    const int code = data[at] % 13;
    size_t length = static_cast<size_t>(data[at + 1]) | (static_cast<size_t>(data[at + 2]) << 8);
    at += 3;
    if (length > size - at) length = size - at;
    channel->broadcast.assign(data + at, data + at + length);
    at += length;

    NoteUin(channel->broadcast, &uins);
    const WholeImage before = ImageOfAll(session.get(), uins);
    const std::set<int> presentBefore = PresentAlbums(session.get(), uins);
    const std::map<int, size_t> pairsBefore = PairsByAlbum(session.get());

    bool applied = false;
    bool converted = true;
    try {
      applied = decoder.DecodeMessage(code, 0, 0);
    } catch (const ConversionError&) {
      converted = false;
    }
    ZQ_FUZZ_CHECK(!channel->reading());

    CheckNoDuplicateAlbums(session.get(), uins);
    CheckIndexFollowsAlbums(presentBefore, pairsBefore, PresentAlbums(session.get(), uins),
                            PairsByAlbum(session.get()), applied && code == kNoticeCidData);
    if (!applied && converted && code != kNoticeRemoveAlbum) {
      ZQ_FUZZ_CHECK(ImageOfAll(session.get(), uins) == before);
    }
    if (code > kNoticeBatchRemove) ZQ_FUZZ_CHECK(!applied);
  }
  channel->broadcast.clear();
  return 0;
}
