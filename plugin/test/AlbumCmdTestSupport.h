// Test fixture of the album write command tests (included by *_test.cpp only): the
// fake host with an XML reply parser, the process-wide session with the three album
// endpoints and recording sinks, a scripted HTTP exchange, albums as a host describes
// them, a text picture of a user's albums and the content-id index for comparing
// session states, and the reading of a filed ResultOnAlbum.
#ifndef ZQBLOG_TEST_ALBUMCMDTESTSUPPORT_H_
#define ZQBLOG_TEST_ALBUMCMDTESTSUPPORT_H_

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/BstrText.h"
#include "data/ResourceInfo.h"
#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnAlbum.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/SessionTestSupport.h"
#include "test/XmlReplyTestSupport.h"
#include "util/CriticalSection.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace album_testing {

typedef std::vector<std::pair<std::string, std::string>> Headers;
typedef std::vector<std::string> Picture;

const wchar_t kUin[] = L"10001";
const char kUinText[] = "10001";
const int kCommandId = 41;
const char kEndpointHost[] = "post.velmora.cn";

// The reply <result name="value" .../>.
inline std::string ResultReply(const Headers& values) {
  xml_testing::ElementPtr root = xml_testing::MakeElement("result");
  for (const auto& value : values) root->Attr(value.first, value.second);
  return xml_testing::XmlText(*root);
}

// An album as a host describes it.
struct AlbumSpec {
  int id = -1;
  std::wstring name;
  int showStatus = 0;
  int categoryType = 0;
  std::wstring desc;
  std::wstring lastTime;
  std::wstring picUrl;
  int tagNum = 0;
  std::vector<std::wstring> tags;  // written to slots 0, 1, ...
  int newlyAdded = 0;
};

inline CComPtr<AlbumInfo> MakeAlbum(const AlbumSpec& spec) {
  CComObject<AlbumInfo>* created = nullptr;
  EXPECT_EQ(S_OK, CComObject<AlbumInfo>::CreateInstance(&created));
  CComPtr<AlbumInfo> album(created);
  album->SetId(spec.id);
  album->SetCategoryName(spec.name.c_str());
  album->SetShowStatus(spec.showStatus);
  album->SetCategoryType(spec.categoryType);
  album->SetDesc(spec.desc.c_str());
  album->SetLastTime(spec.lastTime.c_str());
  album->SetPicUrl(spec.picUrl.c_str());
  album->SetTagNum(spec.tagNum);
  for (size_t i = 0; i < spec.tags.size(); ++i) {
    album->SetTag(static_cast<int>(i), spec.tags[i].c_str());
  }
  album->SetNewlyAddedResNum(spec.newlyAdded);
  return album;
}

// text as UTF-8, for readable pictures.
inline std::string Narrow(const std::wstring& text) {
  return WideToMultiByte(CP_UTF8, text.data(), text.size());
}

inline std::string TextOf(HRESULT (STDMETHODCALLTYPE AlbumInfo::*get)(BSTR*), AlbumInfo* album) {
  ScopedBstr text;
  (album->*get)(text.Receive());
  return Narrow(text.ToWide());
}

// One line per album of uin's list (every field, the three tag slots, the resource
// ids), then one line per content-id pair; "no list" when uin has none.
inline Picture PictureOf(BlogSession_* session, const std::wstring& uin) {
  Picture picture;
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->FindAlbumList(uin);
  if (list == nullptr) {
    picture.push_back("no list");
  } else {
    int count = 0;
    list->GetAlbumCount(&count);
    for (int i = 0; i < count; ++i) {
      CComPtr<IZQAlbumInfo> item;
      list->GetAlbum(i, &item);
      auto* album = static_cast<AlbumInfo*>(item.p);
      int id = 0, show = 0, type = 0, tagNum = 0, added = 0, resources = 0;
      album->GetId(&id);
      album->GetShowStatus(&show);
      album->GetCategoryType(&type);
      album->GetTagNum(&tagNum);
      album->GetNewlyAddedResNum(&added);
      album->GetResourceCount(&resources);
      std::string line = "album " + std::to_string(id) +
                         " name=" + TextOf(&AlbumInfo::GetCategoryName, album) +
                         " show=" + std::to_string(show) + " type=" + std::to_string(type) +
                         " desc=" + TextOf(&AlbumInfo::GetDesc, album) +
                         " last=" + TextOf(&AlbumInfo::GetLastTime, album) +
                         " pic=" + TextOf(&AlbumInfo::GetPicUrl, album) +
                         " tagnum=" + std::to_string(tagNum) + " tags=";
      for (int t = 0; t < AlbumInfo::kTagSlots; ++t) {
        ScopedBstr tag;
        album->GetTag(t, tag.Receive());
        line += (t > 0 ? "|" : "") + Narrow(tag.ToWide());
      }
      line += " new=" + std::to_string(added) +
              " loaded=" + std::to_string(album->ResourcesLoaded() ? 1 : 0) + " res=";
      for (int r = 0; r < resources; ++r) {
        CComPtr<IZQResInfo> resource;
        album->GetResource(r, &resource);
        int resourceId = 0;
        resource->GetId(&resourceId);
        line += (r > 0 ? "," : "") + std::to_string(resourceId);
      }
      picture.push_back(line);
    }
  }
  session->ForEachCidPair([&picture](const std::wstring& cid, int albumId) {
    picture.push_back("cid " + Narrow(cid) + " -> " + std::to_string(albumId));
  });
  return picture;
}

// What a filed ResultOnAlbum says.
struct Filed {
  int status = -1, operationIndex = -1, categoryId = -1, extraValue = -1;
  std::wstring uin, messageText, title, categoryName;
};

inline std::optional<Filed> FiledResult(BlogSession_* session, int commandId) {
  CComPtr<ICommonResult> common;
  if (FAILED(session->FetchResult(commandId, &common))) return std::nullopt;
  CComPtr<IResultOnAlbum> result;
  if (FAILED(common.QueryInterface(&result))) return std::nullopt;
  Filed filed;
  result->GetStatus(&filed.status);
  result->GetOperationIndex(&filed.operationIndex);
  result->GetCategoryId(&filed.categoryId);
  result->GetExtraValue(&filed.extraValue);
  ScopedBstr text;
  result->GetUin(text.Receive());
  filed.uin = text.ToWide();
  result->GetMessageText(text.Receive());
  filed.messageText = text.ToWide();
  result->GetOperationTitle(text.Receive());
  filed.title = text.ToWide();
  result->GetCategoryName(text.Receive());
  filed.categoryName = text.ToWide();
  return filed;
}

// The fixture: the fake host (role 2 unless a test sets it), the process-wide session
// cleared, the signed-in user kUin, the endpoints of the three album operations, and
// the sinks.
class AlbumCmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session->ClearAll();
    session->SetCurrentUin(kUin);
    {
      Hold hold(session->ServerLock());
      session->SetOperationEndpoint(kEndpointRemoveAlbum, L"post.velmora.cn",
                                    L"/api/category_delete");
      session->SetOperationEndpoint(kEndpointCreateAlbum, L"post.velmora.cn",
                                    L"/api/category_create");
      session->SetOperationEndpoint(kEndpointModifyAlbum, L"post.velmora.cn",
                                    L"/api/category_update");
    }
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    session->ClearAll();
    session->SetCurrentUin(L"");
  }

  // A new command of class T for kUin with kCommandId, on the platform's factory.
  template <class T>
  CComPtr<CComObject<ShareSessionCmd<T>>> NewCommand() {
    CComObject<ShareSessionCmd<T>>* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<T>(&created));
    CComPtr<CComObject<ShareSessionCmd<T>>> command(created);
    command->SetUserId(kUin);
    command->SetCommandId(kCommandId);
    command->SetHttpFactory(platform->factory);
    return command;
  }

  // Starts command and plays the connection through a 200 reply with body; returns
  // the final state.
  int Exchange(IWorkshopCmd* command, const std::string& body) {
    EXPECT_EQ(S_OK, command->Start());
    CComPtr<IHttpConnectionClientEvents> events = platform->factory->connection->events();
    EXPECT_NE(nullptr, events.p);
    if (!events) return -1;
    events->OnConnect(0, nullptr);
    command->Step();
    events->OnSendComplete(0, nullptr);
    command->Step();
    CComPtr<framework_testing::FakeReplyHeaders> headers(new framework_testing::FakeReplyHeaders(200));
    CComPtr<framework_testing::FakeBuffer> buffer(new framework_testing::FakeBuffer(body));
    events->OnComplete(0, headers, buffer, nullptr);
    command->Step();
    int state = -1;
    command->GetState(&state);
    return state;
  }

  // The body the command sent (nullopt: none), and the request.
  std::optional<std::string> SentBody() { return platform->factory->connection->sentBody(); }
  CComPtr<framework_testing::FakeRequest> SentRequest() { return platform->factory->lastRequest; }

  // A fresh HTTP factory for the next command.
  void NewConnection() { platform->factory = new framework_testing::FakeFactory; }

  // Adds to kUin's list an album with its fields and resources (id, cid), each
  // resource's cid in the content-id index.
  void Seed(const AlbumSpec& spec, const std::vector<std::pair<int, std::wstring>>& resources) {
    Hold hold(session->AlbumListLock());
    AlbumListInfo* list = session->GetOrCreateAlbumList(kUin);
    AlbumInfo* album = list->NewAlbum();
    CComPtr<AlbumInfo> source = MakeAlbum(spec);
    album->CopyFrom(*source);
    album->SetLastTime(spec.lastTime.c_str());
    album->SetNewlyAddedResNum(spec.newlyAdded);
    for (auto it = resources.rbegin(); it != resources.rend(); ++it) {
      ResourceInfo* resource = album->NewResource();
      resource->SetId(it->first);
      resource->SetCid(it->second.c_str());
      session->AddCidPair(it->second, spec.id);
    }
    if (!resources.empty()) album->SetResourcesLoaded(true);
  }

  // Applies payload through the process-wide decoder under noticeCode.
  bool Decode(int noticeCode, const std::vector<BYTE>& payload) {
    platform->manager->channel->broadcast = payload;
    BlogShareSessionDecoder_* decoder = BlogShareSessionDecoder_::Instance();
    return decoder != nullptr && decoder->DecodeMessage(noticeCode, 0, 0);
  }

  // The payloads and notices the serving channel got.
  std::vector<std::vector<BYTE>> Published() { return platform->manager->server->published(); }
  std::vector<int> NoticeCodes() {
    std::vector<int> codes;
    for (const auto& notice : platform->manager->server->notices()) {
      EXPECT_EQ(0, notice.first);
      EXPECT_EQ(0, notice.value1);
      EXPECT_EQ(0, notice.value2);
      codes.push_back(notice.type);
    }
    return codes;
  }

  Picture Albums() { return PictureOf(session, kUin); }
  std::optional<Filed> Result() { return FiledResult(session, kCommandId); }

  BlogSession_* session = BlogSession_::Instance();
  CComPtr<xml_testing::XmlPlatform> platform{new xml_testing::XmlPlatform};
  commands_testing::HostPlatformScope scope{platform};
  session_testing::RecordingResultSink results;
  session_testing::RecordingFailureSink failures;
};

}  // namespace album_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_ALBUMCMDTESTSUPPORT_H_
