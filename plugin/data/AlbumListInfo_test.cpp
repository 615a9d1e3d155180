#include "data/AlbumListInfo.h"

#include <gtest/gtest.h>

#include <vector>

#include "test/DataTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using testing_support::IntOf;
using testing_support::ModuleLockWatch;
using testing_support::RefCount;

CComPtr<AlbumListInfo> MakeList() {
  CComObject<AlbumListInfo>* list = nullptr;
  EXPECT_EQ(S_OK, CComObject<AlbumListInfo>::CreateInstance(&list));
  return CComPtr<AlbumListInfo>(list);
}

CComPtr<AlbumInfo> MakeAlbum(int id) {
  CComObject<AlbumInfo>* album = nullptr;
  EXPECT_EQ(S_OK, CComObject<AlbumInfo>::CreateInstance(&album));
  album->SetId(id);
  return CComPtr<AlbumInfo>(album);
}

// The album ids in list order, read through the interface.
std::vector<int> IdsOf(IZQAlbumListInfo* list) {
  std::vector<int> ids;
  int count = IntOf(list, &IZQAlbumListInfo::GetAlbumCount);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQAlbumInfo> album;
    EXPECT_EQ(S_OK, list->GetAlbum(i, &album));
    ids.push_back(IntOf(album.p, &IZQAlbumInfo::GetId));
  }
  return ids;
}

TEST(AlbumListInfoTest, FreshListIsEmpty) {
  CComPtr<AlbumListInfo> list = MakeList();
  EXPECT_EQ(0, IntOf(list.p, &IZQAlbumListInfo::GetAlbumCount));
  EXPECT_EQ(nullptr, list->FindResourceInList(0));
  EXPECT_EQ(nullptr, list->FindAlbum(-1));
}

TEST(AlbumListInfoTest, NewAlbumAppendsAndTheListHoldsIt) {
  CComPtr<AlbumListInfo> list = MakeList();
  AlbumInfo* first = list->NewAlbum();
  AlbumInfo* second = list->NewAlbum();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  first->SetId(1);
  second->SetId(2);
  EXPECT_EQ((std::vector<int>{1, 2}), IdsOf(list));
  EXPECT_EQ(1u, RefCount(first));
}

TEST(AlbumListInfoTest, GetAlbumChecksIndexAndAddsAReference) {
  CComPtr<AlbumListInfo> list = MakeList();
  AlbumInfo* album = list->NewAlbum();
  {
    CComPtr<IZQAlbumInfo> got;
    ASSERT_EQ(S_OK, list->GetAlbum(0, &got));
    EXPECT_EQ(static_cast<IZQAlbumInfo*>(album), got.p);
    EXPECT_EQ(2u, RefCount(album));
  }
  EXPECT_EQ(1u, RefCount(album));
  IZQAlbumInfo* sentinel = reinterpret_cast<IZQAlbumInfo*>(&sentinel);
  IZQAlbumInfo* out = sentinel;
  EXPECT_EQ(E_INVALIDARG, list->GetAlbum(1, &out));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(E_INVALIDARG, list->GetAlbum(-1, &out));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(E_POINTER, list->GetAlbum(0, nullptr));
  EXPECT_EQ(E_POINTER, list->GetAlbumCount(nullptr));
}

TEST(AlbumListInfoTest, GetAlbumByIdFindsTheFirstOrFailsWithNull) {
  CComPtr<AlbumListInfo> list = MakeList();
  CComPtr<AlbumInfo> early = MakeAlbum(7);
  CComPtr<AlbumInfo> late = MakeAlbum(7);
  list->InsertAlbum(-1, MakeAlbum(6));
  list->InsertAlbum(-1, early);
  list->InsertAlbum(-1, late);
  {
    CComPtr<IZQAlbumInfo> got;
    EXPECT_EQ(S_OK, list->GetAlbumById(7, &got));
    EXPECT_EQ(static_cast<IZQAlbumInfo*>(early.p), got.p);
    EXPECT_EQ(3u, RefCount(early));  // test, list, caller
  }
  IZQAlbumInfo* out = reinterpret_cast<IZQAlbumInfo*>(&out);
  EXPECT_EQ(E_FAIL, list->GetAlbumById(8, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(E_POINTER, list->GetAlbumById(7, nullptr));
  EXPECT_EQ(early.p, list->FindAlbum(7));
  EXPECT_EQ(2u, RefCount(early));  // FindAlbum adds none
}

TEST(AlbumListInfoTest, InsertAlbumPositions) {
  CComPtr<AlbumListInfo> list = MakeList();
  EXPECT_FALSE(list->InsertAlbum(1, MakeAlbum(9)));
  EXPECT_TRUE(list->InsertAlbum(0, MakeAlbum(2)));
  EXPECT_TRUE(list->InsertAlbum(-1, MakeAlbum(4)));
  EXPECT_TRUE(list->InsertAlbum(1, MakeAlbum(3)));
  EXPECT_TRUE(list->InsertAlbum(0, MakeAlbum(1)));
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), IdsOf(list));
  EXPECT_FALSE(list->InsertAlbum(4, MakeAlbum(5)));  // the count itself
  EXPECT_FALSE(list->InsertAlbum(-2, MakeAlbum(5)));
  EXPECT_FALSE(list->InsertAlbum(0, nullptr));
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), IdsOf(list));
}

TEST(AlbumListInfoTest, RemoveAlbumReleasesTheFirstMatchButKeepsItsResources) {
  CComPtr<AlbumListInfo> list = MakeList();
  CComPtr<AlbumInfo> held = MakeAlbum(3);
  held->NewResource();
  list->InsertAlbum(-1, held);
  list->InsertAlbum(-1, MakeAlbum(3));
  EXPECT_EQ(2u, RefCount(held));
  EXPECT_TRUE(list->RemoveAlbum(3));
  EXPECT_EQ(1u, RefCount(held));
  EXPECT_EQ(1, IntOf(held.p, &IZQAlbumInfo::GetResourceCount));
  EXPECT_EQ((std::vector<int>{3}), IdsOf(list));
  EXPECT_TRUE(list->RemoveAlbum(3));
  EXPECT_FALSE(list->RemoveAlbum(3));
}

TEST(AlbumListInfoTest, ClearEmptiesTheAlbumsAndReleasesThem) {
  ModuleLockWatch watch;
  {
    CComPtr<AlbumListInfo> list = MakeList();
    CComPtr<AlbumInfo> held = MakeAlbum(1);  // the host still holds this one
    held->NewResource();
    held->NewResource();
    list->InsertAlbum(-1, held);
    list->NewAlbum()->NewResource();
    EXPECT_EQ(6, watch.Delta());  // the list, two albums, three resources
    list->Clear();
    EXPECT_EQ(0, IntOf(list.p, &IZQAlbumListInfo::GetAlbumCount));
    EXPECT_EQ(1u, RefCount(held));
    EXPECT_EQ(0, IntOf(held.p, &IZQAlbumInfo::GetResourceCount));
    EXPECT_EQ(2, watch.Delta());  // the list and the held album
  }
  EXPECT_EQ(0, watch.Delta());
}

TEST(AlbumListInfoTest, FindResourceInListSearchesAlbumsInOrder) {
  CComPtr<AlbumListInfo> list = MakeList();
  AlbumInfo* first = list->NewAlbum();
  AlbumInfo* second = list->NewAlbum();
  second->NewResource()->SetId(10);
  ResourceInfo* inFirst = first->NewResource();
  inFirst->SetId(10);
  ResourceInfo* onlyInSecond = second->NewResource();
  onlyInSecond->SetId(20);
  EXPECT_EQ(static_cast<IZQResInfo*>(inFirst), list->FindResourceInList(10));
  EXPECT_EQ(static_cast<IZQResInfo*>(onlyInSecond), list->FindResourceInList(20));
  EXPECT_EQ(nullptr, list->FindResourceInList(30));
  EXPECT_EQ(1u, RefCount(inFirst));
}

TEST(AlbumListInfoTest, ListDeathReleasesEverything) {
  ModuleLockWatch watch;
  CComPtr<AlbumInfo> survivor = MakeAlbum(5);
  {
    CComPtr<AlbumListInfo> list = MakeList();
    list->InsertAlbum(-1, survivor);
    list->NewAlbum()->NewResource();
    EXPECT_EQ(4, watch.Delta());
  }
  EXPECT_EQ(1u, RefCount(survivor));
  EXPECT_EQ(1, watch.Delta());
  survivor.Release();
  EXPECT_EQ(0, watch.Delta());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
