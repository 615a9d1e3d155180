#include "cli/ResultJson.h"

#include <algorithm>
#include <set>

#include "cli/Utf8Text.h"
#include "interfaces/IResultOnAlbum.h"
#include "interfaces/IResultOnBatchOperation.h"
#include "interfaces/IResultOnResComment.h"
#include "interfaces/IResultOnResource.h"
#include "interfaces/IZQAlbumListInfo.h"

namespace Velmora {
namespace ZQCli {

namespace {

// Reads a BSTR property; "" when the getter fails.
template <class Object, class Getter>
std::string Text(Object* object, Getter getter) {
  BSTR value = nullptr;
  if (FAILED((object->*getter)(&value))) {
    SysFreeString(value);
    return std::string();
  }
  return TakeBstrUtf8(value);
}

template <class Object, class Getter>
int Int(Object* object, Getter getter) {
  int value = 0;
  if (FAILED((object->*getter)(&value))) return 0;
  return value;
}

// The ids of list 1 or 2, at most limit of them (GetListItem stops at the list's end).
std::vector<int> ListIds(IResultOnBatchOperation* batch, int list, int limit) {
  std::vector<int> ids;
  for (int i = 0; i < limit; ++i) {
    int id = 0;
    if (FAILED(batch->GetListItem(list, i, &id))) break;
    ids.push_back(id);
  }
  return ids;
}

nlohmann::json Table(IResultOnBatchOperation* batch, bool first, const std::set<int>& keys) {
  nlohmann::json table = nlohmann::json::object();
  for (int key : keys) {
    BSTR text = nullptr;
    HRESULT hr = first ? batch->GetFirstText(key, &text) : batch->GetSecondText(key, &text);
    if (SUCCEEDED(hr) && text != nullptr) table[std::to_string(key)] = BstrToUtf8(text);
    SysFreeString(text);
  }
  return table;
}

}  // namespace

const char* ResultKindName(int kind) {
  switch (kind) {
    case 0: return "album";
    case 1: return "resource";
    case 2: return "batch";
    case 3: return "comment";
  }
  return "unknown";
}

nlohmann::json ResultJson(ICommonResult* result, int command_id, int result_kind,
                          const std::vector<int>& table_keys) {
  nlohmann::json out = nlohmann::json::object();
  out["command_id"] = command_id;
  out["kind"] = ResultKindName(result_kind);
  if (result == nullptr) return out;
  out["uin"] = Text(result, &ICommonResult::GetUin);
  out["status"] = Int(result, &ICommonResult::GetStatus);
  out["message_text"] = Text(result, &ICommonResult::GetMessageText);
  out["operation_index"] = Int(result, &ICommonResult::GetOperationIndex);
  out["operation_title"] = Text(result, &ICommonResult::GetOperationTitle);
  out["extra_value"] = Int(result, &ICommonResult::GetExtraValue);
  out["category_id"] = Int(result, &ICommonResult::GetCategoryId);
  switch (result_kind) {
    case 0: {
      CComPtr<IResultOnAlbum> album;
      if (SUCCEEDED(result->QueryInterface(IID_IResultOnAlbum, reinterpret_cast<void**>(&album))) &&
          album) {
        out["category_name"] = Text(album.p, &IResultOnAlbum::GetCategoryName);
      }
      break;
    }
    case 1: {
      CComPtr<IResultOnResource> resource;
      if (SUCCEEDED(result->QueryInterface(IID_IResultOnResource,
                                           reinterpret_cast<void**>(&resource))) &&
          resource) {
        out["target_category_id"] = Int(resource.p, &IResultOnResource::GetTargetCategoryId);
        out["resource_id"] = Int(resource.p, &IResultOnResource::GetResourceId);
      }
      break;
    }
    case 2: {
      CComPtr<IResultOnBatchOperation> batch;
      if (SUCCEEDED(result->QueryInterface(IID_IResultOnBatchOperation,
                                           reinterpret_cast<void**>(&batch))) &&
          batch) {
        const int first_count = Int(batch.p, &IResultOnBatchOperation::GetFirstCount);
        const int second_count = Int(batch.p, &IResultOnBatchOperation::GetSecondCount);
        out["first_count"] = first_count;
        out["second_count"] = second_count;
        out["target_category_id"] = Int(batch.p, &IResultOnBatchOperation::GetTargetCategoryId);
        const std::vector<int> first_ids = ListIds(batch, 1, std::max(first_count, 0));
        const std::vector<int> second_ids = ListIds(batch, 2, std::max(second_count, 0));
        out["first_ids"] = first_ids;
        out["second_ids"] = second_ids;
        std::set<int> keys(table_keys.begin(), table_keys.end());
        keys.insert(first_ids.begin(), first_ids.end());
        keys.insert(second_ids.begin(), second_ids.end());
        out["first_texts"] = Table(batch, true, keys);
        out["second_texts"] = Table(batch, false, keys);
      }
      break;
    }
    case 3: {
      CComPtr<IResultOnResComment> comment;
      if (SUCCEEDED(result->QueryInterface(IID_IResultOnResComment,
                                           reinterpret_cast<void**>(&comment))) &&
          comment) {
        out["resource_key"] = Text(comment.p, &IResultOnResComment::GetResourceKey);
        out["request_number"] = Int(comment.p, &IResultOnResComment::GetRequestNumber);
      }
      break;
    }
    default:
      break;
  }
  return out;
}

nlohmann::json ResourceJson(IZQResInfo* resource) {
  nlohmann::json out = nlohmann::json::object();
  out["id"] = Int(resource, &IZQResInfo::GetId);
  out["cid"] = Text(resource, &IZQResInfo::GetCid);
  out["gcid"] = Text(resource, &IZQResInfo::GetGcid);
  out["res_name"] = Text(resource, &IZQResInfo::GetResName);
  out["format"] = Text(resource, &IZQResInfo::GetFormat);
  out["size"] = Text(resource, &IZQResInfo::GetSize);
  out["last_time"] = Text(resource, &IZQResInfo::GetLastTime);
  out["url"] = Text(resource, &IZQResInfo::GetUrl);
  out["original"] = Text(resource, &IZQResInfo::GetOriginal);
  out["refer"] = Text(resource, &IZQResInfo::GetRefer);
  out["desc"] = Text(resource, &IZQResInfo::GetDesc);
  out["res_type"] = Int(resource, &IZQResInfo::GetResType);
  out["state"] = Int(resource, &IZQResInfo::GetState);
  out["category_id"] = Int(resource, &IZQResInfo::GetCategoryId);
  out["uin"] = Text(resource, &IZQResInfo::GetUin);
  return out;
}

nlohmann::json AlbumJson(IZQBlog* blog, const std::wstring& uin, IZQAlbumInfo* album) {
  nlohmann::json out = nlohmann::json::object();
  const int id = Int(album, &IZQAlbumInfo::GetId);
  out["id"] = id;
  out["category_name"] = Text(album, &IZQAlbumInfo::GetCategoryName);
  out["show_status"] = Int(album, &IZQAlbumInfo::GetShowStatus);
  out["category_type"] = Int(album, &IZQAlbumInfo::GetCategoryType);
  out["desc"] = Text(album, &IZQAlbumInfo::GetDesc);
  out["last_time"] = Text(album, &IZQAlbumInfo::GetLastTime);
  const int tag_num = Int(album, &IZQAlbumInfo::GetTagNum);
  out["tag_num"] = tag_num;
  nlohmann::json tags = nlohmann::json::array();
  for (int i = 0; i < tag_num && i < 3; ++i) {
    BSTR tag = nullptr;
    if (SUCCEEDED(album->GetTag(i, &tag))) tags.push_back(TakeBstrUtf8(tag));
  }
  out["tags"] = tags;
  out["pic_url"] = Text(album, &IZQAlbumInfo::GetPicUrl);
  out["newly_added_res_num"] = Int(album, &IZQAlbumInfo::GetNewlyAddedResNum);
  bool loaded = false;
  if (FAILED(blog->IsResourceListLoaded(uin.c_str(), id, &loaded))) loaded = false;
  out["resources_loaded"] = loaded;
  if (loaded) {
    nlohmann::json resources = nlohmann::json::array();
    const int count = Int(album, &IZQAlbumInfo::GetResourceCount);
    for (int i = 0; i < count; ++i) {
      CComPtr<IZQResInfo> resource;
      if (SUCCEEDED(album->GetResource(i, &resource)) && resource) {
        resources.push_back(ResourceJson(resource));
      }
    }
    out["resources"] = resources;
  }
  return out;
}

HRESULT AlbumsJson(IZQBlog* blog, const std::wstring& uin, nlohmann::json* out) {
  CComPtr<IZQAlbumListInfo> list;
  HRESULT hr = blog->GetAlbumListInfo(uin.c_str(), &list);
  if (hr == E_FAIL) {
    *out = nlohmann::json::array();
    return E_FAIL;
  }
  if (FAILED(hr)) return hr;
  if (!list) return E_POINTER;
  nlohmann::json albums = nlohmann::json::array();
  int count = 0;
  list->GetAlbumCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQAlbumInfo> album;
    if (SUCCEEDED(list->GetAlbum(i, &album)) && album) albums.push_back(AlbumJson(blog, uin, album));
  }
  *out = albums;
  return S_OK;
}

}  // namespace ZQCli
}  // namespace Velmora
