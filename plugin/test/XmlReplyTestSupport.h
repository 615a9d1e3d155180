// Fakes for the list command tests (included by *_test.cpp only): a platform that hands
// out a new XML parser (XmlParserTestSupport.h) for every request, and snapshots of the
// session. Built on CommandTestSupport.h's fake host.
#ifndef ZQBLOG_TEST_XMLREPLYTESTSUPPORT_H_
#define ZQBLOG_TEST_XMLREPLYTESTSUPPORT_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/StringSetter.h"
#include "interfaces/IHttpReplyHeaders.h"
#include "interfaces/IPackageParser.h"
#include "interfaces/IXMLNode.h"
#include "interfaces/IXMLPackage.h"
#include "platform/atl.h"
#include "session/BlogSession.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/XmlParserTestSupport.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {
namespace xml_testing {

using framework_testing::Fake;

// The fake host platform with a new FakeXmlParser for every "IXMLPackageParser"
// request; the parsers made are kept for the test.
class XmlPlatform : public commands_testing::FakePlatform {
 public:
  STDMETHOD(CreateObjectByName)(LPCWSTR name, int reserved, IUnknown** object) override {
    *object = nullptr;
    objectRequests.push_back(std::wstring(name) + L"/" + std::to_wstring(reserved));
    if (std::wstring(name) != L"IXMLPackageParser" || noXmlParser) {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
    CComPtr<FakeXmlParser> parser(new FakeXmlParser);
    parsers.push_back(parser);
    *object = static_cast<IPackageParser*>(parser.Detach());
    return S_OK;
  }

  bool noXmlParser = false;
  std::vector<CComPtr<FakeXmlParser>> parsers;
};


// ---------------------------------------------------------------- session snapshots

inline std::wstring TakeText(BSTR text) {
  std::wstring value = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return value;
}

// Every field of a resource, read through IZQResInfo.
struct ResourceState {
  int id = 0;
  std::wstring cid, gcid, resName, format, size, lastTime, url, original, refer, desc;
  int resType = 0, state = 0, categoryId = 0;
  std::wstring uin;

  bool operator==(const ResourceState& o) const {
    return id == o.id && cid == o.cid && gcid == o.gcid && resName == o.resName &&
           format == o.format && size == o.size && lastTime == o.lastTime && url == o.url &&
           original == o.original && refer == o.refer && desc == o.desc &&
           resType == o.resType && state == o.state && categoryId == o.categoryId &&
           uin == o.uin;
  }
};

inline ResourceState StateOf(IZQResInfo* resource) {
  ResourceState r;
  BSTR text = nullptr;
  resource->GetId(&r.id);
  resource->GetCid(&text), r.cid = TakeText(text);
  resource->GetGcid(&text), r.gcid = TakeText(text);
  resource->GetResName(&text), r.resName = TakeText(text);
  resource->GetFormat(&text), r.format = TakeText(text);
  resource->GetSize(&text), r.size = TakeText(text);
  resource->GetLastTime(&text), r.lastTime = TakeText(text);
  resource->GetUrl(&text), r.url = TakeText(text);
  resource->GetOriginal(&text), r.original = TakeText(text);
  resource->GetRefer(&text), r.refer = TakeText(text);
  resource->GetDesc(&text), r.desc = TakeText(text);
  resource->GetResType(&r.resType);
  resource->GetState(&r.state);
  resource->GetCategoryId(&r.categoryId);
  resource->GetUin(&text), r.uin = TakeText(text);
  return r;
}

// Every field of an album and its resources in album order.
struct AlbumState {
  int id = 0;
  std::wstring categoryName;
  int showStatus = 0, categoryType = 0;
  std::wstring desc, lastTime, picUrl;
  int tagNum = 0;
  std::wstring tags[3];
  bool resourcesLoaded = false;
  std::vector<ResourceState> resources;

  bool operator==(const AlbumState& o) const {
    return id == o.id && categoryName == o.categoryName && showStatus == o.showStatus &&
           categoryType == o.categoryType && desc == o.desc && lastTime == o.lastTime &&
           picUrl == o.picUrl && tagNum == o.tagNum && tags[0] == o.tags[0] &&
           tags[1] == o.tags[1] && tags[2] == o.tags[2] &&
           resourcesLoaded == o.resourcesLoaded && resources == o.resources;
  }
};

inline AlbumState StateOf(AlbumInfo* album) {
  AlbumState a;
  BSTR text = nullptr;
  album->GetId(&a.id);
  album->GetCategoryName(&text), a.categoryName = TakeText(text);
  album->GetShowStatus(&a.showStatus);
  album->GetCategoryType(&a.categoryType);
  album->GetDesc(&text), a.desc = TakeText(text);
  album->GetLastTime(&text), a.lastTime = TakeText(text);
  album->GetPicUrl(&text), a.picUrl = TakeText(text);
  album->GetTagNum(&a.tagNum);
  for (int i = 0; i < 3; ++i) {
    text = nullptr;
    album->GetTag(i, &text);
    a.tags[i] = TakeText(text);
  }
  a.resourcesLoaded = album->ResourcesLoaded();
  int count = 0;
  album->GetResourceCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQResInfo> resource;
    album->GetResource(i, &resource);
    a.resources.push_back(StateOf(resource));
  }
  return a;
}

// The albums of uin's list in list order (empty when there is no list), read under the
// session's AlbumListLock.
inline std::vector<AlbumState> AlbumsOf(BlogSession_* session, const std::wstring& uin) {
  std::vector<AlbumState> albums;
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(uin);
  if (list == nullptr) return albums;
  int count = 0;
  list->GetAlbumCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQAlbumInfo> album;
    list->GetAlbum(i, &album);
    albums.push_back(StateOf(static_cast<AlbumInfo*>(album.p)));
  }
  return albums;
}

inline std::vector<int> IdsOf(const std::vector<AlbumState>& albums) {
  std::vector<int> ids;
  for (const AlbumState& album : albums) ids.push_back(album.id);
  return ids;
}

inline std::vector<int> IdsOf(const std::vector<ResourceState>& resources) {
  std::vector<int> ids;
  for (const ResourceState& resource : resources) ids.push_back(resource.id);
  return ids;
}

// Every (cid, album id) pair of the session's index, in the index's order.
inline std::vector<std::pair<std::wstring, int>> CidPairsOf(BlogSession_* session) {
  std::vector<std::pair<std::wstring, int>> pairs;
  session->ForEachCidPair(
      [&pairs](const std::wstring& cid, int albumId) { pairs.emplace_back(cid, albumId); });
  return pairs;
}

// ---------------------------------------------------------------- files and replies

// A new empty folder under the system's temporary folder, removed with its content.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("zqblog-list-" + std::to_string(random()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  // The folder, ending with the separator, as the blog cache takes a user path.
  std::wstring UserPath() const {
    return path_.wstring() + static_cast<wchar_t>(std::filesystem::path::preferred_separator);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline bool ReadFile(const std::filesystem::path& path, std::string* content) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(static_cast<size_t>(size), '\0');
  in.read(&(*content)[0], static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

// Plays the connection of a started command: connected, request sent, then the reply:
// its headers (none when null), every piece but the last as data, and the last with the
// end of the reply (no body at all when there are no pieces). Returns the final state.
inline int PlayReply(IWorkshopCmd* cmd, framework_testing::FakeConnection* connection,
                     IHttpReplyHeaders* headers, const std::vector<std::string>& pieces) {
  CComPtr<IHttpConnectionClientEvents> events = connection->events();
  if (!events) return -1;
  events->OnConnect(0, nullptr);
  cmd->Step();
  events->OnSendComplete(0, nullptr);
  cmd->Step();
  if (headers != nullptr) {
    events->OnHeaders(headers, nullptr);
    cmd->Step();
  }
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    CComPtr<framework_testing::FakeBuffer> piece(new framework_testing::FakeBuffer(pieces[i]));
    events->OnData(piece, nullptr);
    cmd->Step();
  }
  CComPtr<framework_testing::FakeBuffer> last(
      pieces.empty() ? nullptr : new framework_testing::FakeBuffer(pieces.back()));
  events->OnComplete(0, nullptr, last, nullptr);
  cmd->Step();
  int state = -1;
  cmd->GetState(&state);
  return state;
}

// text cut into n pieces of about equal size (n >= 1).
inline std::vector<std::string> Pieces(const std::string& text, size_t n) {
  std::vector<std::string> pieces;
  size_t step = (text.size() + n - 1) / n;
  if (step == 0) step = 1;
  for (size_t at = 0; at < text.size(); at += step) pieces.push_back(text.substr(at, step));
  if (pieces.empty()) pieces.push_back(std::string());
  return pieces;
}

}  // namespace xml_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_XMLREPLYTESTSUPPORT_H_
