// The fixture of the batch remove, copy and move command tests (included by *_test.cpp
// only): the process-wide session with the user's endpoints and a seeded album list, the
// fake host with an XML parser (XmlReplyTestSupport.h), a command of type Cmd made as
// the plug-in makes it, the exchange played through the recording connection, and the
// broadcast replayed through the decoder on a freshly seeded session.
//
// The seeded albums of user kUin ("10001"):
//   3  loaded      resources 5, 7, 9 (in this order); cids C5, C7, C9; URLs u5, u7, u9
//   4  loaded      resources 11 (URL u11) and 12 (URL u9, another copy of 9's file)
//   6  not loaded  no resources
// and the content-id index (C5,3) (C7,3) (C9,3) (C11,4) (C9,4) (C8,6).
#ifndef ZQBLOG_TEST_RESOURCEBATCHTESTSUPPORT_H_
#define ZQBLOG_TEST_RESOURCEBATCHTESTSUPPORT_H_

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/ResultOnBatchOperation.h"
#include "framework/ShareSessionCmd.h"
#include "interfaces/IResultOnBatchOperation.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/CommandTestSupport.h"
#include "test/SessionTestSupport.h"
#include "test/XmlReplyTestSupport.h"
#include "util/CriticalSection.h"
#include "util/StringConversion.h"

namespace Velmora {
namespace ZQBlog {
namespace batch_testing {

typedef std::vector<std::pair<std::string, std::string>> HeaderList;
typedef std::vector<BYTE> Bytes;

const wchar_t kUin[] = L"10001";
const char kUinAnsi[] = "10001";
const int kCommandId = 77;
const char kEndpointHost[] = "post.velmora.cn";

// One seeded resource.
inline void AddResource(AlbumInfo* album, int albumId, int id, const std::wstring& url) {
  ResourceInfo* resource = album->NewResource();  // at the front: add in reverse order
  const std::wstring n = std::to_wstring(id);
  resource->SetId(id);
  resource->SetCid((L"C" + n).c_str());
  resource->SetGcid((L"G" + n).c_str());
  resource->SetResName((L"name " + n).c_str());
  resource->SetFormat(L"mp4");
  resource->SetSize(L"1024");
  resource->SetLastTime(L"2026-12-01 10:00:00");
  resource->SetUrl(url.c_str());
  resource->SetOriginal((L"orig " + n).c_str());
  resource->SetRefer(L"");
  resource->SetDesc((L"desc " + n).c_str());
  resource->SetResType(1);
  resource->SetState(id % 3);
  resource->SetCategoryId(albumId);
  resource->SetUin(kUin);
}

// Fills session with the albums and index above (it must be empty).
inline void SeedSession(BlogSession_* session) {
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->GetOrCreateAlbumList(kUin);
  AlbumInfo* source = list->NewAlbum();
  source->SetId(3);
  source->SetCategoryName(L"source");
  AddResource(source, 3, 9, L"u9");
  AddResource(source, 3, 7, L"u7");
  AddResource(source, 3, 5, L"u5");
  source->SetResourcesLoaded(true);
  AlbumInfo* target = list->NewAlbum();
  target->SetId(4);
  target->SetCategoryName(L"target");
  AddResource(target, 4, 12, L"u9");
  target->FindResource(12)->SetCid(L"C9");
  AddResource(target, 4, 11, L"u11");
  target->SetResourcesLoaded(true);
  AlbumInfo* unfetched = list->NewAlbum();
  unfetched->SetId(6);
  unfetched->SetCategoryName(L"unfetched");
  session->AddCidPair(L"C5", 3);
  session->AddCidPair(L"C7", 3);
  session->AddCidPair(L"C9", 3);
  session->AddCidPair(L"C11", 4);
  session->AddCidPair(L"C9", 4);
  session->AddCidPair(L"C8", 6);
}

// Everything the session knows of the user's albums and the index.
struct SessionState {
  std::vector<xml_testing::AlbumState> albums;
  std::vector<std::pair<std::wstring, int>> cids;
  bool operator==(const SessionState& o) const { return albums == o.albums && cids == o.cids; }
};

inline SessionState StateOf(BlogSession_* session) {
  return SessionState{xml_testing::AlbumsOf(session, kUin), xml_testing::CidPairsOf(session)};
}

// The resource ids of album id in a state (empty when the album is absent).
inline std::vector<int> ResourceIds(const SessionState& state, int id) {
  for (const xml_testing::AlbumState& album : state.albums) {
    if (album.id == id) return xml_testing::IdsOf(album.resources);
  }
  return {};
}

inline const xml_testing::ResourceState* FindResource(const SessionState& state, int albumId,
                                                      int id) {
  for (const xml_testing::AlbumState& album : state.albums) {
    if (album.id != albumId) continue;
    for (const xml_testing::ResourceState& resource : album.resources) {
      if (resource.id == id) return &resource;
    }
  }
  return nullptr;
}

// The albums holding cid in the index, in the index's order.
inline std::vector<int> AlbumsHolding(const SessionState& state, const std::wstring& cid) {
  std::vector<int> ids;
  for (const auto& pair : state.cids) {
    if (pair.first == cid) ids.push_back(pair.second);
  }
  return ids;
}

// A reply element "<resource .../>" with the attributes given in order.
inline std::string Item(const HeaderList& attributes) {
  std::string text = "<resource";
  for (const auto& attribute : attributes) {
    text += " " + attribute.first + "=\"" + attribute.second + "\"";
  }
  return text + "/>";
}

inline std::string Reply(const std::string& message, const std::vector<std::string>& items = {}) {
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<result message=\"" + message +
                     "\"";
  if (items.empty()) return text + "/>";
  text += ">";
  for (const std::string& item : items) text += item;
  return text + "</result>";
}

inline std::wstring TakeText(BSTR text) { return xml_testing::TakeText(text); }

// Fixture for command class Cmd (CmdBatchRemove, CmdCopyResource, CmdMoveResource).
template <class Cmd>
class BatchCmdTest : public ::testing::Test {
 protected:
  typedef CComObject<ShareSessionCmd<Cmd>> Command;

  void SetUp() override {
    session->ClearAll();
    session->SetCurrentUin(kUin);
    {
      Hold hold(session->ServerLock());
      session->SetOperationEndpoint(kEndpointBatchRemove, L"post.velmora.cn",
                                    L"/api/resource_batch_remove");
      session->SetOperationEndpoint(kEndpointMoveResource, L"post.velmora.cn",
                                    L"/api/resource_batch_move");
    }
    SeedSession(session);
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    session->ClearAll();
    session->SetCurrentUin(L"");
  }

  // A new command as the plug-in makes it (no parameters yet).
  CComPtr<Command> Make(const wchar_t* uin = kUin) {
    Command* created = nullptr;
    EXPECT_EQ(S_OK, CreateTypedShareSessionCmd<Cmd>(&created));
    CComPtr<Command> cmd(created);
    cmd->SetUserId(uin);
    cmd->SetCommandId(kCommandId);
    cmd->SetHttpFactory(platform->factory);
    return cmd;
  }

  // Starts cmd and plays the whole exchange with a 200 reply of body; the final state.
  int Run(Command* cmd, const std::string& body) {
    EXPECT_EQ(S_OK, cmd->Start());
    CComPtr<xml_testing::FakeHeaders> headers(new xml_testing::FakeHeaders(200));
    return xml_testing::PlayReply(cmd, platform->factory->connection, headers, {body});
  }

  // What the connection sent: the body (none when nothing was sent with the request).
  std::optional<std::string> SentBody() { return platform->factory->connection->sentBody(); }
  CComPtr<framework_testing::FakeRequest> SentRequest() {
    return platform->factory->connection->sentRequest();
  }

  // The filed result of the command, or null.
  CComPtr<IResultOnBatchOperation> FiledResult() {
    CComPtr<ICommonResult> common;
    if (FAILED(session->FetchResult(kCommandId, &common))) {
      return CComPtr<IResultOnBatchOperation>();
    }
    return CComPtr<IResultOnBatchOperation>(static_cast<IResultOnBatchOperation*>(common.p));
  }

  // The server's broadcasts: payloads and notices.
  std::vector<Bytes> Published() { return platform->manager->server->published(); }
  std::vector<commands_testing::FakeServer::Notice> Notices() {
    return platform->manager->server->notices();
  }

  // Puts the session back to the seeded state, then lets the decoder apply payload
  // under code; returns the decoder's answer.
  bool ReplayOnSeededSession(const Bytes& payload, int code) {
    session->ClearAll();
    SeedSession(session);
    platform->manager->channel->broadcast = payload;
    session_testing::TestDecoder decoder(session);
    return decoder.DecodeMessage(code, 0, 0);
  }

  BlogSession_* session = BlogSession_::Instance();
  CComPtr<xml_testing::XmlPlatform> platform{new xml_testing::XmlPlatform};
  commands_testing::HostPlatformScope scope{platform};
  session_testing::RecordingResultSink results;
  session_testing::RecordingFailureSink failures;
};

// The id list `list` (1 first, else second) of a batch result, whole.
inline std::vector<int> ListOf(IResultOnBatchOperation* result, int list) {
  const ResultOnBatchOperation* object = static_cast<ResultOnBatchOperation*>(result);
  std::vector<int> ids;
  for (int i = 0; i < object->ListLength(list); ++i) {
    int id = 0;
    result->GetListItem(list, i, &id);
    ids.push_back(id);
  }
  return ids;
}

// The text of key in the first (first == true) or second table; "<none>" when absent.
inline std::wstring TextOf(IResultOnBatchOperation* result, bool first, int key) {
  BSTR text = nullptr;
  if (first) {
    result->GetFirstText(key, &text);
  } else {
    result->GetSecondText(key, &text);
  }
  if (text == nullptr) return L"<none>";
  return xml_testing::TakeText(text);
}

}  // namespace batch_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_RESOURCEBATCHTESTSUPPORT_H_
