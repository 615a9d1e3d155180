// The album list and resource list replies, from arbitrary bytes, read through the
// host's XML parser and taken by the list commands of a serving process (role 1) whose
// session holds the seeded blog (fuzz/FuzzSession.h).
//
// Input: one byte, then the reply body. Bit 0 of the byte: resource list (else album
// list); bits 1 and 2: the album asked for (3, 4, 6, or 99 which the session lacks);
// bit 3: the user is "www", whose albums keep their resources.
//
// Checks, for a body the host parses:
//   - the text the reply is cached as (serialized, entities removed) parses again;
//   - album list: the user's list holds the albums it held that the reply names,
//     unchanged and in their order, then the reply's new albums in reply order, each
//     id once; albums the reply does not name are gone, with their index pairs;
//   - resource list: an album the session lacks takes nothing and nothing is sent;
//     otherwise the album is loaded and holds each reply resource once, new ones at
//     the front in the reverse of reply order (for every user but "www" the album's
//     old resources are gone and the index names the album once per resource); no
//     other album changes;
//   - the reply is broadcast once with its notice code, and a forwarding process that
//     decodes the broadcast on the same seeded blog holds the same albums, resources
//     and index, texts as the code page spells them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands/CmdGetAlbumList.h"
#include "commands/CmdGetResourceList.h"
#include "commands/EntityRemoval.h"
#include "commands/XmlReply.h"
#include "framework/ShareSessionCmd.h"
#include "fuzz/FuzzSession.h"
#include "fuzz/FuzzSupport.h"
#include "host/xml/XmlPackageParser.h"
#include "session/BlogShareSessionDecoder.h"

namespace {

using namespace Velmora::ZQBlog;
using namespace Velmora::ZQBlog::fuzzing;

// The commands with their reply hook callable from here.
class AlbumListProbe : public CmdGetAlbumList {
 public:
  using CmdGetAlbumList::OnReplyPackage;
};
class ResourceListProbe : public CmdGetResourceList {
 public:
  using CmdGetResourceList::OnReplyPackage;
};

template <class Probe>
CComPtr<CComObject<ShareSessionCmd<Probe>>> MakeCommand(const std::wstring& uin) {
  CComObject<ShareSessionCmd<Probe>>* made = nullptr;
  ZQ_FUZZ_CHECK(SUCCEEDED(CreateTypedShareSessionCmd<Probe>(&made)));
  CComPtr<CComObject<ShareSessionCmd<Probe>>> cmd(made);
  cmd->SetUserId(uin.c_str());
  return cmd;
}

// The reply parsed by the host's parser; null when the host refuses it.
CComPtr<IPackage> Parse(const uint8_t* data, size_t size) {
  CComPtr<IPackageParser> parser;
  ZQ_FUZZ_CHECK(SUCCEEDED(Velmora::ZQHost::CreateXmlPackageParser(&parser)));
  if (FAILED(parser->Parse(data, static_cast<int>(size)))) return CComPtr<IPackage>();
  CComPtr<IPackage> package;
  ZQ_FUZZ_CHECK(SUCCEEDED(parser->GetPackage(&package)) && package);
  return package;
}

// Steps over what follows the id in an album or a resource record.
struct AlbumSkip {
  static void SkipAfterId(RecordReader* reader) {
    std::string text;
    int32_t value = 0;
    const int kLimit = BlogShareSessionDecoder_::kTextLimit;
    ZQ_FUZZ_CHECK(reader->ReadString(&text, kLimit) && reader->ReadInt(&value) &&
                  reader->ReadInt(&value) && reader->ReadString(&text, kLimit) &&
                  reader->ReadString(&text, kLimit) && reader->ReadString(&text, kLimit));
    int32_t tags = 0;
    ZQ_FUZZ_CHECK(reader->ReadInt(&tags));
    for (int i = 0; i < AlbumInfo::TagsInUse(tags); ++i) {
      ZQ_FUZZ_CHECK(reader->ReadString(&text, kLimit));
    }
  }
};
struct ResourceSkip {
  static void SkipAfterId(RecordReader* reader) {
    std::string text;
    int32_t value = 0;
    const int kLimit = BlogShareSessionDecoder_::kTextLimit;
    for (int i = 0; i < 10; ++i) ZQ_FUZZ_CHECK(reader->ReadString(&text, kLimit));
    ZQ_FUZZ_CHECK(reader->ReadInt(&value) && reader->ReadInt(&value) &&
                  reader->ReadInt(&value) && reader->ReadString(&text, kLimit));
  }
};

// The ids of the albums or resources a change record carries, in its order; the
// record must be read whole.
std::vector<int> ChangeIds(const std::vector<BYTE>& payload, bool resources) {
  std::vector<int> ids;
  RecordReader reader(payload.data(), payload.size());
  std::string uin;
  int32_t value = 0;
  const int kLimit = BlogShareSessionDecoder_::kTextLimit;
  ZQ_FUZZ_CHECK(reader.ReadString(&uin, kLimit));
  if (resources) ZQ_FUZZ_CHECK(reader.ReadInt(&value));
  int32_t count = 0;
  ZQ_FUZZ_CHECK(reader.ReadInt(&count) && count >= 0);
  for (int32_t i = 0; i < count; ++i) {
    int32_t id = 0;
    ZQ_FUZZ_CHECK(reader.ReadInt(&id));
    ids.push_back(id);
    if (resources) {
      ResourceSkip::SkipAfterId(&reader);
    } else {
      AlbumSkip::SkipAfterId(&reader);
    }
  }
  ZQ_FUZZ_CHECK(reader.remaining() == 0);
  return ids;
}

// ids without repeats, in the order of their first appearance.
std::vector<int> FirstAppearances(const std::vector<int>& ids) {
  std::vector<int> unique;
  std::set<int> seen;
  for (int id : ids) {
    if (seen.insert(id).second) unique.push_back(id);
  }
  return unique;
}

int IdOf(const std::vector<uint8_t>& record) {
  ZQ_FUZZ_CHECK(record.size() >= 4);
  return static_cast<int>(record[0] | (record[1] << 8) | (record[2] << 16) |
                          (static_cast<uint32_t>(record[3]) << 24));
}

void CheckAlbumList(const SessionImage& before, const SessionImage& after,
                    const std::vector<int>& replyIds) {
  const std::vector<int> named = FirstAppearances(replyIds);
  const std::set<int> namedSet(named.begin(), named.end());
  std::vector<int> expected;
  std::map<int, const AlbumImage*> kept;
  for (const AlbumImage& album : before.albums) {
    if (namedSet.count(IdOf(album.fields)) != 0) {
      expected.push_back(IdOf(album.fields));
      kept[IdOf(album.fields)] = &album;
    }
  }
  for (int id : named) {
    if (kept.count(id) == 0) expected.push_back(id);
  }
  ZQ_FUZZ_CHECK(after.albums.size() == expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ZQ_FUZZ_CHECK(IdOf(after.albums[i].fields) == expected[i]);
    auto old = kept.find(expected[i]);
    if (old != kept.end()) ZQ_FUZZ_CHECK(after.albums[i] == *old->second);
  }
  std::vector<std::pair<std::wstring, int>> pairs;
  for (const auto& pair : before.cids) {
    if (namedSet.count(pair.second) != 0) pairs.push_back(pair);
  }
  ZQ_FUZZ_CHECK(after.cids == pairs);
}

void CheckResourceList(const SessionImage& before, const SessionImage& after, int albumId,
                       bool keeping, const std::vector<int>& replyIds) {
  ZQ_FUZZ_CHECK(after.albums.size() == before.albums.size());
  for (size_t i = 0; i < after.albums.size(); ++i) {
    const AlbumImage& was = before.albums[i];
    const AlbumImage& is = after.albums[i];
    if (IdOf(was.fields) != albumId) {
      ZQ_FUZZ_CHECK(is == was);
      continue;
    }
    ZQ_FUZZ_CHECK(is.fields == was.fields && is.loaded);
    std::vector<int> held;
    if (keeping) {
      for (const auto& resource : was.resources) held.push_back(IdOf(resource));
    }
    for (int id : FirstAppearances(replyIds)) {
      if (std::find(held.begin(), held.end(), id) == held.end()) held.insert(held.begin(), id);
    }
    ZQ_FUZZ_CHECK(is.resources.size() == held.size());
    for (size_t j = 0; j < held.size(); ++j) ZQ_FUZZ_CHECK(IdOf(is.resources[j]) == held[j]);
    size_t pairs = 0;
    for (const auto& pair : after.cids) pairs += pair.second == albumId;
    size_t pairsBefore = 0;
    for (const auto& pair : before.cids) pairsBefore += pair.second == albumId;
    ZQ_FUZZ_CHECK(pairs == (keeping ? pairsBefore : held.size()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool resources = (data[0] & 1) != 0;
  static const int kAlbums[] = {3, 4, 6, 99};
  const int albumId = kAlbums[(data[0] >> 1) & 3];
  const bool keeping = (data[0] & 8) != 0;
  const std::wstring uin = keeping ? L"www" : kUin;

  CComPtr<IPackage> package = Parse(data + 1, size - 1);
  if (!package) return 0;
  // What is cached parses again: the 304 answer replays it.
  std::string cached;
  if (SerializeXmlReply(XmlDocumentOf(package), 1u << 23, &cached)) {
    RemoveReplyEntities(&cached);
    ZQ_FUZZ_CHECK(Parse(reinterpret_cast<const uint8_t*>(cached.data()), cached.size()));
  }

  FakePlatform* platform = ProcessPlatform(BaseBlogCmd::kRoleServe);
  BlogSession_* serving = BlogSession_::Instance();
  SeedSession(serving, uin);
  const SessionImage before = ImageOf(serving, uin);
  HRESULT hr = E_FAIL;
  try {
    if (resources) {
      auto cmd = MakeCommand<ResourceListProbe>(uin);
      cmd->SetAlbumId(albumId);
      hr = cmd->OnReplyPackage(package);
    } else {
      hr = MakeCommand<AlbumListProbe>(uin)->OnReplyPackage(package);
    }
  } catch (const ConversionError&) {
    return 0;
  }
  const SessionImage after = ImageOf(serving, uin);
  FakeServer* server = platform->manager->server;
  if (FAILED(hr)) {
    // Too long to cache: nothing is taken.
    ZQ_FUZZ_CHECK(server->published.empty() && after == before);
    return 0;
  }
  if (resources && albumId == 99) {
    ZQ_FUZZ_CHECK(server->published.empty() && after == before);
    return 0;
  }
  ZQ_FUZZ_CHECK(server->published.size() == 1 && server->notices.size() == 1);
  ZQ_FUZZ_CHECK(server->notices[0].type ==
                (resources ? kNoticeResourceList : kNoticeAlbumList));
  const std::vector<int> replyIds = ChangeIds(server->published[0], resources);
  if (resources) {
    CheckResourceList(before, after, albumId, keeping, replyIds);
  } else {
    CheckAlbumList(before, after, replyIds);
  }

  std::unique_ptr<FuzzSession> forwarding(new FuzzSession);
  SeedSession(forwarding.get(), uin);
  platform->manager->channel->broadcast = server->published[0];
  FuzzDecoder decoder(forwarding.get());
  bool decoded = false;
  try {
    decoded = decoder.DecodeMessage(resources ? kNoticeResourceList : kNoticeAlbumList, 0, 0);
  } catch (const ConversionError&) {
    Violation("a broadcast the serving process wrote cannot be read back");
  }
  ZQ_FUZZ_CHECK(decoded);
  CheckSameImage(after, ImageOf(forwarding.get(), uin),
                 "the forwarding process holds otherwise than the serving one");
  return 0;
}
