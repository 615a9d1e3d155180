// Test support for the resource write commands (batch collect, resource modify;
// included by *_test.cpp only): a fixture on the fake host of XmlReplyTestSupport.h with
// the write endpoints set, sinks on the process-wide session, albums and resources made
// to order, and helpers that play a reply and read the filed result.
#ifndef ZQBLOG_TEST_RESOURCEWRITETESTSUPPORT_H_
#define ZQBLOG_TEST_RESOURCEWRITETESTSUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/BaseBlogCmd.h"
#include "data/AlbumInfo.h"
#include "data/AlbumListInfo.h"
#include "data/ResourceInfo.h"
#include "framework/ShareSessionCmd.h"
#include "interfaces/ICommonResult.h"
#include "platform/atl.h"
#include "session/BlogSession.h"
#include "session/BlogShareSessionDecoder.h"
#include "test/CommandTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/SessionTestSupport.h"
#include "test/XmlReplyTestSupport.h"
#include "util/CriticalSection.h"

namespace Velmora {
namespace ZQBlog {
namespace resource_write_testing {


const wchar_t kUin[] = L"10001";
const char kEndpointHost[] = "post.velmora.cn";

// A resource with every text field derived from tag (cid "CID-<tag>", name
// "name <tag>", ...), the given id, state and album id.
inline CComPtr<ResourceInfo> MakeResource(int id, const std::wstring& tag, int categoryId = 0) {
  CComObject<ResourceInfo>* created = nullptr;
  CComObject<ResourceInfo>::CreateInstance(&created);
  CComPtr<ResourceInfo> resource(created);
  resource->SetId(id);
  resource->SetCid((L"CID-" + tag).c_str());
  resource->SetGcid((L"GCID-" + tag).c_str());
  resource->SetResName((L"name " + tag).c_str());
  resource->SetFormat(L"mp4");
  resource->SetSize(L"1048576");
  resource->SetLastTime(L"2026-12-01 10:00:00");
  resource->SetUrl((L"http://files.velmora.cn/" + tag).c_str());
  resource->SetOriginal((L"http://origin/" + tag).c_str());
  resource->SetRefer(L"refer");
  resource->SetDesc((L"desc " + tag).c_str());
  resource->SetResType(1);
  resource->SetState(0);
  resource->SetCategoryId(categoryId);
  resource->SetUin(kUin);
  return resource;
}

// Adds album id to uin's list in session (the list made when missing), holding the
// resources in the given order, each with its (cid, id) pair in the content-id index.
inline AlbumInfo* AddAlbum(BlogSession_* session, int id, bool loaded,
                           const std::vector<CComPtr<ResourceInfo>>& resources,
                           const std::wstring& uin = kUin) {
  Hold hold(session->AlbumListLock());
  AlbumListInfo* list = session->GetOrCreateAlbumList(uin);
  AlbumInfo* album = list->NewAlbum();
  album->SetId(id);
  album->SetCategoryName((L"album " + std::to_wstring(id)).c_str());
  album->SetResourcesLoaded(loaded);
  for (const CComPtr<ResourceInfo>& resource : resources) {
    album->InsertResource(-1, resource);
    int resourceId = 0;
    resource->GetId(&resourceId);
    session->AddCidEntry(resourceId, id, album);
  }
  return album;
}

class ResourceWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session->ClearAll();
    session->SetCurrentUin(kUin);
    SetEndpoints(L"post.velmora.cn");
    session->AddResultSink(&results);
    session->AddFailureSink(&failures);
  }
  void TearDown() override {
    session->RemoveResultSink(&results);
    session->RemoveFailureSink(&failures);
    SetEndpoints(L"");
    session->ClearAll();
    session->SetCurrentUin(L"");
  }

  void SetEndpoints(const std::wstring& host) {
    Hold hold(session->ServerLock());
    const bool set = !host.empty();
    session->SetOperationEndpoint(kEndpointBatchCollect, host,
                                  set ? L"/api/resource_batch_collect" : L"");
    session->SetOperationEndpoint(kEndpointModifyResource, host,
                                  set ? L"/api/resource_update" : L"");
  }

  // Plays connected, sent and the whole reply (status, and body unless null) on
  // factory's connection; returns the command's final state.
  int Play(IWorkshopCmd* cmd, framework_testing::FakeFactory* factory, int status,
           const std::string* body) {
    CComPtr<xml_testing::FakeHeaders> headers(new xml_testing::FakeHeaders(status));
    std::vector<std::string> pieces;
    if (body != nullptr) pieces.push_back(*body);
    return xml_testing::PlayReply(cmd, factory->connection, headers, pieces);
  }

  // The result filed under commandId as interface R, or null.
  template <class R>
  CComPtr<R> Filed(int commandId) {
    CComPtr<ICommonResult> common;
    if (FAILED(session->FetchResult(commandId, &common)) || !common) return CComPtr<R>();
    return CComPtr<R>(static_cast<R*>(common.p));
  }

  // Hands payload to decoder as the broadcast of code.
  bool Decode(BlogShareSessionDecoder_* decoder, int code, const std::vector<BYTE>& payload) {
    platform->manager->channel->broadcast = payload;
    return decoder->DecodeMessage(code, 0, 0);
  }

  BlogSession_* session = BlogSession_::Instance();
  CComPtr<xml_testing::XmlPlatform> platform{new xml_testing::XmlPlatform};
  commands_testing::HostPlatformScope scope{platform};
  session_testing::RecordingResultSink results;
  session_testing::RecordingFailureSink failures;
};

// The text of a BSTR getter call, "" when it gives none.
template <class Object, class Getter>
std::wstring TextOf(Object* object, Getter getter) {
  BSTR text = nullptr;
  (object->*getter)(&text);
  return xml_testing::TakeText(text);
}

template <class Object, class Getter>
int IntOf(Object* object, Getter getter) {
  int value = -12345;
  (object->*getter)(&value);
  return value;
}

}  // namespace resource_write_testing
}  // namespace ZQBlog
}  // namespace Velmora

#endif  // ZQBLOG_TEST_RESOURCEWRITETESTSUPPORT_H_
