// The resource writes (batch collect, batch remove, copy, move, resource modify) run end
// to end: the plug-in in a whole host against the reference blog service. Each test
// checks what the host sees (the batch or resource result, or the failure notice), what
// the service now holds, and what the plug-in's session holds afterwards: the albums'
// resources and the content-id index.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/app/ResourceDraft.h"
#include "host/http/HttpErrorCodes.h"
#include "host/test/BlogServiceFixture.h"
#include "host/test/RecordingRelay.h"
#include "interfaces/IResultOnBatchOperation.h"
#include "interfaces/IResultOnResource.h"

namespace Velmora {
namespace ZQHost {
namespace {

using ZQBlog::Service::AlbumFields;
using ZQBlog::Service::ResourceFields;
using ZQBlog::Service::ResourceRecord;

const char kUser[] = "30001";
const wchar_t kUin[] = L"30001";
// A user id the plug-in puts into the form unescaped: the service reads the form's uin
// as "ab", which differs from the cookie's login name.
const wchar_t kMangledUin[] = L"ab&cd";
constexpr int kNoSuchAlbum = 999999;
constexpr int kNoSuchResource = 888888;

// Operation indexes and command states the host sees.
constexpr int kOpCollect = 4;
constexpr int kOpRemove = 5;
constexpr int kOpModify = 9;
constexpr int kOpMove = 10;
constexpr int kOpCopy = 11;
constexpr int kStateSucceeded = 5;

// A 40-digit upper-case content id made from a small number.
std::string ContentId(int n, char kind = 'C') {
  std::string digits = std::to_string(n);
  return std::string(1, kind) + std::string(39 - digits.size(), '0') + digits;
}
std::wstring Cid(int n) { return WideFromUtf8(ContentId(n)); }

std::string UrlOf(int n) { return "http://dl.velmora.cn/" + std::to_string(n); }

// Resource n: content id, URL and name made from n.
ResourceFields Resource(int n) {
  ResourceFields r;
  r.cid = ContentId(n);
  r.gcid = ContentId(n, 'A');
  r.name = "file-" + std::to_string(n) + ".mp4";
  r.format = "mp4";
  r.size = std::to_string(1000 + n);
  r.url = UrlOf(n);
  r.original = "http://www.velmora.cn/share/" + std::to_string(n);
  r.refer = "http://www.velmora.cn/";
  r.desc = "resource " + std::to_string(n);
  r.res_type = 1;
  return r;
}

AlbumFields Album(const std::string& name) {
  AlbumFields fields;
  fields.name = name;
  return fields;
}

// What the host hands to BatchCollect for one resource.
struct CollectItem {
  std::wstring cid, gcid, name, format = L"mp4", size = L"2048", url, desc;
  int res_type = 1;
  int state = 0;  // 1: the download is unfinished
};

CollectItem Item(int n) {
  CollectItem item;
  item.cid = Cid(n);
  item.gcid = WideFromUtf8(ContentId(n, 'A'));
  item.name = L"collected-" + std::to_wstring(n) + L".mp4";
  item.url = WideFromUtf8(UrlOf(n));
  item.desc = L"collected " + std::to_wstring(n);
  return item;
}

// The values of a batch result.
struct BatchResult {
  int status = -1;
  int operation_index = -1;
  int category_id = -1;
  int target_category_id = -1;
  int first_count = -1;
  int second_count = -1;
  std::vector<int> first_ids, second_ids;
  std::map<int, std::wstring> first_texts, second_texts;  // for the keys asked
  std::wstring uin, message, title;
};

// The values of a resource result.
struct ResourceResult {
  int status = -1;
  int operation_index = -1;
  int category_id = -1;
  int target_category_id = -1;
  int resource_id = -1;
  std::wstring uin, message, title;
};

class ResourceWritesAgainstServiceTest : public BlogServiceFixture {
 protected:
  // Source holds r1..r3, a resource under review, one still downloading and r4, whose
  // content Target also holds (t20). Target holds t20 and t21, whose URL is r1's.
  // Unloaded holds u30; its resource list is never fetched.
  void SetUp() override {
    BlogServiceFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    store().AddUser(kUser);
    source_ = store().AddAlbum(kUser, Album("Source"));
    target_ = store().AddAlbum(kUser, Album("Target"));
    unloaded_ = store().AddAlbum(kUser, Album("Unloaded"));
    r1_ = store().AddResource(source_, Resource(1));
    r2_ = store().AddResource(source_, Resource(2));
    r3_ = store().AddResource(source_, Resource(3));
    audit_ = store().AddResource(source_, Resource(5), /*under_review=*/true);
    ResourceFields downloading = Resource(6);
    downloading.undone = true;
    undone_ = store().AddResource(source_, downloading);
    ResourceFields twin = Resource(4);
    twin.cid = ContentId(20);
    r4_ = store().AddResource(source_, twin);
    t20_ = store().AddResource(target_, Resource(20));
    ResourceFields same_url = Resource(21);
    same_url.url = UrlOf(1);
    t21_ = store().AddResource(target_, same_url);
    u30_ = store().AddResource(unloaded_, Resource(30));
  }

  // An album at the service's limit of 500 resources. REQUIRES: before SignInAndLoad.
  void AddFullAlbum() {
    full_ = store().AddAlbum(kUser, Album("Full"));
    for (int n = 0; n < 500; ++n) store().AddResource(full_, Resource(1000 + n));
  }

  // Signs kUser in and loads what a host loads before a write: the server directory,
  // the album list, the content-id table, then the resource lists of Source and
  // Target (in this order every pair is in the index once).
  void SignInAndLoad() { SignInAndLoad(Options()); }
  void SignInAndLoad(HostApplicationOptions options) {
    ASSERT_NO_FATAL_FAILURE(StartHost(kUin, std::move(options)));
    ExpectLoaded(RefreshDirectory(kUin));
    ExpectLoaded(FetchAlbumList(kUin));
    ExpectLoaded(FetchCidDat(kUin));
    ExpectLoaded(FetchResourceList(kUin, source_));
    ExpectLoaded(FetchResourceList(kUin, target_));
  }

  void ExpectLoaded(const OperationOutcome& outcome) {
    ASSERT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
    int status = 0;
    outcome.result->GetStatus(&status);
    ASSERT_EQ(1, status);
    last_command_id_ = outcome.command_id;
  }

  // ------------------------------------------------------------ the five writes
  OperationOutcome Collect(int album, const std::vector<CollectItem>& items) {
    std::vector<CComPtr<IZQResInfo>> drafts;
    std::vector<IZQResInfo*> pointers;
    for (const CollectItem& item : items) {
      CComPtr<IZQResInfo> draft;
      EXPECT_EQ(S_OK, ResourceDraft::Create(&draft));
      draft->SetCid(item.cid.c_str());
      draft->SetGcid(item.gcid.c_str());
      draft->SetResName(item.name.c_str());
      draft->SetFormat(item.format.c_str());
      draft->SetSize(item.size.c_str());
      draft->SetUrl(item.url.c_str());
      draft->SetDesc(item.desc.c_str());
      draft->SetResType(item.res_type);
      draft->SetState(item.state);
      // Album id and user stay unset: where the items go is the operation's album.
      pointers.push_back(draft);
      drafts.push_back(draft);
    }
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->BatchCollect(album, pointers.data(), static_cast<int>(pointers.size()),
                                     nullptr, command);
    }));
  }
  OperationOutcome RemoveResources(int album, const std::vector<int>& ids) {
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->BatchRemove(album, static_cast<int>(ids.size()), ids.data(), nullptr,
                                    command);
    }));
  }
  // Copy sends choice 1 and move choice 0, as the service tells them apart by it.
  OperationOutcome CopyResources(int from, int to, const std::vector<int>& ids) {
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->CopyResource(from, to, true, static_cast<int>(ids.size()), ids.data(),
                                     nullptr, command);
    }));
  }
  OperationOutcome MoveResources(int from, int to, const std::vector<int>& ids) {
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->MoveResource(from, to, false, static_cast<int>(ids.size()), ids.data(),
                                     nullptr, command);
    }));
  }
  OperationOutcome ModifyResource(int from, int to, int id, const std::wstring& name,
                                  const std::wstring& desc = L"a description") {
    return Track(Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->ModifyResource(from, to, id, name.c_str(), desc.c_str(), nullptr,
                                       command);
    }));
  }

  OperationOutcome Track(OperationOutcome outcome) {
    ++last_command_id_;
    if (outcome.kind == OperationOutcome::Kind::kResult) {
      EXPECT_EQ(last_command_id_, outcome.command_id);
    }
    return outcome;
  }

  // ------------------------------------------------------------ results
  // keys: the ids whose texts are read from the two tables.
  static BatchResult ReadBatch(const OperationOutcome& outcome, const std::vector<int>& keys) {
    BatchResult out;
    EXPECT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
    if (outcome.kind != OperationOutcome::Kind::kResult) return out;
    EXPECT_EQ(2, outcome.result_kind);
    CComPtr<IResultOnBatchOperation> batch;
    EXPECT_EQ(S_OK, outcome.result.QueryInterface(&batch));
    if (!batch) return out;
    BSTR text = nullptr;
    batch->GetStatus(&out.status);
    batch->GetOperationIndex(&out.operation_index);
    batch->GetCategoryId(&out.category_id);
    batch->GetTargetCategoryId(&out.target_category_id);
    batch->GetFirstCount(&out.first_count);
    batch->GetSecondCount(&out.second_count);
    for (int list = 1; list <= 2; ++list) {
      std::vector<int>& ids = list == 1 ? out.first_ids : out.second_ids;
      int id = 0;
      while (ids.size() < 10000 &&
             batch->GetListItem(list, static_cast<int>(ids.size()), &id) == S_OK) {
        ids.push_back(id);
      }
    }
    for (int key : keys) {
      text = nullptr;
      batch->GetFirstText(key, &text);
      if (text != nullptr) out.first_texts[key] = TakeBstr(text);
      text = nullptr;
      batch->GetSecondText(key, &text);
      if (text != nullptr) out.second_texts[key] = TakeBstr(text);
    }
    text = nullptr; batch->GetUin(&text); out.uin = TakeBstr(text);
    text = nullptr; batch->GetMessageText(&text); out.message = TakeBstr(text);
    text = nullptr; batch->GetOperationTitle(&text); out.title = TakeBstr(text);
    return out;
  }

  static ResourceResult ReadResource(const OperationOutcome& outcome) {
    ResourceResult out;
    EXPECT_EQ(OperationOutcome::Kind::kResult, outcome.kind) << outcome.Describe();
    if (outcome.kind != OperationOutcome::Kind::kResult) return out;
    EXPECT_EQ(1, outcome.result_kind);
    CComPtr<IResultOnResource> resource;
    EXPECT_EQ(S_OK, outcome.result.QueryInterface(&resource));
    if (!resource) return out;
    BSTR text = nullptr;
    resource->GetStatus(&out.status);
    resource->GetOperationIndex(&out.operation_index);
    resource->GetCategoryId(&out.category_id);
    resource->GetTargetCategoryId(&out.target_category_id);
    resource->GetResourceId(&out.resource_id);
    text = nullptr; resource->GetUin(&text); out.uin = TakeBstr(text);
    text = nullptr; resource->GetMessageText(&text); out.message = TakeBstr(text);
    text = nullptr; resource->GetOperationTitle(&text); out.title = TakeBstr(text);
    return out;
  }

  // A whole batch refused: status 0, the text for the word, nothing counted or listed.
  static void ExpectBatchRefused(const OperationOutcome& outcome, int operation_index,
                                 const std::wstring& text) {
    BatchResult result = ReadBatch(outcome, {});
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(operation_index, result.operation_index);
    EXPECT_EQ(text, result.message);
    EXPECT_EQ(0, result.first_count);
    EXPECT_EQ(0, result.second_count);
    EXPECT_TRUE(result.first_ids.empty());
    EXPECT_TRUE(result.second_ids.empty());
  }

  static void ExpectResourceRefused(const OperationOutcome& outcome, const std::wstring& text) {
    ResourceResult result = ReadResource(outcome);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(kOpModify, result.operation_index);
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

  void ExpectConnectionFailure(const OperationOutcome& outcome, int first_value,
                               int operation_index) {
    ASSERT_EQ(OperationOutcome::Kind::kFailure, outcome.kind) << outcome.Describe();
    EXPECT_EQ(first_value, outcome.failure_code);
    EXPECT_EQ(operation_index, outcome.failure_operation);
    CComPtr<ICommonResult> result;
    EXPECT_EQ(E_FAIL, blog()->GetCommandResult(last_command_id_, &result));
  }

  // ------------------------------------------------------------ session and service
  std::vector<int> SessionIds(int album) {
    std::vector<int> ids;
    for (const SessionResource& r : SessionAlbumById(kUin, album).resources) ids.push_back(r.id);
    return ids;
  }

  std::vector<ResourceRecord> ServiceResources(int album) {
    auto list = store().GetResourceList(kUser, album);
    EXPECT_TRUE(list.has_value()) << album;
    return list ? list->resources : std::vector<ResourceRecord>();
  }

  std::vector<int> ServiceIds(int album) {
    std::vector<int> ids;
    for (const ResourceRecord& r : ServiceResources(album)) ids.push_back(r.id);
    return ids;
  }

  // The service's resource of album with that content id (0 when none).
  int ServiceIdOf(int album, int content) {
    for (const ResourceRecord& r : ServiceResources(album)) {
      if (r.fields.cid == ContentId(content)) return r.id;
    }
    return 0;
  }

  // The session's resource of album with that id (id 0 when the album lacks it).
  SessionResource SessionResourceById(int album, int id) {
    for (const SessionResource& r : SessionAlbumById(kUin, album).resources) {
      if (r.id == id) return r;
    }
    return SessionResource();
  }

  // The loaded album holds what the service holds (by id; the order is each side's).
  void ExpectAlbumMatchesService(int album) {
    SCOPED_TRACE("album " + std::to_string(album));
    std::vector<ResourceRecord> want = ServiceResources(album);
    std::vector<SessionResource> have = SessionAlbumById(kUin, album).resources;
    std::sort(have.begin(), have.end(),
              [](const SessionResource& a, const SessionResource& b) { return a.id < b.id; });
    ASSERT_EQ(want.size(), have.size());
    for (size_t i = 0; i < want.size(); ++i) {
      SCOPED_TRACE("resource " + std::to_string(want[i].id));
      EXPECT_EQ(want[i].id, have[i].id);
      EXPECT_EQ(album, have[i].category_id);
      EXPECT_EQ(kUin, have[i].uin);
      EXPECT_EQ(WideFromUtf8(want[i].fields.cid), have[i].cid);
      EXPECT_EQ(WideFromUtf8(want[i].fields.name), have[i].name);
      EXPECT_EQ(WideFromUtf8(want[i].fields.desc), have[i].desc);
      EXPECT_EQ(WideFromUtf8(want[i].fields.url), have[i].url);
      EXPECT_EQ(want[i].state(), have[i].state);
    }
  }

  void ExpectLoadedAlbumsMatchService() {
    ExpectAlbumMatchesService(source_);
    ExpectAlbumMatchesService(target_);
  }

  // For every content id the service knows, and every extra one given, the session's
  // index names the same albums as the service (duplicates counted).
  void ExpectIndexMatchesService(const std::vector<int>& extra_contents = {}) {
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
    for (int n : extra_contents) want[Cid(n)];
    for (auto& [cid, albums] : want) {
      std::vector<int> have = AlbumsByCid(cid);
      std::sort(have.begin(), have.end());
      std::sort(albums.begin(), albums.end());
      EXPECT_EQ(albums, have) << std::string(cid.begin(), cid.end());
    }
  }

  void SignInMangledUser() { ASSERT_EQ(S_OK, host().SignIn(kMangledUin)); }

  // SignInAndLoad with every connection through relay_, which may stand in for the
  // service on an endpoint.
  void SignInAndLoadThroughRelay() {
    relay_ = std::make_unique<RecordingRelay>(service_.port());
    HostApplicationOptions options = Options();
    options.connect_to = {"127.0.0.1", relay_->port()};
    ASSERT_NO_FATAL_FAILURE(SignInAndLoad(std::move(options)));
  }

  std::unique_ptr<RecordingRelay> relay_;  // destroyed after the host has shut down

  int source_ = 0, target_ = 0, unloaded_ = 0, full_ = 0;
  int r1_ = 0, r2_ = 0, r3_ = 0, r4_ = 0, audit_ = 0, undone_ = 0;
  int t20_ = 0, t21_ = 0, u30_ = 0;
  int last_command_id_ = 0;
};

// ---------------------------------------------------------------- batch collect

TEST_F(ResourceWritesAgainstServiceTest, CollectAppendsWhatWasCollectedAndListsTheRefused) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const std::vector<int> before = SessionIds(source_);
  CollectItem fresh = Item(10);
  fresh.name = L"新 file & x=1/50%.mp4";
  CollectItem duplicate = Item(1);  // Source holds that content already
  CollectItem sensitive = Item(11);
  sensitive.name = L"BadWord.mp4";
  CollectItem malformed = Item(12);
  malformed.cid = L"not-a-content-id";
  CollectItem downloading = Item(13);
  downloading.state = 1;
  OperationOutcome outcome =
      Collect(source_, {fresh, duplicate, sensitive, malformed, downloading});

  const int id10 = ServiceIdOf(source_, 10);
  const int id13 = ServiceIdOf(source_, 13);
  ASSERT_NE(0, id10);
  ASSERT_NE(0, id13);
  // Refused items are keyed by the stand-in ids the service gives them (minus their
  // position in the batch).
  BatchResult result = ReadBatch(outcome, {id10, id13, -1, -2, -3});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpCollect, result.operation_index);
  EXPECT_EQ(L"收藏资源", result.title);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(kUin, result.uin);
  EXPECT_EQ(source_, result.category_id);
  EXPECT_EQ(2, result.first_count);
  EXPECT_EQ(3, result.second_count);
  EXPECT_EQ((std::vector<int>{id10, id13}), result.first_ids);
  EXPECT_TRUE(result.second_ids.empty());
  EXPECT_EQ((std::map<int, std::wstring>{{id10, L"0"}, {id13, L"1"}}), result.first_texts);
  EXPECT_EQ((std::map<int, std::wstring>{{-1, L"duplicate"}, {-2, L"illegal"}, {-3, L"fail"}}),
            result.second_texts);

  EXPECT_EQ("新 file & x=1/50%.mp4", store().GetResource(id10)->fields.name);
  // Appended in collected order after what the album held.
  std::vector<int> expected = before;
  expected.push_back(id10);
  expected.push_back(id13);
  EXPECT_EQ(expected, SessionIds(source_));
  EXPECT_EQ(1, SessionResourceById(source_, id13).state);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService({11, 12});
}

TEST_F(ResourceWritesAgainstServiceTest, CollectIntoAnUnloadedAlbumOnlyIndexesIt) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  OperationOutcome outcome = Collect(unloaded_, {Item(10)});
  const int id10 = ServiceIdOf(unloaded_, 10);
  ASSERT_NE(0, id10);
  BatchResult result = ReadBatch(outcome, {id10});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(1, result.first_count);
  EXPECT_EQ((std::vector<int>{id10}), result.first_ids);
  EXPECT_TRUE(SessionIds(unloaded_).empty());
  EXPECT_EQ((std::vector<int>{unloaded_}), AlbumsByCid(Cid(10)));
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, CollectIntoAnAlbumTheSessionLacksEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const int late = store().AddAlbum(kUser, Album("Late"));
  ExpectAccepted(Collect(late, {Item(10)}));
  EXPECT_NE(0, ServiceIdOf(late, 10));
  EXPECT_TRUE(AlbumsByCid(Cid(10)).empty());
  ExpectLoadedAlbumsMatchService();
}

TEST_F(ResourceWritesAgainstServiceTest, CollectRefusalsOfTheWholeBatch) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("no_exist");
    OperationOutcome outcome = Collect(kNoSuchAlbum, {Item(10)});
    ExpectBatchRefused(outcome, kOpCollect, L"专辑不存在");
    EXPECT_EQ(kNoSuchAlbum, ReadBatch(outcome, {}).category_id);
  }
  {
    SCOPED_TRACE("forbidden");
    store().SetBlacklisted(kUser, true);
    ExpectBatchRefused(Collect(source_, {Item(10)}), kOpCollect, L"已被加入黑名单, 禁止操作");
    store().SetBlacklisted(kUser, false);
  }
  EXPECT_EQ(0, ServiceIdOf(source_, 10));
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService({10});
}

TEST_F(ResourceWritesAgainstServiceTest, CollectWithAUserIdTheFormCarriesDifferentlyIsDenied) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
  ExpectBatchRefused(Collect(source_, {Item(10)}), kOpCollect, L"cookie验证错误");
  EXPECT_EQ(0, ServiceIdOf(source_, 10));
  ExpectLoadedAlbumsMatchService();
}

TEST_F(ResourceWritesAgainstServiceTest, CollectIntoAFullAlbumIsRefusedAsExcess) {
  AddFullAlbum();
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  BatchResult result = ReadBatch(Collect(full_, {Item(10)}), {0});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(0, result.first_count);
  EXPECT_EQ(1, result.second_count);
  EXPECT_EQ((std::map<int, std::wstring>{{0, L"excess"}}), result.second_texts);
  EXPECT_EQ(500u, ServiceResources(full_).size());
  EXPECT_TRUE(AlbumsByCid(Cid(10)).empty());
}

TEST_F(ResourceWritesAgainstServiceTest, CollectAnsweredWith500DeliversStatusZeroAtOnce) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  store().SetFaultInjection(true);
  OperationOutcome outcome = Collect(source_, {Item(10)});
  store().SetFaultInjection(false);
  BatchResult result = ReadBatch(outcome, {});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(kOpCollect, result.operation_index);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(0, result.first_count);
  EXPECT_EQ(0, result.second_count);
  // The service's 500 reply has no body: nothing more to parse, the command ends.
  EXPECT_EQ(kStateSucceeded, outcome.final_state);
  EXPECT_EQ(0, ServiceIdOf(source_, 10));
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService({10});
}

TEST_F(ResourceWritesAgainstServiceTest, CollectAnsweredWith500AndAnAcceptingBodyIsAppliedOnce) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoadThroughRelay());
  ScriptedReply reply;
  reply.status = 500;
  reply.body = "<result return=\"1\" message=\"success\">"
               "<resource add=\"1\" id=\"7001\" state=\"0\"/></result>";
  relay_->Script("resource_batch_collect", reply);
  OperationOutcome outcome = Collect(source_, {Item(10)});
  // One outcome, given with the headers...
  BatchResult result = ReadBatch(outcome, {});
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(kStateSucceeded, outcome.final_state);
  // ...and the session takes what the body says the service did.
  EXPECT_EQ(source_, SessionResourceById(source_, 7001).category_id);
  EXPECT_EQ((std::vector<int>{source_}), AlbumsByCid(Cid(10)));
}

TEST_F(ResourceWritesAgainstServiceTest, WriteReplyWithoutReturnIsARefusal) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoadThroughRelay());
  ScriptedReply reply;
  reply.body = "<result message=\"success\"/>";
  relay_->Script("resource_update", reply);
  const std::wstring name = SessionResourceById(source_, r2_).name;
  ExpectResourceRefused(ModifyResource(source_, source_, r2_, L"renamed"), L"");
  EXPECT_EQ(name, SessionResourceById(source_, r2_).name);
}

TEST_F(ResourceWritesAgainstServiceTest, CollectWithoutServiceReportsTheConnectionFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  ExpectConnectionFailure(Collect(source_, {Item(10)}), kHttpErrorConnectionRefused, kOpCollect);
  EXPECT_TRUE(AlbumsByCid(Cid(10)).empty());
}

// ---------------------------------------------------------------- batch remove

TEST_F(ResourceWritesAgainstServiceTest, RemoveTakesTheResourcesOutOfAlbumAndIndex) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  BatchResult result = ReadBatch(RemoveResources(source_, {r3_, r1_}), {});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpRemove, result.operation_index);
  EXPECT_EQ(L"删除资源", result.title);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(source_, result.category_id);
  EXPECT_EQ(2, result.first_count);
  EXPECT_EQ((std::vector<int>{r3_, r1_}), result.first_ids);
  EXPECT_FALSE(store().GetResource(r1_).has_value());
  EXPECT_EQ(0, SessionResourceById(source_, r1_).id);
  EXPECT_EQ(0, SessionResourceById(source_, r3_).id);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService({1, 3});
}

TEST_F(ResourceWritesAgainstServiceTest, RemoveFromAnUnloadedAlbumEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ExpectAccepted(RemoveResources(unloaded_, {u30_}));
  EXPECT_FALSE(store().GetResource(u30_).has_value());
  // Nothing of the album was held, so its index pair stays.
  EXPECT_EQ((std::vector<int>{unloaded_}), AlbumsByCid(Cid(30)));
}

TEST_F(ResourceWritesAgainstServiceTest, RemovePassesOverAnIdTheSessionLacks) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  // Another client adds a resource after this session fetched Source.
  const int late = store().AddResource(source_, Resource(40));
  ExpectAccepted(RemoveResources(source_, {r2_, late, r3_}));
  EXPECT_EQ(0, ServiceIdOf(source_, 2));
  EXPECT_EQ(0, ServiceIdOf(source_, 3));
  // Every id the session held is gone from the album and from the index alike.
  EXPECT_EQ(0, SessionResourceById(source_, r2_).id);
  EXPECT_EQ(0, SessionResourceById(source_, r3_).id);
  ExpectIndexMatchesService({2, 3, 40});
}

TEST_F(ResourceWritesAgainstServiceTest, RemoveRefusalsLeaveSessionAndService) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("no_exist: one id is not in the album");
    OperationOutcome outcome = RemoveResources(source_, {r1_, t20_});
    ExpectBatchRefused(outcome, kOpRemove, L"专辑不存在");
    EXPECT_EQ(source_, ReadBatch(outcome, {}).category_id);
  }
  {
    SCOPED_TRACE("no_exist: no such album");
    ExpectBatchRefused(RemoveResources(kNoSuchAlbum, {r1_}), kOpRemove, L"专辑不存在");
  }
  {
    SCOPED_TRACE("forbidden");
    store().SetBlacklisted(kUser, true);
    ExpectBatchRefused(RemoveResources(source_, {r1_}), kOpRemove,
                       L"已被加入黑名单, 禁止操作");
    store().SetBlacklisted(kUser, false);
  }
  {
    SCOPED_TRACE("fail: database fault");
    store().SetFaultInjection(true);
    ExpectBatchRefused(RemoveResources(source_, {r1_}), kOpRemove, L"数据库错误");
    store().SetFaultInjection(false);
  }
  EXPECT_TRUE(store().GetResource(r1_).has_value());
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, RemoveWithAUserIdTheFormCarriesDifferentlyIsDenied) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
  ExpectBatchRefused(RemoveResources(source_, {r1_}), kOpRemove, L"cookie验证错误");
  EXPECT_TRUE(store().GetResource(r1_).has_value());
  ExpectLoadedAlbumsMatchService();
}

// The plug-in's failure code for a form too long for its buffer: nothing is sent.
constexpr int kRequestTooLong = static_cast<int>(0x8007006Fu);

TEST_F(ResourceWritesAgainstServiceTest, RemoveOfMoreIdsThanTheFormHoldsSendsNoForm) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  std::vector<int> ids(600, r1_);
  ExpectConnectionFailure(RemoveResources(source_, ids), kRequestTooLong, kOpRemove);
  EXPECT_TRUE(store().GetResource(r1_).has_value());
  ExpectLoadedAlbumsMatchService();
}

TEST_F(ResourceWritesAgainstServiceTest, RemoveWithoutServiceReportsTheAlbumInTheFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  // The failure notice carries the album id, not the connection's error code.
  ExpectConnectionFailure(RemoveResources(source_, {r1_}), source_, kOpRemove);
  EXPECT_EQ(r1_, SessionResourceById(source_, r1_).id);
}

// ---------------------------------------------------------------- copy

TEST_F(ResourceWritesAgainstServiceTest, CopyPutsCopiesAtTheFrontUnderNewIds) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const std::vector<int> target_before = SessionIds(target_);
  const std::vector<int> source_before = SessionIds(source_);
  BatchResult result = ReadBatch(CopyResources(source_, target_, {r2_, r3_}), {r2_, r3_});
  const int copy2 = ServiceIdOf(target_, 2);
  const int copy3 = ServiceIdOf(target_, 3);
  ASSERT_NE(0, copy2);
  ASSERT_NE(0, copy3);
  EXPECT_NE(r2_, copy2);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpCopy, result.operation_index);
  EXPECT_EQ(L"复制资源", result.title);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(source_, result.category_id);
  EXPECT_EQ(target_, result.target_category_id);
  EXPECT_EQ(2, result.first_count);
  EXPECT_EQ(0, result.second_count);
  EXPECT_EQ((std::vector<int>{r2_, r3_}), result.first_ids);
  EXPECT_TRUE(result.second_ids.empty());
  EXPECT_EQ((std::map<int, std::wstring>{{r2_, L"0"}, {r3_, L"0"}}), result.first_texts);

  // Each copy went to the front: the last one copied comes first.
  std::vector<int> expected = {copy3, copy2};
  expected.insert(expected.end(), target_before.begin(), target_before.end());
  EXPECT_EQ(expected, SessionIds(target_));
  EXPECT_EQ(source_before, SessionIds(source_));
  EXPECT_EQ(L"file-2.mp4", SessionResourceById(target_, copy2).name);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
  EXPECT_EQ(2u, AlbumsByCid(Cid(2)).size());
}

TEST_F(ResourceWritesAgainstServiceTest, CopyOntoAResourceWithTheSameUrlMergesIntoIt) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const std::vector<int> target_before = SessionIds(target_);
  BatchResult result = ReadBatch(CopyResources(source_, target_, {r1_}), {r1_});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ((std::vector<int>{r1_}), result.first_ids);
  ASSERT_NE(0, ServiceIdOf(target_, 1));
  // t21 shares r1's URL: it takes r1's values and keeps its id; no new entry.
  EXPECT_EQ(target_before, SessionIds(target_));
  SessionResource merged = SessionResourceById(target_, t21_);
  EXPECT_EQ(Cid(1), merged.cid);
  EXPECT_EQ(L"file-1.mp4", merged.name);
  EXPECT_EQ(target_, merged.category_id);
  EXPECT_EQ(source_, SessionResourceById(source_, r1_).category_id);
  ExpectAlbumMatchesService(source_);
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, CopyIntoAnUnloadedAlbumOnlyIndexesIt) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  BatchResult result = ReadBatch(CopyResources(source_, unloaded_, {r2_}), {});
  EXPECT_EQ(1, result.status);
  EXPECT_NE(0, ServiceIdOf(unloaded_, 2));
  EXPECT_TRUE(SessionIds(unloaded_).empty());
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, CopyListsEachRefusedResourceWithItsWord) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  OperationOutcome outcome =
      CopyResources(source_, target_, {audit_, r2_, undone_, r4_, kNoSuchResource});
  const int copy2 = ServiceIdOf(target_, 2);
  ASSERT_NE(0, copy2);
  BatchResult result = ReadBatch(outcome, {audit_, r2_, undone_, r4_, kNoSuchResource});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(1, result.first_count);
  EXPECT_EQ(4, result.second_count);
  EXPECT_EQ((std::vector<int>{r2_}), result.first_ids);
  EXPECT_EQ((std::vector<int>{audit_, undone_, r4_, kNoSuchResource}), result.second_ids);
  EXPECT_EQ((std::map<int, std::wstring>{{r2_, L"0"}}), result.first_texts);
  EXPECT_EQ((std::map<int, std::wstring>{{audit_, L"audit"},
                                         {undone_, L"undone"},
                                         {r4_, L"duplicate"},
                                         {kNoSuchResource, L"no_exist"}}),
            result.second_texts);
  EXPECT_EQ(copy2, SessionIds(target_).front());
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, CopyWithNothingCopiedReportsTheFirstWord) {
  AddFullAlbum();
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const struct {
    const char* what;
    int to;
    int id;
    const wchar_t* text;
  } cases[] = {
      {"audit", target_, audit_, L"审核中不允许移动复制"},
      {"undone", target_, undone_, L"\r\n下载未完成的资源不允许移动复制到专辑"},
      {"duplicate", target_, r4_, L"目标专辑已经收藏过该资源"},
      {"no_exist", target_, kNoSuchResource, L"目标专辑不存在"},
      {"excess", full_, r2_, L"目标专辑装不下更多的资源"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OperationOutcome outcome = CopyResources(source_, c.to, {c.id});
    ExpectBatchRefused(outcome, kOpCopy, c.text);
    BatchResult result = ReadBatch(outcome, {});
    EXPECT_EQ(source_, result.category_id);
    EXPECT_EQ(c.to, result.target_category_id);
  }
  EXPECT_EQ(500u, ServiceResources(full_).size());
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, CopyRefusalsOfTheWholeBatch) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("no_exist: no such target album");
    ExpectBatchRefused(CopyResources(source_, kNoSuchAlbum, {r1_}), kOpCopy, L"目标专辑不存在");
  }
  {
    SCOPED_TRACE("forbidden: copy has no text for it");
    store().SetBlacklisted(kUser, true);
    ExpectBatchRefused(CopyResources(source_, target_, {r2_}), kOpCopy, L"");
    store().SetBlacklisted(kUser, false);
  }
  {
    SCOPED_TRACE("fail: database fault");
    store().SetFaultInjection(true);
    ExpectBatchRefused(CopyResources(source_, target_, {r2_}), kOpCopy, L"目标专辑满");
    store().SetFaultInjection(false);
  }
  {
    SCOPED_TRACE("denied");
    ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
    ExpectBatchRefused(CopyResources(source_, target_, {r2_}), kOpCopy, L"cookie验证错误");
    ASSERT_EQ(S_OK, host().SignIn(kUin));
  }
  EXPECT_EQ(0, ServiceIdOf(target_, 2));
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, CopyBetweenAlbumsTheSessionLacksEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const int late = store().AddAlbum(kUser, Album("Late"));
  ExpectAccepted(CopyResources(source_, late, {r2_}));
  EXPECT_NE(0, ServiceIdOf(late, 2));
  EXPECT_EQ((std::vector<int>{source_}), AlbumsByCid(Cid(2)));
  ExpectLoadedAlbumsMatchService();
}

TEST_F(ResourceWritesAgainstServiceTest, CopyWithoutServiceReportsTheSourceInTheFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  ExpectConnectionFailure(CopyResources(source_, target_, {r2_}), source_, kOpCopy);
}

// ---------------------------------------------------------------- move

TEST_F(ResourceWritesAgainstServiceTest, MoveKeepsIdsAndPutsThemAtTheFront) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const std::vector<int> target_before = SessionIds(target_);
  BatchResult result = ReadBatch(MoveResources(source_, target_, {r2_, r3_}), {r2_, r3_});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpMove, result.operation_index);
  EXPECT_EQ(L"移动资源", result.title);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(source_, result.category_id);
  EXPECT_EQ(target_, result.target_category_id);
  EXPECT_EQ(2, result.first_count);
  EXPECT_EQ(0, result.second_count);
  EXPECT_EQ((std::vector<int>{r2_, r3_}), result.first_ids);
  EXPECT_EQ((std::map<int, std::wstring>{{r2_, L"0"}, {r3_, L"0"}}), result.first_texts);

  EXPECT_EQ(target_, store().GetResource(r2_)->album_id);
  std::vector<int> expected = {r3_, r2_};
  expected.insert(expected.end(), target_before.begin(), target_before.end());
  EXPECT_EQ(expected, SessionIds(target_));
  EXPECT_EQ(0, SessionResourceById(source_, r2_).id);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
  EXPECT_EQ((std::vector<int>{target_}), AlbumsByCid(Cid(2)));
}

TEST_F(ResourceWritesAgainstServiceTest, MoveIntoAnUnloadedAlbumOnlyLeavesTheSource) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  BatchResult result = ReadBatch(MoveResources(source_, unloaded_, {r2_}), {});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(unloaded_, store().GetResource(r2_)->album_id);
  EXPECT_EQ(0, SessionResourceById(source_, r2_).id);
  EXPECT_TRUE(SessionIds(unloaded_).empty());
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, MoveOntoAResourceWithTheSameUrlMergesIntoIt) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const std::vector<int> target_before = SessionIds(target_);
  BatchResult result = ReadBatch(MoveResources(source_, target_, {r1_}), {});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(target_, store().GetResource(r1_)->album_id);
  EXPECT_EQ(0, SessionResourceById(source_, r1_).id);
  EXPECT_EQ(target_before, SessionIds(target_));
  SessionResource merged = SessionResourceById(target_, t21_);
  EXPECT_EQ(Cid(1), merged.cid);
  EXPECT_EQ(target_, merged.category_id);
  ExpectAlbumMatchesService(source_);
}

TEST_F(ResourceWritesAgainstServiceTest, MoveListsEachRefusedResourceWithItsWord) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  BatchResult result = ReadBatch(
      MoveResources(source_, target_, {audit_, r2_, undone_, r4_, kNoSuchResource}),
      {audit_, r2_, undone_, r4_, kNoSuchResource});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(1, result.first_count);
  EXPECT_EQ(4, result.second_count);
  EXPECT_EQ((std::vector<int>{r2_}), result.first_ids);
  EXPECT_EQ((std::vector<int>{audit_, undone_, r4_, kNoSuchResource}), result.second_ids);
  EXPECT_EQ((std::map<int, std::wstring>{{audit_, L"audit"},
                                         {undone_, L"undone"},
                                         {r4_, L"duplicate"},
                                         {kNoSuchResource, L"no_exist"}}),
            result.second_texts);
  EXPECT_EQ(r2_, SessionIds(target_).front());
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, MoveWithNothingMovedReportsTheFirstWord) {
  AddFullAlbum();
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const struct {
    const char* what;
    int to;
    int id;
    const wchar_t* text;
  } cases[] = {
      {"audit", target_, audit_, L"审核中不允许移动复制"},
      {"undone", target_, undone_, L"\r\n下载未完成的资源不允许移动复制到专辑"},
      {"duplicate", target_, r4_, L"目标专辑已经收藏过该资源"},
      {"no_exist", target_, kNoSuchResource, L"目标专辑不存在"},
      {"excess", full_, r2_, L"目标专辑装不下更多的资源"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectBatchRefused(MoveResources(source_, c.to, {c.id}), kOpMove, c.text);
  }
  EXPECT_EQ(source_, store().GetResource(r2_)->album_id);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, MoveRefusalsOfTheWholeBatch) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("no_exist: no such source album");
    ExpectBatchRefused(MoveResources(kNoSuchAlbum, target_, {r1_}), kOpMove, L"目标专辑不存在");
  }
  {
    SCOPED_TRACE("forbidden: move has no text for it");
    store().SetBlacklisted(kUser, true);
    ExpectBatchRefused(MoveResources(source_, target_, {r2_}), kOpMove, L"");
    store().SetBlacklisted(kUser, false);
  }
  {
    SCOPED_TRACE("fail: database fault");
    store().SetFaultInjection(true);
    ExpectBatchRefused(MoveResources(source_, target_, {r2_}), kOpMove, L"目标专辑满");
    store().SetFaultInjection(false);
  }
  {
    SCOPED_TRACE("denied");
    ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
    ExpectBatchRefused(MoveResources(source_, target_, {r2_}), kOpMove, L"cookie验证错误");
    ASSERT_EQ(S_OK, host().SignIn(kUin));
  }
  EXPECT_EQ(source_, store().GetResource(r2_)->album_id);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, MoveBetweenAlbumsTheSessionLacksEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const int late = store().AddAlbum(kUser, Album("Late"));
  ExpectAccepted(MoveResources(source_, late, {r2_}));
  EXPECT_EQ(late, store().GetResource(r2_)->album_id);
  EXPECT_EQ(r2_, SessionResourceById(source_, r2_).id);
}

TEST_F(ResourceWritesAgainstServiceTest, MoveWithoutServiceReportsTheSourceInTheFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  ExpectConnectionFailure(MoveResources(source_, target_, {r2_}), source_, kOpMove);
  EXPECT_EQ(r2_, SessionResourceById(source_, r2_).id);
}

// ---------------------------------------------------------------- resource modify

TEST_F(ResourceWritesAgainstServiceTest, ModifyRenamesTheResourceInPlace) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  const std::vector<int> before = SessionIds(source_);
  ResourceResult result =
      ReadResource(ModifyResource(source_, source_, r2_, L"新名字 & more=1/50%", L"描述 ?"));
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kOpModify, result.operation_index);
  EXPECT_EQ(L"修改资源", result.title);
  EXPECT_EQ(L"", result.message);
  EXPECT_EQ(kUin, result.uin);
  EXPECT_EQ(source_, result.category_id);
  EXPECT_EQ(source_, result.target_category_id);
  EXPECT_EQ(r2_, result.resource_id);
  EXPECT_EQ("新名字 & more=1/50%", store().GetResource(r2_)->fields.name);
  EXPECT_EQ(before, SessionIds(source_));
  EXPECT_EQ(L"描述 ?", SessionResourceById(source_, r2_).desc);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, ModifyIntoAnotherAlbumMovesItToTheEnd) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  std::vector<int> expected = SessionIds(target_);
  expected.push_back(r2_);
  ResourceResult result = ReadResource(ModifyResource(source_, target_, r2_, L"moved"));
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(source_, result.category_id);
  EXPECT_EQ(target_, result.target_category_id);
  EXPECT_EQ(target_, store().GetResource(r2_)->album_id);
  EXPECT_EQ(expected, SessionIds(target_));
  EXPECT_EQ(0, SessionResourceById(source_, r2_).id);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
  EXPECT_EQ((std::vector<int>{target_}), AlbumsByCid(Cid(2)));
}

TEST_F(ResourceWritesAgainstServiceTest, ModifyIntoAnUnloadedAlbumStillFilesItThere) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ResourceResult result = ReadResource(ModifyResource(source_, unloaded_, r2_, L"moved"));
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(unloaded_, store().GetResource(r2_)->album_id);
  // The album's list was never fetched: it holds just the resource that came in.
  EXPECT_EQ((std::vector<int>{r2_}), SessionIds(unloaded_));
  EXPECT_EQ(unloaded_, SessionResourceById(unloaded_, r2_).category_id);
  bool loaded = true;
  EXPECT_EQ(S_OK, blog()->IsResourceListLoaded(kUin, unloaded_, &loaded));
  EXPECT_FALSE(loaded);
  ExpectAlbumMatchesService(source_);
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, ModifyOfAResourceTheSessionLacksEndsWithItsResult) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  ExpectAccepted(ModifyResource(unloaded_, unloaded_, u30_, L"renamed"));
  EXPECT_EQ("renamed", store().GetResource(u30_)->fields.name);
  EXPECT_TRUE(SessionIds(unloaded_).empty());
}

TEST_F(ResourceWritesAgainstServiceTest, ModifyRefusalsLeaveSessionAndService) {
  AddFullAlbum();
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  {
    SCOPED_TRACE("no_exist");
    ResourceResult result = ReadResource(ModifyResource(source_, source_, kNoSuchResource, L"x"));
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(L"专辑不存在", result.message);
    EXPECT_EQ(L"修改资源", result.title);
    EXPECT_EQ(kNoSuchResource, result.resource_id);
  }
  {
    SCOPED_TRACE("illegal");
    ExpectResourceRefused(ModifyResource(source_, source_, r2_, L"a badword"), L"敏感词");
  }
  {
    SCOPED_TRACE("fail: empty name");
    ExpectResourceRefused(ModifyResource(source_, source_, r2_, L""), L"数据库错误");
  }
  {
    SCOPED_TRACE("duplicate: the target holds that content");
    ExpectResourceRefused(ModifyResource(source_, target_, r4_, L"twin"), L"存在同名专辑");
  }
  {
    SCOPED_TRACE("excess: the target is full");
    ExpectResourceRefused(ModifyResource(source_, full_, r2_, L"crowded"), L"专辑数达到上限");
  }
  {
    SCOPED_TRACE("forbidden");
    store().SetBlacklisted(kUser, true);
    ExpectResourceRefused(ModifyResource(source_, source_, r2_, L"banned"),
                          L"已被加入黑名单, 禁止操作");
    store().SetBlacklisted(kUser, false);
  }
  {
    SCOPED_TRACE("fail: database fault");
    store().SetFaultInjection(true);
    ExpectResourceRefused(ModifyResource(source_, source_, r2_, L"faulty"), L"数据库错误");
    store().SetFaultInjection(false);
  }
  {
    SCOPED_TRACE("denied");
    ASSERT_NO_FATAL_FAILURE(SignInMangledUser());
    ExpectResourceRefused(ModifyResource(source_, source_, r2_, L"denied"), L"cookie验证错误");
    ASSERT_EQ(S_OK, host().SignIn(kUin));
  }
  EXPECT_EQ("file-2.mp4", store().GetResource(r2_)->fields.name);
  EXPECT_EQ(source_, store().GetResource(r4_)->album_id);
  ExpectLoadedAlbumsMatchService();
  ExpectIndexMatchesService();
}

TEST_F(ResourceWritesAgainstServiceTest, ModifyWithAFormTooLongForItsBufferSendsNoForm) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  // Nothing goes out: the failure sinks hear that the request was too long.
  ExpectConnectionFailure(ModifyResource(source_, source_, r2_, std::wstring(1100, L'n')),
                          kRequestTooLong, kOpModify);
  EXPECT_EQ("file-2.mp4", store().GetResource(r2_)->fields.name);
  ExpectLoadedAlbumsMatchService();
}

TEST_F(ResourceWritesAgainstServiceTest, ModifyWithoutServiceReportsTheConnectionFailure) {
  ASSERT_NO_FATAL_FAILURE(SignInAndLoad());
  service_.Stop();
  ExpectConnectionFailure(ModifyResource(source_, source_, r2_, L"offline"),
                          kHttpErrorConnectionRefused, kOpModify);
  EXPECT_EQ(L"file-2.mp4", SessionResourceById(source_, r2_).name);
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
