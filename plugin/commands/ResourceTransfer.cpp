#include "commands/ResourceTransfer.h"

#include "data/BstrText.h"
#include "data/ResourceInfo.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQBlog {
namespace {

std::wstring UrlOf(IZQResInfo* resource) {
  ScopedBstr url;
  if (FAILED(resource->GetUrl(url.Receive()))) return std::wstring();
  return url.ToWide();
}

std::wstring CidOf(IZQResInfo* resource) {
  ScopedBstr cid;
  if (FAILED(resource->GetCid(cid.Receive()))) return std::wstring();
  return cid.ToWide();
}

// The first resource of album whose URL equals url, or null (borrowed).
IZQResInfo* FindByUrl(AlbumInfo* album, const std::wstring& url) {
  int count = 0;
  album->GetResourceCount(&count);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQResInfo> resource;
    if (FAILED(album->GetResource(i, &resource)) || !resource) continue;
    if (UrlOf(resource) == url) return resource;  // the album keeps it alive
  }
  return nullptr;
}

// match takes over every value of original but keeps its id; its album is targetId.
void MergeInto(IZQResInfo* match, IZQResInfo* original, int targetId) {
  int ownId = 0;
  match->GetId(&ownId);
  CopyResourceValues(original, match);
  match->SetId(ownId);
  match->SetCategoryId(targetId);
}

}  // namespace

void CopyResourceValues(IZQResInfo* from, IZQResInfo* to) {
  if (from == nullptr || to == nullptr || from == to) return;
  int number = 0;
  if (SUCCEEDED(from->GetId(&number))) to->SetId(number);
  ScopedBstr text;
  if (SUCCEEDED(from->GetCid(text.Receive()))) to->SetCid(text.ToWide().c_str());
  if (SUCCEEDED(from->GetGcid(text.Receive()))) to->SetGcid(text.ToWide().c_str());
  if (SUCCEEDED(from->GetResName(text.Receive()))) to->SetResName(text.ToWide().c_str());
  if (SUCCEEDED(from->GetFormat(text.Receive()))) to->SetFormat(text.ToWide().c_str());
  if (SUCCEEDED(from->GetSize(text.Receive()))) to->SetSize(text.ToWide().c_str());
  if (SUCCEEDED(from->GetLastTime(text.Receive()))) to->SetLastTime(text.ToWide().c_str());
  if (SUCCEEDED(from->GetUrl(text.Receive()))) to->SetUrl(text.ToWide().c_str());
  if (SUCCEEDED(from->GetOriginal(text.Receive()))) to->SetOriginal(text.ToWide().c_str());
  if (SUCCEEDED(from->GetRefer(text.Receive()))) to->SetRefer(text.ToWide().c_str());
  if (SUCCEEDED(from->GetDesc(text.Receive()))) to->SetDesc(text.ToWide().c_str());
  if (SUCCEEDED(from->GetResType(&number))) to->SetResType(number);
  if (SUCCEEDED(from->GetState(&number))) to->SetState(number);
  if (SUCCEEDED(from->GetCategoryId(&number))) to->SetCategoryId(number);
  if (SUCCEEDED(from->GetUin(text.Receive()))) to->SetUin(text.ToWide().c_str());
}

void ApplyCopiedResources(BlogSession_* session, AlbumInfo* source, AlbumInfo* target,
                          int targetId, const std::vector<CopiedResource>& copies) {
  std::vector<int> copiedIds;
  copiedIds.reserve(copies.size());
  for (const CopiedResource& copy : copies) {
    copiedIds.push_back(copy.requestedId);
    IZQResInfo* original = source->FindResource(copy.requestedId);
    if (original == nullptr || !target->ResourcesLoaded()) continue;
    CComPtr<IZQResInfo> keep(original);
    IZQResInfo* match = FindByUrl(target, UrlOf(original));
    if (match != nullptr) {
      MergeInto(match, original, targetId);
      continue;
    }
    ResourceInfo* created = target->NewResource();
    if (created == nullptr) continue;  // no memory for the copy: the list lacks it
    CopyResourceValues(original, created);
    created->SetId(copy.newId);
    created->SetCategoryId(targetId);
  }
  // The originals stay in the source album: their cids are looked up there.
  session->AddCidEntries(copiedIds, targetId, source);
}

void ApplyMovedResources(BlogSession_* session, AlbumInfo* source, int sourceId,
                         AlbumInfo* target, int targetId, const std::vector<int>& ids) {
  // Moving within one album leaves the resource where it is.
  if (source == target) return;
  std::vector<std::wstring> arrivedCids;
  for (int id : ids) {
    IZQResInfo* found = source->FindResource(id);
    if (found == nullptr) continue;
    CComPtr<IZQResInfo> resource(found);  // alive until the target holds it too
    if (!target->ResourcesLoaded()) {
      arrivedCids.push_back(CidOf(resource));
    } else {
      IZQResInfo* match = FindByUrl(target, UrlOf(resource));
      if (match != nullptr) {
        MergeInto(match, resource, targetId);
      } else {
        // A resource that cannot be placed stays where it was.
        if (!target->InsertResource(0, resource)) continue;
        resource->SetCategoryId(targetId);
        arrivedCids.push_back(CidOf(resource));
      }
    }
    session->RemoveCidEntry(id, sourceId, source);
    source->RemoveResource(id);
  }
  for (const std::wstring& cid : arrivedCids) session->AddCidPair(cid, targetId);
}

void ApplyRemovedResources(BlogSession_* session, AlbumInfo* album, int albumId,
                           const std::vector<int>& ids) {
  session->RemoveCidEntries(ids, albumId, album);
  for (int id : ids) album->RemoveResource(id);
}

}  // namespace ZQBlog
}  // namespace Velmora
