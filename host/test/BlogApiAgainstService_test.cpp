// The plug-in's blog API end to end: the host's calls on IZQBlog and IZQBlogOperation,
// the commands they start, the reference blog service that answers them, and the
// session the queries read afterwards.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "host/app/AlbumDraft.h"
#include "host/test/BlogServiceFixture.h"
#include "host/workshop/CommandWorkshop.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IResultOnResComment.h"
#include "interfaces/ISettingsSection.h"
#include "interfaces/ISettingsStore.h"

namespace Velmora {
namespace ZQHost {
namespace {

using ZQBlog::Service::AlbumRecord;
using ZQBlog::Service::ResourceFields;
using ZQBlog::Service::ResourceRecord;

const char kUser[] = "demo";
const wchar_t kWideUser[] = L"demo";

int Status(ICommonResult* result) {
  int status = -1;
  result->GetStatus(&status);
  return status;
}
int OperationIndex(ICommonResult* result) {
  int index = -2;
  result->GetOperationIndex(&index);
  return index;
}
std::wstring Uin(ICommonResult* result) {
  BSTR text = nullptr;
  result->GetUin(&text);
  return TakeBstr(text);
}

class BlogApiAgainstServiceTest : public BlogServiceFixture {
 protected:
  // The service's albums of uin, by name.
  AlbumRecord AlbumNamed(const std::string& uin, const std::string& name) {
    auto list = store().GetAlbumList(uin);
    if (list) {
      for (const AlbumRecord& album : list->albums) {
        if (album.fields.name == name) return album;
      }
    }
    return AlbumRecord();
  }
  size_t AlbumCount(const std::string& uin) {
    auto list = store().GetAlbumList(uin);
    return list ? list->albums.size() : 0;
  }

  OperationOutcome CreateAlbum(const std::wstring& name) {
    CComPtr<IZQAlbumInfo> draft;
    EXPECT_EQ(S_OK, AlbumDraft::Create(&draft));
    draft->SetCategoryName(name.c_str());
    draft->SetShowStatus(1);
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->CreateAlbum(draft, nullptr, command);
    });
  }
  OperationOutcome RemoveAlbum(int id) {
    return Run([&](IZQBlogOperation* operation, IWorkshopCmd** command) {
      return operation->RemoveAlbum(id, nullptr, command);
    });
  }
};

TEST_F(BlogApiAgainstServiceTest, AnotherUsersBlogIsReadThroughTheFourFetches) {
  ASSERT_TRUE(store().SeedDemo("other"));
  ASSERT_TRUE(store().SeedDemo(kUser));
  ASSERT_NO_FATAL_FAILURE(StartHost(kWideUser));

  OperationOutcome out = RefreshDirectory(L"other");
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(1, Status(out.result));
  EXPECT_EQ(L"other", Uin(out.result));
  bool opened = false;
  ASSERT_EQ(S_OK, blog()->IsBlogOpened(L"other", &opened));
  EXPECT_TRUE(opened);
  BSTR url = nullptr;
  ASSERT_EQ(S_OK, blog()->GetCidDatUrl(L"other", &url));
  EXPECT_EQ(L"http://data.velmora.cn/cid/other/Cid.dat", TakeBstr(url));

  out = FetchAlbumList(L"other");
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(L"other", Uin(out.result));
  EXPECT_EQ(2, OperationIndex(out.result));
  const auto listed = store().GetAlbumList("other")->albums;
  std::vector<SessionAlbum> albums = SessionAlbums(L"other");
  ASSERT_EQ(listed.size(), albums.size());
  for (const AlbumRecord& album : listed) {
    const SessionAlbum held = SessionAlbumById(L"other", album.id);
    EXPECT_EQ(album.id, held.id);
    EXPECT_FALSE(held.name.empty());
  }

  const AlbumRecord travel = AlbumNamed("other", "旅行");
  ASSERT_NE(0, travel.id);
  const std::vector<ResourceRecord> resources =
      store().GetResourceList("other", travel.id)->resources;
  ASSERT_FALSE(resources.empty());

  out = FetchCidDat(L"other");
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(L"other", Uin(out.result));
  EXPECT_EQ(1, OperationIndex(out.result));
  EXPECT_EQ(std::vector<int>{travel.id}, AlbumsByCid(WideFromUtf8(resources[0].fields.cid)));

  bool loaded = true;
  ASSERT_EQ(S_OK, blog()->IsResourceListLoaded(L"other", travel.id, &loaded));
  EXPECT_FALSE(loaded);
  out = FetchResourceList(L"other", travel.id);
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(L"other", Uin(out.result));
  EXPECT_EQ(3, OperationIndex(out.result));
  ASSERT_EQ(S_OK, blog()->IsResourceListLoaded(L"other", travel.id, &loaded));
  EXPECT_TRUE(loaded);
  const SessionAlbum held = SessionAlbumById(L"other", travel.id);
  ASSERT_EQ(resources.size(), held.resources.size());
  CComPtr<IZQResInfo> first;
  ASSERT_EQ(S_OK, blog()->GetResourceInfo(L"other", resources[0].id, &first));
  SessionResource resource = ReadSessionResource(first);
  EXPECT_EQ(WideFromUtf8(resources[0].fields.cid), resource.cid);
  EXPECT_EQ(travel.id, resource.category_id);

  // The resource list replaces the album's pairs in the content-id index with its own.
  EXPECT_EQ(std::vector<int>{travel.id}, AlbumsByCid(WideFromUtf8(resources[0].fields.cid)));

  // The signed-in user's blog was never fetched: the argument chose the user.
  CComPtr<IZQAlbumListInfo> mine;
  EXPECT_EQ(E_FAIL, blog()->GetAlbumListInfo(kWideUser, &mine));
  EXPECT_EQ(E_FAIL, blog()->IsBlogOpened(kWideUser, &opened));
}

TEST_F(BlogApiAgainstServiceTest, NothingStartsBeforeAUserSignsIn) {
  ASSERT_TRUE(store().SeedDemo(kUser));
  host_ = std::make_unique<HostApplication>(Options());
  std::string error;
  ASSERT_TRUE(host_->Start(&error)) << error;
  ASSERT_EQ(S_OK, blog()->ClearSession());
  const size_t albums_before = AlbumCount(kUser);
  const int some_album = store().GetAlbumList(kUser)->albums.front().id;

  IZQBlogOperation* op = host().Operation();
  CComPtr<IZQAlbumInfo> draft;
  ASSERT_EQ(S_OK, AlbumDraft::Create(&draft));
  draft->SetCategoryName(L"too early");
  const int ids[] = {1};
  auto call = [&](const char* name, HRESULT (*run)(IZQBlogOperation*, IWorkshopCmd**, void*),
                  void* context) {
    IWorkshopCmd* command = nullptr;
    HRESULT hr = run(op, &command, context);
    EXPECT_EQ(E_FAIL, hr) << name;
    EXPECT_EQ(nullptr, command) << name;
    if (command != nullptr) command->Release();
  };
  struct Args {
    IZQAlbumInfo* draft;
    int album;
    const int* ids;
  } args{draft, some_album, ids};
  call("RefreshBlogServerInfo", [](IZQBlogOperation* o, IWorkshopCmd** c, void*) {
    return o->RefreshBlogServerInfo(L"demo", 0, nullptr, c);
  }, &args);
  call("GetCidDat", [](IZQBlogOperation* o, IWorkshopCmd** c, void*) {
    return o->GetCidDat(L"demo", nullptr, c);
  }, &args);
  call("GetAlbumList", [](IZQBlogOperation* o, IWorkshopCmd** c, void*) {
    return o->GetAlbumList(L"demo", nullptr, c);
  }, &args);
  call("GetResourceList", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    return o->GetResourceList(L"demo", static_cast<Args*>(a)->album, nullptr, c);
  }, &args);
  call("BatchCollect", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    return o->BatchCollect(static_cast<Args*>(a)->album, nullptr, 0, nullptr, c);
  }, &args);
  call("BatchRemove", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    Args* x = static_cast<Args*>(a);
    return o->BatchRemove(x->album, 1, x->ids, nullptr, c);
  }, &args);
  call("CreateAlbum", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    return o->CreateAlbum(static_cast<Args*>(a)->draft, nullptr, c);
  }, &args);
  call("ModifyAlbum", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    return o->ModifyAlbum(static_cast<Args*>(a)->draft, nullptr, c);
  }, &args);
  call("ModifyResource", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    Args* x = static_cast<Args*>(a);
    return o->ModifyResource(x->album, x->album, 1, L"n", L"d", nullptr, c);
  }, &args);
  call("MoveResource", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    Args* x = static_cast<Args*>(a);
    return o->MoveResource(x->album, x->album + 1, false, 1, x->ids, nullptr, c);
  }, &args);
  call("CopyResource", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    Args* x = static_cast<Args*>(a);
    return o->CopyResource(x->album, x->album + 1, true, 1, x->ids, nullptr, c);
  }, &args);
  call("RemoveAlbum", [](IZQBlogOperation* o, IWorkshopCmd** c, void* a) {
    return o->RemoveAlbum(static_cast<Args*>(a)->album, nullptr, c);
  }, &args);
  call("RefreshResComment", [](IZQBlogOperation* o, IWorkshopCmd** c, void*) {
    return o->RefreshResComment(L"key", 1, nullptr, c);
  }, &args);

  // Nothing reached the workshop or the service, and no command id was used up.
  EXPECT_EQ(0u, host().Workshop()->PendingCount());
  EXPECT_EQ(albums_before, AlbumCount(kUser));
  EXPECT_EQ(0, AlbumNamed(kUser, "too early").id);
  ASSERT_EQ(S_OK, host().SignIn(kWideUser));
  OperationOutcome out = RefreshDirectory(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(1, out.command_id);
}

TEST_F(BlogApiAgainstServiceTest, WritesGoOutForTheLowerCasedSignedInUser) {
  ASSERT_TRUE(store().SeedDemo(kUser));
  ASSERT_NO_FATAL_FAILURE(StartHost(L"DeMo"));
  ASSERT_EQ(OperationOutcome::Kind::kResult, RefreshDirectory(kWideUser).kind);
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchAlbumList(kWideUser).kind);
  const size_t before = AlbumCount(kUser);

  OperationOutcome out = CreateAlbum(L"Mixed case");
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(1, Status(out.result)) << out.Describe();
  EXPECT_EQ(6, OperationIndex(out.result));
  EXPECT_EQ(kWideUser, Uin(out.result));
  const AlbumRecord made = AlbumNamed(kUser, "Mixed case");
  ASSERT_NE(0, made.id);
  EXPECT_EQ(before + 1, AlbumCount(kUser));
  EXPECT_EQ(0u, AlbumCount("DeMo"));
  // The session files it under the same lower-cased user.
  EXPECT_EQ(L"Mixed case", SessionAlbumById(kWideUser, made.id).name);

  out = RemoveAlbum(made.id);
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(1, Status(out.result));
  EXPECT_EQ(kWideUser, Uin(out.result));
  EXPECT_FALSE(store().GetAlbum(made.id).has_value());
}

TEST_F(BlogApiAgainstServiceTest, CommandIdsCountFromOneAndRestartAfterClearSession) {
  ASSERT_TRUE(store().SeedDemo(kUser));
  ASSERT_NO_FATAL_FAILURE(StartHost(kWideUser));
  const int album = AlbumNamed(kUser, "旅行").id;
  ASSERT_NE(0, album);

  const OperationOutcome first = RefreshDirectory(kWideUser);
  const OperationOutcome second = FetchAlbumList(kWideUser);
  const OperationOutcome third = FetchResourceList(kWideUser, album);
  ASSERT_EQ(OperationOutcome::Kind::kResult, first.kind) << first.Describe();
  ASSERT_EQ(OperationOutcome::Kind::kResult, second.kind) << second.Describe();
  ASSERT_EQ(OperationOutcome::Kind::kResult, third.kind) << third.Describe();
  EXPECT_EQ(1, first.command_id);
  EXPECT_EQ(2, second.command_id);
  EXPECT_EQ(3, third.command_id);
  // Each result is filed under its id.
  const int indexes[] = {0, 2, 3};
  for (int id = 1; id <= 3; ++id) {
    CComPtr<ICommonResult> result;
    ASSERT_EQ(S_OK, blog()->GetCommandResult(id, &result)) << id;
    EXPECT_EQ(indexes[id - 1], OperationIndex(result)) << id;
  }

  ASSERT_EQ(S_OK, blog()->ClearSession());
  CComPtr<ICommonResult> none;
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(1, &none));
  EXPECT_TRUE(SessionAlbums(kWideUser).empty());
  bool opened = false;
  EXPECT_EQ(E_FAIL, blog()->IsBlogOpened(kWideUser, &opened));

  // The signed-in user stays; the next command is number 1 again.
  const OperationOutcome again = RefreshDirectory(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, again.kind) << again.Describe();
  EXPECT_EQ(1, again.command_id);
  CComPtr<ICommonResult> result;
  ASSERT_EQ(S_OK, blog()->GetCommandResult(1, &result));
  EXPECT_EQ(0, OperationIndex(result));
  EXPECT_EQ(E_FAIL, blog()->GetCommandResult(2, &none));
}

TEST_F(BlogApiAgainstServiceTest, AlbumsByCidAnswersTheNeededCountWhenTheArrayIsShort) {
  ASSERT_TRUE(store().SeedDemo(kUser));
  const auto list = store().GetAlbumList(kUser)->albums;
  ASSERT_GE(list.size(), 2u);
  const AlbumRecord travel = AlbumNamed(kUser, "旅行");
  const std::vector<ResourceRecord> held = store().GetResourceList(kUser, travel.id)->resources;
  ASSERT_FALSE(held.empty());
  const std::string cid = held[0].fields.cid;
  // The same content in a second album.
  const int other_album = list[0].id != travel.id ? list[0].id : list[1].id;
  ResourceFields copy = held[0].fields;
  copy.name = "again";
  ASSERT_GT(store().AddResource(other_album, copy), 0);
  ASSERT_NO_FATAL_FAILURE(StartHost(kWideUser));

  int ids[4] = {-7, -7, -7, -7};
  int count = 4;
  // No content-id table yet: the index is empty.
  EXPECT_EQ(E_FAIL, blog()->GetAlbumsByCid(WideFromUtf8(cid).c_str(), ids, &count));

  ASSERT_EQ(OperationOutcome::Kind::kResult, RefreshDirectory(kWideUser).kind);
  const OperationOutcome out = FetchCidDat(kWideUser);
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  count = 0;
  EXPECT_EQ(E_OUTOFMEMORY, blog()->GetAlbumsByCid(WideFromUtf8(cid).c_str(), ids, &count));
  EXPECT_EQ(2, count);
  count = 1;
  EXPECT_EQ(E_OUTOFMEMORY, blog()->GetAlbumsByCid(WideFromUtf8(cid).c_str(), ids, &count));
  EXPECT_EQ(2, count);
  count = 2;
  ASSERT_EQ(S_OK, blog()->GetAlbumsByCid(WideFromUtf8(cid).c_str(), ids, &count));
  ASSERT_EQ(2, count);
  std::vector<int> found(ids, ids + 2);
  std::sort(found.begin(), found.end());
  std::vector<int> expected = {travel.id, other_album};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, found);
  EXPECT_EQ(-7, ids[2]);
}

TEST_F(BlogApiAgainstServiceTest, QueriesForAlbumsTheListDoesNotHold) {
  ASSERT_TRUE(store().SeedDemo(kUser));
  ASSERT_NO_FATAL_FAILURE(StartHost(kWideUser));
  ASSERT_EQ(OperationOutcome::Kind::kResult, RefreshDirectory(kWideUser).kind);
  ASSERT_EQ(OperationOutcome::Kind::kResult, FetchAlbumList(kWideUser).kind);
  int unknown = 1;
  for (const SessionAlbum& album : SessionAlbums(kWideUser)) {
    unknown = std::max(unknown, album.id + 1);
  }

  // The flag is left as the caller set it, either way.
  for (bool initial : {true, false}) {
    bool loaded = initial;
    EXPECT_EQ(S_OK, blog()->IsResourceListLoaded(kWideUser, unknown, &loaded));
    EXPECT_EQ(initial, loaded);
  }
  // A known album whose resources were not fetched reads false.
  const int known = SessionAlbums(kWideUser).front().id;
  bool loaded = true;
  EXPECT_EQ(S_OK, blog()->IsResourceListLoaded(kWideUser, known, &loaded));
  EXPECT_FALSE(loaded);

  IZQAlbumInfo* album = reinterpret_cast<IZQAlbumInfo*>(&loaded);  // any non-null value
  EXPECT_EQ(E_FAIL, blog()->GetAlbumInfo(kWideUser, unknown, &album));
  EXPECT_EQ(nullptr, album);
  CComPtr<IZQAlbumInfo> present;
  EXPECT_EQ(S_OK, blog()->GetAlbumInfo(kWideUser, known, &present));
  ASSERT_TRUE(present);
  EXPECT_EQ(known, ReadSessionAlbum(present).id);
}

TEST_F(BlogApiAgainstServiceTest, CidValueReadsTheCountTheCommentRefreshStored) {
  ASSERT_TRUE(store().SeedDemo(kUser));
  store().SetCommentCount("K123", 57);
  // Signed in with capitals: the settings section is the lower-cased user's.
  ASSERT_NO_FATAL_FAILURE(StartHost(L"DeMo"));
  int value = -1;
  EXPECT_EQ(E_FAIL, blog()->GetCidValue(L"K123", &value));

  const OperationOutcome out = Run([](IZQBlogOperation* operation, IWorkshopCmd** command) {
    return operation->RefreshResComment(L"K123", 9, nullptr, command);
  });
  ASSERT_EQ(OperationOutcome::Kind::kResult, out.kind) << out.Describe();
  EXPECT_EQ(3, out.result_kind);
  CComPtr<IResultOnResComment> comment;
  ASSERT_EQ(S_OK, out.result.QueryInterface(&comment));
  ASSERT_TRUE(comment);
  int number = 0;
  comment->GetRequestNumber(&number);
  EXPECT_EQ(9, number);
  int count = 0;
  comment->GetCategoryId(&count);
  EXPECT_EQ(57, count);
  EXPECT_EQ(kWideUser, Uin(comment));

  ASSERT_EQ(S_OK, blog()->GetCidValue(L"K123", &value));
  EXPECT_EQ(57, value);
  // The value sits in the host's store under "demoCID".
  CComPtr<ISettingsSection> section;
  BSTR name = SysAllocString(L"demoCID");
  ASSERT_EQ(S_OK, host().SettingsStore()->OpenSection(name, &section));
  SysFreeString(name);
  ASSERT_TRUE(section);
  char text[32] = {};
  int length = sizeof text;
  ASSERT_EQ(S_OK, section->ReadValue("K123", text, &length));
  EXPECT_EQ("57", std::string(text, static_cast<size_t>(length)));
  // Text the host keeps there that is not a number reads as 0.
  ASSERT_EQ(S_OK, section->WriteValue("words", 0, "many", 4));
  value = -1;
  ASSERT_EQ(S_OK, blog()->GetCidValue(L"words", &value));
  EXPECT_EQ(0, value);
  EXPECT_EQ(E_FAIL, blog()->GetCidValue(L"absent", &value));
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
