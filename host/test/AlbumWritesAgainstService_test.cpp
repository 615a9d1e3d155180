// The album writes (create, modify, remove) run end to end: the plug-in in a whole host
// against the reference blog service. Each test checks what the host sees (the album
// result or the failure notice), what the service now holds, and what the plug-in's
// session holds afterwards: its album list and its content-id index.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "host/app/AlbumDraft.h"
#include "host/http/HttpErrorCodes.h"
#include "host/test/BlogServiceFixture.h"
#include "interfaces/IResultOnAlbum.h"

namespace Velmora {
namespace ZQHost {
namespace {

using ZQBlog::Service::AlbumFields;
using ZQBlog::Service::AlbumRecord;
using ZQBlog::Service::ResourceFields;

const char kUser[] = "20001";
const wchar_t kUin[] = L"20001";
// A user id the plug-in puts into the form unescaped: the service reads the form's uin
// as "ab", which differs from the cookie's login name.
const wchar_t kMangledUin[] = L"ab&cd";

// Operation indexes and result states the host sees.
constexpr int kOpCreate = 6;
constexpr int kOpModify = 7;
constexpr int kOpRemove = 8;
constexpr int kStateSucceeded = 5;

// A 40-digit content id made from a small number.
std::string ContentId(int n, char kind = 'C') {
  std::string hex = std::to_string(n);
  return std::string(1, kind) + std::string(39 - hex.size(), '0') + hex;
}

AlbumFields Fields(const std::string& name, const std::string& desc = "",
                   std::vector<std::string> tags = {}) {
  AlbumFields fields;
  fields.name = name;
  fields.desc = desc;
  fields.pic_url = "http://pic.velmora.cn/" + std::to_string(name.size()) + ".png";
  fields.tags = std::move(tags);
  return fields;
}

ResourceFields Resource(int n) {
  ResourceFields r;
  r.cid = ContentId(n);
  r.gcid = ContentId(n, 'A');
  r.name = "file-" + std::to_string(n) + ".mp4";
  r.format = "mp4";
  r.size = "1048576";
  r.url = "http://dl.velmora.cn/" + std::to_string(n);
  r.res_type = 1;
  return r;
}

// What a host fills into an album draft.
struct AlbumSpec {
  int id = -1;
  std::wstring name;
  std::wstring desc;
  std::wstring pic_url;
  int category_type = 0;
  int show_status = 1;
  std::vector<std::wstring> tags;
  int newly_added = 0;
};

// The values of an album result.
struct AlbumResult {
  int status = -1;
  int operation_index = -1;
  int category_id = -1;
  std::wstring uin, message, title, name;
};

class AlbumWritesAgainstServiceTest : public BlogServiceFixture {
 protected:
  void SetUp() override {
    BlogServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    store().AddUser(kUser);
    travel_ = store().AddAlbum(kUser, Fields("Travel", "sea and hills", {"sea", "hill"}));
    empty_ = store().AddAlbum(kUser, Fields("Empty"));
    music_ = store().AddAlbum(kUser, Fields("音乐", "songs"));
    store().AddResource(travel_, Resource(1));
    store().AddResource(travel_, Resource(2));
    store().AddResource(music_, Resource(3));
  }

  // Signs kUser in and loads what a host loads before a write: the server directory,
  // then (when asked) the album list, the content-id table and the resource list of
  // Travel. In this order the index holds each pair once: a resource list replaces the
  // pairs of its album, while the table adds its pairs to those already there.
  void SignInAndLoad(bool album_list = true) {
    ASSERT_NO_FATAL_FAILURE(StartHost(kUin));
    ExpectLoaded(RefreshDirectory(kUin));
    if (!album_list) return;
    ExpectLoaded(FetchAlbumList(kUin));
    ExpectLoaded(FetchCidDat(kUin));
    ExpectLoaded(FetchResourceList(kUin, travel_));
  }

  void ExpectLoaded(const OperationOutcome& outcome) {
    ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
    int status = 0;
    outcome.result->GetStatus(&status);
    ASSERT_EQ(1, status);
    last_command_id_ = outcome.command_id;
  }

  static CComPtr<IZQAlbumInfo> Draft(const AlbumSpec& spec) {
    CComPtr<IZQAlbumInfo> draft;
    EXPECT_EQ(S_OK, AlbumDraft::Create(&draft));
    draft->SetId(spec.id);
    draft->SetCategoryName(spec.name.c_str());
    draft->SetDesc(spec.desc.c_str());
    draft->SetPicUrl(spec.pic_url.c_str());
    draft->SetCategoryType(spec.category_type);
    draft->SetShowStatus(spec.show_status);
    draft->SetTagNum(static_cast<int>(spec.tags.size()));
    for (size_t i = 0; i < spec.tags.size(); ++i) {
      draft->SetTag(static_cast<int>(i), spec.tags[i].c_str());
    }
    draft->SetNewlyAddedResNum(spec.newly_added);
    return draft;
  }

  // The three writes. Each is one more command: its id follows the previous one's.
  OperationOutcome CreateAlbum(const AlbumSpec& spec) {
    CComPtr<IZQAlbumInfo> draft = Draft(spec);
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->CreateAlbum(draft, nullptr, command);
    }));
  }
  OperationOutcome CreateAlbumNamed(const std::wstring& name) {
    AlbumSpec spec;
    spec.name = name;
    return CreateAlbum(spec);
  }
  OperationOutcome ModifyAlbum(const AlbumSpec& spec) {
    CComPtr<IZQAlbumInfo> draft = Draft(spec);
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->ModifyAlbum(draft, nullptr, command);
    }));
  }
  // The album's values as the service holds them, under a new name.
  OperationOutcome RenameAlbum(int id, const std::wstring& name) {
    AlbumSpec spec = SpecOf(id);
    spec.name = name;
    return ModifyAlbum(spec);
  }
  OperationOutcome RemoveAlbum(int id) {
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->RemoveAlbum(id, nullptr, command);
    }));
  }

  OperationOutcome Track(OperationOutcome outcome) {
    ++last_command_id_;
    if (outcome.kind == OperationOutcome::Kind::kResult) {
      EXPECT_EQ(last_command_id_, outcome.command_id);
    }
    return outcome;
  }

  // The album as the service holds it, as a draft description.
  AlbumSpec SpecOf(int id) {
    auto album = store().GetAlbum(id);
    EXPECT_TRUE(album.has_value()) << id;
    AlbumSpec spec;
    if (!album) return spec;
    spec.id = id;
    spec.name = WideFromUtf8(album->fields.name);
    spec.desc = WideFromUtf8(album->fields.desc);
    spec.pic_url = WideFromUtf8(album->fields.pic_url);
    spec.category_type = album->fields.category_type;
    spec.show_status = album->fields.show_status;
    for (const std::string& tag : album->fields.tags) spec.tags.push_back(WideFromUtf8(tag));
    spec.newly_added = album->fields.newly_added_res_num;
    return spec;
  }

  static AlbumResult ReadAlbumResult(const OperationOutcome& outcome) {
    AlbumResult out;
    EXPECT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
    if (outcome.kind != OperationOutcome::Kind::kResult) return out;
    EXPECT_EQ(0, outcome.result_kind);
    CComPtr<IResultOnAlbum> album;
    EXPECT_EQ(S_OK, outcome.result.QueryInterface(&album));
    if (!album) return out;
    BSTR text = nullptr;
    album->GetStatus(&out.status);
    album->GetOperationIndex(&out.operation_index);
    album->GetCategoryId(&out.category_id);
    text = nullptr; album->GetUin(&text); out.uin = TakeBstr(text);
    text = nullptr; album->GetMessageText(&text); out.message = TakeBstr(text);
    text = nullptr; album->GetOperationTitle(&text); out.title = TakeBstr(text);
    text = nullptr; album->GetCategoryName(&text); out.name = TakeBstr(text);
    return out;
  }

  // A refusal: status 0 with the text for the service's word.
  static void ExpectRefused(const OperationOutcome& outcome, int operation_index,
                            const std::wstring& text) {
    AlbumResult result = ReadAlbumResult(outcome);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(operation_index, result.operation_index);
    EXPECT_EQ(text, result.message);
  }

  // The service did the work although this session does not hold what it changed: the
  // command still ends with its result, Status 1.
  static void ExpectAccepted(const OperationOutcome& outcome) {
    ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
    int status = -1;
    outcome.result->GetStatus(&status);
    EXPECT_EQ(1, status);
  }

  // The session's albums equal the service's, in the service's order, value by value.
  void ExpectSessionMatchesService() {
    auto list = store().GetAlbumList(kUser);
    ASSERT_TRUE(list.has_value());
    std::vector<SessionAlbum> session = SessionAlbums(kUin);
    ASSERT_EQ(list->albums.size(), session.size());
    for (size_t i = 0; i < session.size(); ++i) {
      const AlbumRecord& want = list->albums[i];
      const SessionAlbum& have = session[i];
      SCOPED_TRACE("album " + std::to_string(want.id));
      EXPECT_EQ(want.id, have.id);
      EXPECT_EQ(WideFromUtf8(want.fields.name), have.name);
      EXPECT_EQ(WideFromUtf8(want.fields.desc), have.desc);
      EXPECT_EQ(WideFromUtf8(want.fields.pic_url), have.pic_url);
      EXPECT_EQ(want.fields.category_type, have.category_type);
      EXPECT_EQ(want.fields.show_status, have.show_status);
      std::vector<std::wstring> tags;
      for (const std::string& tag : want.fields.tags) tags.push_back(WideFromUtf8(tag));
      EXPECT_EQ(tags, have.tags);
      EXPECT_EQ(static_cast<int>(tags.size()), have.tag_num);
    }
  }

  // For every content id the service knows, and every extra one given, the session's
  // index names the same albums as the service (duplicates counted).
  void ExpectIndexMatchesService(const std::vector<std::string>& extra_cids = {}) {
    std::map<std::wstring, std::vector<int>> want;
    for (const auto& entry : store().GetCidEntries(kUser)) {
      static const char kDigits[] = "0123456789ABCDEF";
      std::wstring cid;
      for (uint8_t byte : entry.cid) {
        cid += static_cast<wchar_t>(kDigits[byte >> 4]);
        cid += static_cast<wchar_t>(kDigits[byte & 0xF]);
      }
      want[cid].push_back(entry.album_id);
    }
    for (const std::string& cid : extra_cids) want[WideFromUtf8(cid)];
    for (auto& [cid, albums] : want) {
      std::vector<int> have = AlbumsByCid(cid);
      std::sort(have.begin(), have.end());
      std::sort(albums.begin(), albums.end());
      EXPECT_EQ(albums, have) << std::string(cid.begin(), cid.end());
    }
  }

  std::vector<int> SessionAlbumIds() {
    std::vector<int> ids;
    for (const SessionAlbum& album : SessionAlbums(kUin)) ids.push_back(album.id);
    return ids;
  }

  // The service's album of that name (0 when none).
  int ServiceAlbumNamed(const std::string& name) {
    const auto list = store().GetAlbumList(kUser);
    for (const AlbumRecord& album : list->albums) {
      if (album.fields.name == name) return album.id;
    }
    return 0;
  }

  // Signs in kMangledUin (the endpoints of the directory stay known).
  void SignInMangledUser() { ASSERT_EQ(S_OK, host().SignIn(kMangledUin)); }

  int travel_ = 0;
  int empty_ = 0;
  int music_ = 0;
  int last_command_id_ = 0;
};

// ---------------------------------------------------------------- create

TEST_F(AlbumWritesAgainstServiceTest, CreateAppendsTheAlbumUnderTheServiceId) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  AlbumSpec spec;
  spec.name = L"读书 & Notes=1";
  spec.desc = L"50% off / what? a+b \\ done";
  spec.pic_url = L"http://pic.velmora.cn/books.png?size=2&x=1";
  spec.category_type = 2;
  spec.show_status = 0;
  spec.tags = {L"书", L"read & write"};
  AlbumResult result = ReadAlbumResult(CreateAlbum(spec));

  const int created = ServiceAlbumNamed("读书 & Notes=1");
  ASSERT_NE(0, created) << "the service did not get the name through unchanged";
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpCreate, result.operation_index);
  EXPECT_EQ(created, result.category_id);
  EXPECT_EQ(L"读书 & Notes=1", result.name);
  EXPECT_EQ(L"创建专辑", result.title);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(kUin, result.uin);

  auto stored = store().GetAlbum(created);
  EXPECT_EQ("50% off / what? a+b \\ done", stored->fields.desc);
  EXPECT_EQ((std::vector<std::string>{"书", "read & write"}), stored->fields.tags);
  // The new album comes last, with nothing loaded; the others keep their resources.
  ExpectSessionMatchesService();
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_, created}), SessionAlbumIds());
  bool loaded = true;
  EXPECT_EQ(S_OK, blog()->IsResourceListLoaded(kUin, created, &loaded));
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(SessionAlbumById(kUin, created).resources.empty());
  EXPECT_EQ(2u, SessionAlbumById(kUin, travel_).resources.size());
  ExpectIndexMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, CreateTwiceKeepsBothInCreationOrder) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const int first = ReadAlbumResult(CreateAlbumNamed(L"One")).category_id;
  const int second = ReadAlbumResult(CreateAlbumNamed(L"Two")).category_id;
  EXPECT_NE(first, second);
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_, first, second}), SessionAlbumIds());
  ExpectSessionMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, CreateWithoutFetchedListStartsAListOfJustThatAlbum) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad(/*album_list=*/false));
  AlbumResult result = ReadAlbumResult(CreateAlbumNamed(L"Fresh"));
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(ServiceAlbumNamed("Fresh"), result.category_id);
  EXPECT_EQ((std::vector<int>{result.category_id}), SessionAlbumIds());
  EXPECT_EQ(4u, store().GetAlbumList(kUser)->albums.size());
}

TEST_F(AlbumWritesAgainstServiceTest, CreateRefusalsLeaveTheSessionAsTheServiceIs) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("duplicate");
    ExpectRefused(CreateAlbumNamed(L"Travel"), kOpCreate, L"存在同名专辑");
  }
  {
    SCOPED_TRACE("illegal");
    ExpectRefused(CreateAlbumNamed(L"my BadWord album"), kOpCreate, L"敏感词");
  }
  {
    SCOPED_TRACE("fail: empty name");
    AlbumResult result = ReadAlbumResult(CreateAlbumNamed(L""));
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(L"数据库错误", result.message);
    EXPECT_EQ(0, result.category_id);
    EXPECT_EQ(L"创建专辑", result.title);
  }
  {
    SCOPED_TRACE("no_bill");
    store().SetWealth(kUser, -1);
    ExpectRefused(CreateAlbumNamed(L"Costly"), kOpCreate, L"财富积分不足");
    store().SetWealth(kUser, 100);
  }
  {
    SCOPED_TRACE("forbidden");
    store().SetBlacklisted(kUser, true);
    ExpectRefused(CreateAlbumNamed(L"Banned"), kOpCreate, L"已被加入黑名单, 禁止操作");
    store().SetBlacklisted(kUser, false);
  }
  {
    SCOPED_TRACE("fail: database fault");
    store().SetFaultInjection(true);
    ExpectRefused(CreateAlbumNamed(L"Faulty"), kOpCreate, L"数据库错误");
    store().SetFaultInjection(false);
  }
  EXPECT_EQ(3u, store().GetAlbumList(kUser)->albums.size());
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
  ExpectSessionMatchesService();
  ExpectIndexMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, CreateBeyondTheAlbumLimitIsExcess) {
  // The service keeps at most 100 albums a user.
  for (int i = 3; i < 100; ++i) store().AddAlbum(kUser, Fields("filler " + std::to_string(i)));
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ExpectRefused(CreateAlbumNamed(L"One too many"), kOpCreate, L"专辑数达到上限");
  EXPECT_EQ(100u, SessionAlbums(kUin).size());
  ExpectSessionMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, CreateWithAUserIdTheFormCarriesDifferentlyIsDenied) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
  AlbumResult result = ReadAlbumResult(CreateAlbumNamed(L"Denied"));
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(L"cookie验证错误", result.message);
  EXPECT_EQ(kMangledUin, result.uin);
  EXPECT_TRUE(SessionAlbums(kMangledUin).empty());
  EXPECT_EQ(0, ServiceAlbumNamed("Denied"));
  ExpectSessionMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, CreateWithMoreTagsThanSlotsKeepsThree) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  AlbumSpec spec;
  spec.name = L"Tagged";
  spec.tags = {L"a", L"b", L"c"};
  CComPtr<IZQAlbumInfo> draft = Draft(spec);
  draft->SetTagNum(5);  // an album has three tag slots
  OperationOutcome outcome = Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
    return operation->CreateAlbum(draft, nullptr, command);
  }));
  AlbumResult result = ReadAlbumResult(outcome);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}),
            store().GetAlbum(result.category_id)->fields.tags);
  ExpectSessionMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, CreateWithAFormTooLongForItsBufferSendsNoForm) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  AlbumSpec spec;
  spec.name = L"Long";
  spec.desc = std::wstring(9000, L'x');
  // Nothing goes out: the failure sinks hear that the request was too long.
  OperationOutcome outcome = CreateAlbum(spec);
  ASSERT_EQ(OperationOutcome::Kind::kFailure, outcome.kind) << outcome.Describe();
  EXPECT_EQ(static_cast<int>(0x8007006Fu), outcome.failure_code);
  EXPECT_EQ(kOpCreate, outcome.failure_operation);
  EXPECT_EQ("create album failed: request too long to send (0x8007006F)", outcome.Describe());
  EXPECT_EQ(0, ServiceAlbumNamed("Long"));
  ExpectSessionMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, CreateWithoutServiceReportsTheConnectionFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  OperationOutcome outcome = CreateAlbumNamed(L"Offline");
  ASSERT_EQ(OperationOutcome::Kind::kFailure, outcome.kind) << outcome.Describe();
  EXPECT_EQ(kHttpErrorConnectionRefused, outcome.failure_code);
  EXPECT_EQ(kOpCreate, outcome.failure_operation);
  CComPtr<ICommonResult> result;
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(last_command_id_, &result));
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
}

// ---------------------------------------------------------------- modify

TEST_F(AlbumWritesAgainstServiceTest, ModifyRewritesTheAlbumInPlace) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  AlbumSpec spec = SpecOf(travel_);
  spec.name = L"Trips 旅行 & more";
  spec.desc = L"new / desc";
  spec.show_status = 0;
  spec.category_type = 3;
  spec.tags = {L"one"};
  spec.newly_added = 4;
  AlbumResult result = ReadAlbumResult(ModifyAlbum(spec));
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpModify, result.operation_index);
  EXPECT_EQ(travel_, result.category_id);
  EXPECT_EQ(L"Trips 旅行 & more", result.name);
  EXPECT_EQ(L"修改专辑", result.title);
  EXPECT_EQ(L"", result.message);

  auto stored = store().GetAlbum(travel_);
  EXPECT_EQ("Trips 旅行 & more", stored->fields.name);
  EXPECT_EQ(4, stored->fields.newly_added_res_num);
  // Same place, new values, the resources it held still there.
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
  ExpectSessionMatchesService();
  SessionAlbum album = SessionAlbumById(kUin, travel_);
  EXPECT_EQ(4, album.newly_added);
  EXPECT_EQ(2u, album.resources.size());
  ExpectIndexMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, ModifyOfAnAlbumTheSessionLacksEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  // Another client adds an album after this session fetched the list.
  const int late = store().AddAlbum(kUser, Fields("Late"));
  AlbumSpec spec = SpecOf(late);
  spec.name = L"Late renamed";
  ExpectAccepted(ModifyAlbum(spec));
  EXPECT_EQ("Late renamed", store().GetAlbum(late)->fields.name);
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
  EXPECT_EQ(0, SessionAlbumById(kUin, late).id);
}

TEST_F(AlbumWritesAgainstServiceTest, ModifyOfAnAlbumGoneFromTheServiceDropsIt) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  // Another client empties and removes Music after this session fetched everything.
  auto music = store().GetResourceList(kUser, music_);
  std::vector<int> ids;
  for (const auto& r : music->resources) ids.push_back(r.id);
  ASSERT_TRUE(store().RemoveResources(kUser, music_, ids).ok());
  ASSERT_TRUE(store().RemoveAlbum(kUser, music_).ok());
  ASSERT_EQ((std::vector<int>{music_}), AlbumsByCid(WideFromUtf8(ContentId(3))));

  AlbumSpec spec;
  spec.id = music_;
  spec.name = L"Music again";
  ExpectRefused(ModifyAlbum(spec), kOpModify, L"专辑不存在");
  EXPECT_EQ((std::vector<int>{travel_, empty_}), SessionAlbumIds());
  ExpectSessionMatchesService();
  ExpectIndexMatchesService({ContentId(3)});
}

TEST_F(AlbumWritesAgainstServiceTest, ModifyRefusalsLeaveTheSessionAsTheServiceIs) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("duplicate");
    AlbumResult result = ReadAlbumResult(RenameAlbum(travel_, L"Empty"));
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(L"存在同名专辑", result.message);
    EXPECT_EQ(travel_, result.category_id);
    EXPECT_EQ(L"修改专辑", result.title);
  }
  {
    SCOPED_TRACE("illegal");
    AlbumSpec spec = SpecOf(empty_);
    spec.tags = {L"fine", L"BADWORD"};
    ExpectRefused(ModifyAlbum(spec), kOpModify, L"敏感词");
  }
  {
    SCOPED_TRACE("fail: empty name");
    ExpectRefused(RenameAlbum(travel_, L""), kOpModify, L"数据库错误");
  }
  {
    SCOPED_TRACE("forbidden");
    store().SetBlacklisted(kUser, true);
    ExpectRefused(RenameAlbum(travel_, L"Banned"), kOpModify, L"已被加入黑名单, 禁止操作");
    store().SetBlacklisted(kUser, false);
  }
  {
    SCOPED_TRACE("fail: database fault");
    AlbumSpec spec = SpecOf(travel_);
    spec.name = L"Faulty";
    store().SetFaultInjection(true);
    ExpectRefused(ModifyAlbum(spec), kOpModify, L"数据库错误");
    store().SetFaultInjection(false);
  }
  {
    SCOPED_TRACE("no_exist: another user's album stays unknown here");
    store().AddUser("20002");
    const int foreign = store().AddAlbum("20002", Fields("Theirs"));
    AlbumSpec spec;
    spec.id = foreign;
    spec.name = L"Mine now";
    ExpectRefused(ModifyAlbum(spec), kOpModify, L"专辑不存在");
    EXPECT_EQ("Theirs", store().GetAlbum(foreign)->fields.name);
  }
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
  ExpectSessionMatchesService();
  ExpectIndexMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, ModifyWithAUserIdTheFormCarriesDifferentlyIsDenied) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  AlbumSpec spec = SpecOf(travel_);
  ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
  spec.name = L"Denied";
  ExpectRefused(ModifyAlbum(spec), kOpModify, L"cookie验证错误");
  EXPECT_EQ("Travel", store().GetAlbum(travel_)->fields.name);
  ExpectSessionMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, ModifyWithoutServiceReportsTheConnectionFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  OperationOutcome outcome = RenameAlbum(travel_, L"Offline");
  ASSERT_EQ(OperationOutcome::Kind::kFailure, outcome.kind) << outcome.Describe();
  EXPECT_EQ(kHttpErrorConnectionRefused, outcome.failure_code);
  EXPECT_EQ(kOpModify, outcome.failure_operation);
  EXPECT_EQ(L"Travel", SessionAlbumById(kUin, travel_).name);
}

// ---------------------------------------------------------------- remove

TEST_F(AlbumWritesAgainstServiceTest, RemoveDropsTheAlbumAndItsIndexEntries) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  // Music is emptied by another client after the index was fetched: the session still
  // has its content-id pair.
  auto music = store().GetResourceList(kUser, music_);
  ASSERT_TRUE(store().RemoveResources(kUser, music_, {music->resources[0].id}).ok());
  ASSERT_EQ((std::vector<int>{music_}), AlbumsByCid(WideFromUtf8(ContentId(3))));

  AlbumResult result = ReadAlbumResult(RemoveAlbum(music_));
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpRemove, result.operation_index);
  EXPECT_EQ(music_, result.category_id);
  EXPECT_EQ(L"音乐", result.name);
  EXPECT_EQ(L"删除专辑", result.title);
  EXPECT_EQ(L"", result.message);
  EXPECT_FALSE(store().GetAlbum(music_).has_value());
  EXPECT_EQ((std::vector<int>{travel_, empty_}), SessionAlbumIds());
  ExpectSessionMatchesService();
  ExpectIndexMatchesService({ContentId(3)});
}

TEST_F(AlbumWritesAgainstServiceTest, RemoveOfAnAlbumGoneFromTheServiceDropsIt) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ASSERT_TRUE(store().RemoveAlbum(kUser, empty_).ok());
  AlbumResult result = ReadAlbumResult(RemoveAlbum(empty_));
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(L"专辑不存在", result.message);
  EXPECT_EQ(empty_, result.category_id);
  EXPECT_EQ((std::vector<int>{travel_, music_}), SessionAlbumIds());
  ExpectSessionMatchesService();
  ExpectIndexMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, RemoveRefusalsLeaveTheSessionAsTheServiceIs) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("no_empty");
    AlbumResult result = ReadAlbumResult(RemoveAlbum(travel_));
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(L"专辑不为空", result.message);
    EXPECT_EQ(travel_, result.category_id);
    EXPECT_EQ(L"删除专辑", result.title);
  }
  {
    SCOPED_TRACE("forbidden");
    store().SetBlacklisted(kUser, true);
    ExpectRefused(RemoveAlbum(empty_), kOpRemove, L"已被加入黑名单, 禁止操作");
    store().SetBlacklisted(kUser, false);
  }
  {
    SCOPED_TRACE("fail: database fault");
    store().SetFaultInjection(true);
    ExpectRefused(RemoveAlbum(empty_), kOpRemove, L"数据库错误");
    store().SetFaultInjection(false);
  }
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
  EXPECT_EQ(2u, SessionAlbumById(kUin, travel_).resources.size());
  ExpectSessionMatchesService();
  ExpectIndexMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, RemoveOfAnAlbumTheSessionLacksEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const int late = store().AddAlbum(kUser, Fields("Late"));
  ExpectAccepted(RemoveAlbum(late));
  EXPECT_FALSE(store().GetAlbum(late).has_value());
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
}

TEST_F(AlbumWritesAgainstServiceTest, RemoveWithoutFetchedListEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad(/*album_list=*/false));
  ExpectAccepted(RemoveAlbum(empty_));
  EXPECT_FALSE(store().GetAlbum(empty_).has_value());
  EXPECT_TRUE(SessionAlbums(kUin).empty());
}

TEST_F(AlbumWritesAgainstServiceTest, RemoveWithAUserIdTheFormCarriesDifferentlyIsRefused) {
  // The service denies it; the mangled user has no album list in the session, and the
  // refusal still reaches the caller.
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
  ExpectRefused(RemoveAlbum(empty_), kOpRemove, L"cookie验证错误");
  EXPECT_TRUE(store().GetAlbum(empty_).has_value());
  ExpectSessionMatchesService();
}

TEST_F(AlbumWritesAgainstServiceTest, RemoveWithoutServiceReportsTheConnectionFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  OperationOutcome outcome = RemoveAlbum(empty_);
  ASSERT_EQ(OperationOutcome::Kind::kFailure, outcome.kind) << outcome.Describe();
  EXPECT_EQ(kHttpErrorConnectionRefused, outcome.failure_code);
  EXPECT_EQ(kOpRemove, outcome.failure_operation);
  EXPECT_EQ((std::vector<int>{travel_, empty_, music_}), SessionAlbumIds());
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
