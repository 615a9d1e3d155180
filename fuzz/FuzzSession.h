// Blog sessions for the fuzz targets: a session and a change decoder of the target's
// own (the library's are process-wide), the seeded blog every target starts from, an
// image of what a session holds for comparing two of them, and the session's
// invariants.
//
// The seeded blog (of user kUin, "10001", unless a target seeds it for another user):
//   album 3  loaded      resources 5, 7, 9     (content ids C5, C7, C9)
//   album 4  loaded      resources 11, 12      (C11, and C9 again)
//   album 6  not loaded  no resources
// and the content-id index (C5,3) (C7,3) (C9,3) (C11,4) (C9,4) (C8,6). Content ids
// C5 and C9 are 40 hexadecimal digits, the others short texts, so both kinds of index
// key are held from the start.
#ifndef ZQBLOG_FUZZ_FUZZSESSION_H_
#define ZQBLOG_FUZZ_FUZZSESSION_H_

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/ResourceInfo.h"
#include "fuzz/FuzzSupport.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "util/CriticalSection.h"
#include "util/RecordItem.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace fuzzing {


const wchar_t kUin[] = L"10001";
const char kUinAnsi[] = "10001";

// A session of the target's own.
class FuzzSession : public BlogSession_ {
 public:
  FuzzSession() = default;
  ~FuzzSession() override = default;
};

// A decoder that applies to a given session.
class FuzzDecoder : public BlogShareSessionDecoder_ {
 public:
  explicit FuzzDecoder(BlogSession_* session) : BlogShareSessionDecoder_(session) {}
  ~FuzzDecoder() override = default;
};

inline std::wstring SeedCid(int id) {
  // 5 and 9 as 40 hexadecimal digits (the compact keys), the rest as short texts.
  if (id == 5) return std::wstring(38, L'0') + L"A5";
  if (id == 9) return std::wstring(38, L'0') + L"C9";
  return L"C" + std::to_wstring(id);
}

inline void AddSeedResource(AlbumInfo* album, int albumId, int id, const std::wstring& cid,
                            const std::wstring& uin) {
  ResourceInfo* resource = album->NewResource();  // at the front: added in reverse order
  const std::wstring n = std::to_wstring(id);
  resource->SetId(id);
  resource->SetCid(cid.c_str());
  resource->SetGcid((L"G" + n).c_str());
  resource->SetResName((L"name " + n).c_str());
  resource->SetFormat(L"mp4");
  resource->SetSize(L"1024");
  resource->SetLastTime(L"2026-12-01 10:00:00");
  resource->SetUrl((L"http://dl.velmora.cn/u" + n).c_str());
  resource->SetOriginal((L"orig " + n).c_str());
  resource->SetRefer(L"");
  resource->SetDesc((L"desc " + n).c_str());
  resource->SetResType(1);
  resource->SetState(id % 3);
  resource->SetCategoryId(albumId);
  resource->SetUin(uin.c_str());
}

// Empties session and fills it with the seeded blog, as user uin's (kUin unless a
// target needs another); that user is signed in.
inline void SeedSession(BlogSession_* session, const std::wstring& uin = kUin) {
  session->ClearAll();
  session->SetCurrentUin(uin);
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->GetOrCreateAlbumList(uin);
  AlbumInfo* first = list->NewAlbum();
  first->SetId(3);
  first->SetCategoryName(L"source");
  first->SetTagNum(1);
  first->SetTag(0, L"tag");
  AddSeedResource(first, 3, 9, SeedCid(9), uin);
  AddSeedResource(first, 3, 7, SeedCid(7), uin);
  AddSeedResource(first, 3, 5, SeedCid(5), uin);
  first->SetResourcesLoaded(true);
  AlbumInfo* second = list->NewAlbum();
  second->SetId(4);
  second->SetCategoryName(L"target");
  AddSeedResource(second, 4, 12, SeedCid(9), uin);
  AddSeedResource(second, 4, 11, SeedCid(11), uin);
  second->SetResourcesLoaded(true);
  AlbumInfo* third = list->NewAlbum();
  third->SetId(6);
  third->SetCategoryName(L"unfetched");
  session->AddCidPair(SeedCid(5), 3);
  session->AddCidPair(SeedCid(7), 3);
  session->AddCidPair(SeedCid(9), 3);
  session->AddCidPair(SeedCid(11), 4);
  session->AddCidPair(SeedCid(9), 4);
  session->AddCidPair(L"C8", 6);
}

// The record bytes of an album or a resource: what every process of a share session
// must agree on. Texts the code page cannot carry make the image "<unconvertible>".
template <class T>
std::vector<uint8_t> RecordImage(const T& object) {
  try {
    std::vector<uint8_t> bytes(static_cast<size_t>(object.RecordSize()));
    RecordWriter writer(bytes.data(), bytes.size());
    if (!object.WriteRecord(writer) || writer.written() != bytes.size()) {
      Violation("a record does not fill the size it announced");
    }
    return bytes;
  } catch (const ConversionError&) {
    const char kMark[] = "<unconvertible>";
    return std::vector<uint8_t>(kMark, kMark + sizeof kMark - 1);
  }
}

// Appends the bytes of an int, or of a text with its length in front.
inline void PutInt(std::vector<uint8_t>* out, int64_t value) {
  for (int i = 0; i < 8; ++i) {
    out->push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
  }
}
inline void PutBytes(std::vector<uint8_t>* out, const void* data, size_t size) {
  PutInt(out, static_cast<int64_t>(size));
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}
inline void PutText(std::vector<uint8_t>* out, BSTR text) {
  PutBytes(out, text, text == nullptr ? 0 : SysStringLen(text) * sizeof(wchar_t));
  SysFreeString(text);
}

// What an album or a resource holds, field by field as it is kept (no conversion): for
// telling whether a change touched it.
inline std::vector<uint8_t> HeldImage(IZQAlbumInfo* album) {
  std::vector<uint8_t> out;
  const auto number = [&out](HRESULT (STDMETHODCALLTYPE IZQAlbumInfo::*get)(int*),
                             IZQAlbumInfo* from) {
    int value = 0;
    (from->*get)(&value);
    PutInt(&out, value);
  };
  const auto text = [&out](HRESULT (STDMETHODCALLTYPE IZQAlbumInfo::*get)(BSTR*),
                           IZQAlbumInfo* from) {
    BSTR value = nullptr;
    (from->*get)(&value);
    PutText(&out, value);
  };
  number(&IZQAlbumInfo::GetId, album);
  number(&IZQAlbumInfo::GetShowStatus, album);
  number(&IZQAlbumInfo::GetCategoryType, album);
  number(&IZQAlbumInfo::GetTagNum, album);
  number(&IZQAlbumInfo::GetNewlyAddedResNum, album);
  text(&IZQAlbumInfo::GetCategoryName, album);
  text(&IZQAlbumInfo::GetDesc, album);
  text(&IZQAlbumInfo::GetLastTime, album);
  text(&IZQAlbumInfo::GetPicUrl, album);
  for (int i = 0; i < AlbumInfo::kTagSlots; ++i) {
    BSTR tag = nullptr;
    album->GetTag(i, &tag);
    PutText(&out, tag);
  }
  return out;
}
inline std::vector<uint8_t> HeldImage(const ResourceInfo& resource) {
  std::vector<uint8_t> out;
  ResourceInfo& r = const_cast<ResourceInfo&>(resource);  // the getters are not const
  int number = 0;
  r.GetId(&number);
  PutInt(&out, number);
  r.GetResType(&number);
  PutInt(&out, number);
  r.GetState(&number);
  PutInt(&out, number);
  r.GetCategoryId(&number);
  PutInt(&out, number);
  typedef ResourceInfo::TextField Field;
  for (size_t i = 0; i < static_cast<size_t>(Field::kCount); ++i) {
    std::string_view bytes;
    UINT codePage = 0;
    if (resource.TextBytes(static_cast<Field>(i), &bytes, &codePage)) {
      PutInt(&out, codePage);
      PutBytes(&out, bytes.data(), bytes.size());
    } else {
      const std::wstring wide = resource.Text(static_cast<Field>(i));
      PutInt(&out, -1);
      PutBytes(&out, wide.data(), wide.size() * sizeof(wchar_t));
    }
  }
  return out;
}

struct AlbumImage {
  std::vector<uint8_t> fields;
  int newlyAdded = 0;
  bool loaded = false;
  std::vector<std::vector<uint8_t>> resources;  // in album order
  bool operator==(const AlbumImage& o) const {
    return fields == o.fields && newlyAdded == o.newlyAdded && loaded == o.loaded &&
           resources == o.resources;
  }
};

// What a session holds for one user, and its whole content-id index.
struct SessionImage {
  bool hasList = false;
  std::vector<AlbumImage> albums;  // in list order
  std::vector<std::pair<std::wstring, int>> cids;
  bool operator==(const SessionImage& o) const {
    return hasList == o.hasList && albums == o.albums && cids == o.cids;
  }
  bool operator!=(const SessionImage& o) const { return !(*this == o); }
};

// How ImageOf renders albums, resources and index keys: as their records (what two
// processes must agree on, texts as the code page spells them) or as held (cheaper, for
// "did it change").
enum class ImageForm { kRecord, kHeld };

inline SessionImage ImageOf(BlogSession_* session, const std::wstring& uin,
                            ImageForm form = ImageForm::kRecord) {
  SessionImage image;
  {
    Hold hold(session->AlbumListLock());
    AlbumListInfo* list = session->FindAlbumList(uin);
    image.hasList = list != nullptr;
    int count = 0;
    if (list != nullptr) list->GetAlbumCount(&count);
    for (int i = 0; i < count; ++i) {
      CComPtr<IZQAlbumInfo> held;
      if (FAILED(list->GetAlbum(i, &held)) || !held) Violation("a listed album cannot be had");
      const AlbumInfo* album = static_cast<AlbumInfo*>(held.p);  // lists hold AlbumInfo only
      AlbumImage entry;
      entry.fields = form == ImageForm::kRecord ? RecordImage(*album) : HeldImage(held);
      held->GetNewlyAddedResNum(&entry.newlyAdded);
      entry.loaded = album->ResourcesLoaded();
      int resources = 0;
      held->GetResourceCount(&resources);
      for (int j = 0; j < resources; ++j) {
        CComPtr<IZQResInfo> resource;
        if (FAILED(held->GetResource(j, &resource)) || !resource) {
          Violation("a held resource cannot be had");
        }
        const ResourceInfo* own = dynamic_cast<ResourceInfo*>(resource.p);
        if (own == nullptr) Violation("an album holds a resource the plug-in did not make");
        entry.resources.push_back(form == ImageForm::kRecord ? RecordImage(*own)
                                                             : HeldImage(*own));
      }
      image.albums.push_back(std::move(entry));
    }
  }
  session->ForEachCidPair([&image](const std::wstring& cid, int albumId) {
    image.cids.emplace_back(cid, albumId);
  });
  if (form == ImageForm::kRecord) {
    // Keys as the code page spells them, as a broadcast carries them.
    for (auto& pair : image.cids) {
      try {
        pair.first = AnsiToWide(WideToAnsi(pair.first));
      } catch (const ConversionError&) {
      }
    }
    std::stable_sort(image.cids.begin(), image.cids.end(),
                     [](const std::pair<std::wstring, int>& a,
                        const std::pair<std::wstring, int>& b) { return a.first < b.first; });
  }
  return image;
}

inline void PrintBytes(const char* label, const std::vector<uint8_t>& bytes) {
  std::fprintf(stderr, "  %s:", label);
  for (uint8_t b : bytes) std::fprintf(stderr, " %02x", b);
  std::fprintf(stderr, "\n");
}

// Stops the run, saying where two images first differ, unless they are equal.
inline void CheckSameImage(const SessionImage& a, const SessionImage& b, const char* what) {
  if (a == b) return;
  std::fprintf(stderr, "images differ (%s): lists %d/%d, albums %zu/%zu, pairs %zu/%zu\n", what,
               a.hasList, b.hasList, a.albums.size(), b.albums.size(), a.cids.size(),
               b.cids.size());
  for (size_t i = 0; i < a.albums.size() && i < b.albums.size(); ++i) {
    const AlbumImage& x = a.albums[i];
    const AlbumImage& y = b.albums[i];
    if (x == y) continue;
    std::fprintf(stderr, "album %zu: new %d/%d loaded %d/%d resources %zu/%zu\n", i,
                 x.newlyAdded, y.newlyAdded, x.loaded, y.loaded, x.resources.size(),
                 y.resources.size());
    if (x.fields != y.fields) {
      PrintBytes("first", x.fields);
      PrintBytes("second", y.fields);
    }
    for (size_t j = 0; j < x.resources.size() && j < y.resources.size(); ++j) {
      if (x.resources[j] == y.resources[j]) continue;
      std::fprintf(stderr, " resource %zu\n", j);
      PrintBytes("first", x.resources[j]);
      PrintBytes("second", y.resources[j]);
      break;
    }
    break;
  }
  for (size_t i = 0; i < a.cids.size() && i < b.cids.size(); ++i) {
    if (a.cids[i] == b.cids[i]) continue;
    std::fprintf(stderr, "pair %zu: album %d/%d, cid %ls / %ls\n", i, a.cids[i].second,
                 b.cids[i].second, a.cids[i].first.c_str(), b.cids[i].first.c_str());
    break;
  }
  Violation(what);
}

// Whether two directory records say the same.
inline bool SameDirectory(const ServerDirectoryRecord& a, const ServerDirectoryRecord& b) {
  return a.Opened == b.Opened && a.CidDatNumber == b.CidDatNumber &&
         a.CidDatUrl == b.CidDatUrl && a.AlbumListNumber == b.AlbumListNumber &&
         a.AlbumListUrl == b.AlbumListUrl && a.ResourceListNumber == b.ResourceListNumber &&
         a.ResourceListUrl == b.ResourceListUrl;
}

// The album ids of uin's list in list order (empty without a list).
inline std::vector<int> AlbumIdsOf(BlogSession_* session, const std::wstring& uin) {
  std::vector<int> ids;
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(uin);
  int count = 0;
  if (list != nullptr) list->GetAlbumCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQAlbumInfo> album;
    int id = 0;
    if (SUCCEEDED(list->GetAlbum(i, &album)) && album && SUCCEEDED(album->GetId(&id))) {
      ids.push_back(id);
    }
  }
  return ids;
}

// How many index pairs name each album.
inline std::map<int, size_t> PairsByAlbum(BlogSession_* session) {
  std::map<int, size_t> counts;
  session->ForEachCidPair([&counts](const std::wstring&, int albumId) { ++counts[albumId]; });
  return counts;
}

// The albums of every user in uins.
inline std::set<int> PresentAlbums(BlogSession_* session, const std::set<std::wstring>& uins) {
  std::set<int> present;
  for (const std::wstring& uin : uins) {
    for (int id : AlbumIdsOf(session, uin)) present.insert(id);
  }
  return present;
}

// No user of uins has an album id twice in the list.
inline void CheckNoDuplicateAlbums(BlogSession_* session, const std::set<std::wstring>& uins) {
  for (const std::wstring& uin : uins) {
    const std::vector<int> ids = AlbumIdsOf(session, uin);
    if (std::set<int>(ids.begin(), ids.end()).size() != ids.size()) {
      Violation("an album id is twice in a user's list");
    }
  }
}

// The index across one change: an album that left the session takes its pairs along,
// and a change that is not a new index (the content-id data replaces it whole) adds no
// pair naming an album the session does not hold. Together: every pair names an album
// the session holds, or one the index named before (as the content-id data may).
inline void CheckIndexFollowsAlbums(const std::set<int>& presentBefore,
                                    const std::map<int, size_t>& pairsBefore,
                                    const std::set<int>& presentAfter,
                                    const std::map<int, size_t>& pairsAfter,
                                    bool indexReplaced) {
  for (const auto& entry : pairsAfter) {
    const int album = entry.first;
    if (presentAfter.count(album) != 0) continue;
    if (presentBefore.count(album) != 0) {
      Violation("an album left the session and the index still names it");
    }
    if (indexReplaced) continue;
    auto before = pairsBefore.find(album);
    if (before == pairsBefore.end() || entry.second > before->second) {
      Violation("a change added a pair naming an album the session does not hold");
    }
  }
}

}  // namespace fuzzing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_FUZZ_FUZZSESSION_H_
