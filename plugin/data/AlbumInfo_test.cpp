#include "data/AlbumInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/DataTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using testing_support::IntOf;
using testing_support::ModuleLockWatch;
using testing_support::RecordBytes;
using testing_support::RecordOf;
using testing_support::RefCount;
using testing_support::TextOf;

CComPtr<AlbumInfo> MakeAlbum() {
  CComObject<AlbumInfo>* album = nullptr;
  EXPECT_EQ(S_OK, CComObject<AlbumInfo>::CreateInstance(&album));
  return CComPtr<AlbumInfo>(album);
}

CComPtr<ResourceInfo> MakeResource(int id) {
  CComObject<ResourceInfo>* resource = nullptr;
  EXPECT_EQ(S_OK, CComObject<ResourceInfo>::CreateInstance(&resource));
  resource->SetId(id);
  return CComPtr<ResourceInfo>(resource);
}

// The ids of the album's resources, in order, read through the interface.
std::vector<int> IdsOf(AlbumInfo* album) {
  std::vector<int> ids;
  int count = IntOf(album, &IZQAlbumInfo::GetResourceCount);
  for (int i = 0; i < count; ++i) {
    CComPtr<IZQResInfo> resource;
    EXPECT_EQ(S_OK, album->GetResource(i, &resource));
    ids.push_back(IntOf(resource.p, &IZQResInfo::GetId));
  }
  return ids;
}

std::wstring TagOf(IZQAlbumInfo* album, int index) {
  ScopedBstr tag;
  if (FAILED(album->GetTag(index, tag.Receive())) || tag.get() == nullptr) return L"<none>";
  return tag.ToWide();
}

void Fill(AlbumInfo* a) {
  a->SetId(12);
  a->SetCategoryName(L"我的相册");
  a->SetShowStatus(1);
  a->SetCategoryType(4);
  a->SetDesc(L"desc text");
  a->SetLastTime(L"2008-05-06");
  a->SetPicUrl(L"http://pic.example/a.jpg");
  a->SetTagNum(2);
  a->SetTag(0, L"tagA");
  a->SetTag(1, L"标签");
  a->SetNewlyAddedResNum(9);
}

// ---------------------------------------------------------------- interface

TEST(AlbumInfoTest, FreshAlbumDefaults) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  EXPECT_EQ(-1, IntOf(a.p, &IZQAlbumInfo::GetId));
  EXPECT_EQ(L"", TextOf(a.p, &IZQAlbumInfo::GetCategoryName));
  EXPECT_EQ(0, IntOf(a.p, &IZQAlbumInfo::GetShowStatus));
  EXPECT_EQ(0, IntOf(a.p, &IZQAlbumInfo::GetCategoryType));
  EXPECT_EQ(L"", TextOf(a.p, &IZQAlbumInfo::GetDesc));
  EXPECT_EQ(L"", TextOf(a.p, &IZQAlbumInfo::GetLastTime));
  EXPECT_EQ(0, IntOf(a.p, &IZQAlbumInfo::GetTagNum));
  EXPECT_EQ(L"", TextOf(a.p, &IZQAlbumInfo::GetPicUrl));
  EXPECT_EQ(0, IntOf(a.p, &IZQAlbumInfo::GetNewlyAddedResNum));
  EXPECT_EQ(0, IntOf(a.p, &IZQAlbumInfo::GetResourceCount));
  for (int i = 0; i < AlbumInfo::kTagSlots; ++i) EXPECT_EQ(L"", TagOf(a, i));
  EXPECT_FALSE(a->ResourcesLoaded());
}

TEST(AlbumInfoTest, ShowStatusIsStoredUnchanged) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  EXPECT_EQ(S_OK, a->SetShowStatus(5));
  EXPECT_EQ(5, IntOf(a.p, &IZQAlbumInfo::GetShowStatus));
}

TEST(AlbumInfoTest, TagIndexOutsideTheSlotsIsIgnored) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  a->SetTag(0, L"zero");
  a->SetTag(2, L"two");
  EXPECT_EQ(S_OK, a->SetTag(3, L"three"));
  EXPECT_EQ(S_OK, a->SetTag(-1, L"minus"));
  EXPECT_EQ(L"zero", TagOf(a, 0));
  EXPECT_EQ(L"", TagOf(a, 1));
  EXPECT_EQ(L"two", TagOf(a, 2));

  BSTR sentinel = SysAllocString(L"caller's");
  BSTR out = sentinel;
  EXPECT_EQ(S_OK, a->GetTag(-1, &out));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(S_OK, a->GetTag(3, &out));
  EXPECT_EQ(sentinel, out);
  SysFreeString(sentinel);
  EXPECT_EQ(E_POINTER, a->GetTag(0, nullptr));
}

TEST(AlbumInfoTest, GetResourceChecksIndexAndAddsAReference) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  ResourceInfo* r = a->NewResource();
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(1u, RefCount(r));  // the album's
  {
    CComPtr<IZQResInfo> got;
    ASSERT_EQ(S_OK, a->GetResource(0, &got));
    EXPECT_EQ(static_cast<IZQResInfo*>(r), got.p);
    EXPECT_EQ(2u, RefCount(r));
  }
  EXPECT_EQ(1u, RefCount(r));

  IZQResInfo* sentinel = reinterpret_cast<IZQResInfo*>(&sentinel);
  IZQResInfo* out = sentinel;
  EXPECT_EQ(E_INVALIDARG, a->GetResource(1, &out));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(E_INVALIDARG, a->GetResource(-1, &out));
  EXPECT_EQ(sentinel, out);
  EXPECT_EQ(E_POINTER, a->GetResource(0, nullptr));
}

TEST(AlbumInfoTest, QueryInterfaceAnswersIUnknownAndIZQAlbumInfo) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  CComPtr<IZQAlbumInfo> info;
  EXPECT_EQ(S_OK, a.QueryInterface(&info));
  CComPtr<IUnknown> unknown;
  EXPECT_EQ(S_OK, a.QueryInterface(&unknown));
  EXPECT_EQ(static_cast<IUnknown*>(info.p), unknown.p);
  CComPtr<IZQResInfo> wrong;
  EXPECT_EQ(E_NOINTERFACE, a.QueryInterface(&wrong));
  EXPECT_EQ(nullptr, wrong.p);
}

// ---------------------------------------------------------------- resources

TEST(AlbumInfoTest, NewResourceGoesToTheFront) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  ResourceInfo* first = a->NewResource();
  ResourceInfo* second = a->NewResource();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  CComPtr<IZQResInfo> atZero;
  ASSERT_EQ(S_OK, a->GetResource(0, &atZero));
  EXPECT_EQ(static_cast<IZQResInfo*>(second), atZero.p);
  EXPECT_EQ(2, IntOf(a.p, &IZQAlbumInfo::GetResourceCount));
}

TEST(AlbumInfoTest, InsertResourcePositions) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  // An empty album takes position 0 (the front) and -1 (the end), nothing else.
  EXPECT_FALSE(a->InsertResource(1, MakeResource(99)));
  EXPECT_TRUE(a->InsertResource(0, MakeResource(1)));
  EXPECT_TRUE(a->InsertResource(-1, MakeResource(3)));
  EXPECT_EQ((std::vector<int>{1, 3}), IdsOf(a));
  EXPECT_TRUE(a->InsertResource(1, MakeResource(2)));
  EXPECT_EQ((std::vector<int>{1, 2, 3}), IdsOf(a));
  EXPECT_TRUE(a->InsertResource(0, MakeResource(0)));
  EXPECT_TRUE(a->InsertResource(-1, MakeResource(4)));
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), IdsOf(a));
  // Position equal to the count, past it, or below -1: refused.
  EXPECT_FALSE(a->InsertResource(5, MakeResource(5)));
  EXPECT_FALSE(a->InsertResource(6, MakeResource(6)));
  EXPECT_FALSE(a->InsertResource(-2, MakeResource(7)));
  EXPECT_FALSE(a->InsertResource(-1, nullptr));
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), IdsOf(a));
}

TEST(AlbumInfoTest, AlbumHoldsOneReferencePerResource) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  CComPtr<ResourceInfo> r = MakeResource(8);
  EXPECT_EQ(1u, RefCount(r));
  ASSERT_TRUE(a->InsertResource(-1, r));
  EXPECT_EQ(2u, RefCount(r));
  EXPECT_FALSE(a->InsertResource(7, r));  // refused: no reference taken
  EXPECT_EQ(2u, RefCount(r));
  a->ClearResources();
  EXPECT_EQ(1u, RefCount(r));
  EXPECT_EQ(0, IntOf(a.p, &IZQAlbumInfo::GetResourceCount));
}

TEST(AlbumInfoTest, FindAndRemoveResourceUseTheFirstMatch) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  CComPtr<ResourceInfo> early = MakeResource(5);
  CComPtr<ResourceInfo> late = MakeResource(5);
  a->InsertResource(-1, MakeResource(4));
  a->InsertResource(-1, early);
  a->InsertResource(-1, late);
  EXPECT_EQ(static_cast<IZQResInfo*>(early.p), a->FindResource(5));
  EXPECT_EQ(nullptr, a->FindResource(6));
  EXPECT_EQ(2u, RefCount(early));  // FindResource adds none

  EXPECT_TRUE(a->RemoveResource(5));
  EXPECT_EQ(1u, RefCount(early));  // released by the album
  EXPECT_EQ(static_cast<IZQResInfo*>(late.p), a->FindResource(5));
  EXPECT_FALSE(a->RemoveResource(6));
  EXPECT_EQ((std::vector<int>{4, 5}), IdsOf(a));
}

TEST(AlbumInfoTest, ObjectsHoldTheModuleUntilTheyDie) {
  ModuleLockWatch watch;
  {
    CComPtr<AlbumInfo> a = MakeAlbum();
    a->NewResource();
    a->NewResource();
    EXPECT_EQ(3, watch.Delta());
    a->RemoveResource(0);  // both have id 0: removes one
    EXPECT_EQ(2, watch.Delta());
  }
  EXPECT_EQ(0, watch.Delta());
}

// ---------------------------------------------------------------- copies

TEST(AlbumInfoTest, CopyFromCopiesAlbumFieldsOnly) {
  CComPtr<AlbumInfo> source = MakeAlbum();
  Fill(source);
  source->NewResource();
  source->SetResourcesLoaded(true);

  CComPtr<AlbumInfo> byClass = MakeAlbum();
  CComPtr<AlbumInfo> byInterface = MakeAlbum();
  for (AlbumInfo* target : {byClass.p, byInterface.p}) {
    target->SetLastTime(L"own time");
    target->SetNewlyAddedResNum(3);
    target->InsertResource(-1, MakeResource(50));
  }
  byClass->CopyFrom(*source);
  byInterface->CopyFrom(static_cast<IZQAlbumInfo*>(source.p));

  for (AlbumInfo* target : {byClass.p, byInterface.p}) {
    EXPECT_EQ(12, IntOf(target, &IZQAlbumInfo::GetId));
    EXPECT_EQ(L"我的相册", TextOf(target, &IZQAlbumInfo::GetCategoryName));
    EXPECT_EQ(1, IntOf(target, &IZQAlbumInfo::GetShowStatus));
    EXPECT_EQ(4, IntOf(target, &IZQAlbumInfo::GetCategoryType));
    EXPECT_EQ(L"desc text", TextOf(target, &IZQAlbumInfo::GetDesc));
    EXPECT_EQ(L"http://pic.example/a.jpg", TextOf(target, &IZQAlbumInfo::GetPicUrl));
    EXPECT_EQ(2, IntOf(target, &IZQAlbumInfo::GetTagNum));
    EXPECT_EQ(L"tagA", TagOf(target, 0));
    EXPECT_EQ(L"标签", TagOf(target, 1));
    // Not copied:
    EXPECT_EQ(L"own time", TextOf(target, &IZQAlbumInfo::GetLastTime));
    EXPECT_EQ(3, IntOf(target, &IZQAlbumInfo::GetNewlyAddedResNum));
    EXPECT_EQ((std::vector<int>{50}), IdsOf(target));
    EXPECT_FALSE(target->ResourcesLoaded());
  }
}

TEST(AlbumInfoTest, CopyFromTakesOnlyTheTagsInUse) {
  CComPtr<AlbumInfo> source = MakeAlbum();
  source->SetTagNum(1);
  source->SetTag(0, L"new0");
  source->SetTag(1, L"unused1");
  for (bool viaInterface : {false, true}) {
    CComPtr<AlbumInfo> target = MakeAlbum();
    target->SetTag(1, L"old1");
    if (viaInterface) {
      target->CopyFrom(static_cast<IZQAlbumInfo*>(source.p));
    } else {
      target->CopyFrom(*source);
    }
    EXPECT_EQ(L"new0", TagOf(target, 0));
    EXPECT_EQ(L"old1", TagOf(target, 1));
  }
}

TEST(AlbumInfoTest, CopyFromWithLargeOrNegativeTagNumStaysInTheSlots) {
  for (int tagNum : {100, -4}) {
    CComPtr<AlbumInfo> source = MakeAlbum();
    source->SetTagNum(tagNum);
    source->SetTag(0, L"a");
    source->SetTag(2, L"c");
    CComPtr<AlbumInfo> byClass = MakeAlbum();
    byClass->CopyFrom(*source);
    CComPtr<AlbumInfo> byInterface = MakeAlbum();
    byInterface->CopyFrom(static_cast<IZQAlbumInfo*>(source.p));
    for (AlbumInfo* target : {byClass.p, byInterface.p}) {
      EXPECT_EQ(tagNum, IntOf(target, &IZQAlbumInfo::GetTagNum));
      EXPECT_EQ(tagNum > 0 ? L"a" : L"", TagOf(target, 0));
      EXPECT_EQ(tagNum > 0 ? L"c" : L"", TagOf(target, 2));
    }
  }
}

// ---------------------------------------------------------------- records

TEST(AlbumInfoTest, EmptyAlbumRecordIs32Bytes) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  a->SetId(0);
  EXPECT_EQ(32, a->RecordSize());
  EXPECT_EQ(std::vector<uint8_t>(32, 0), RecordOf(*a));
}

TEST(AlbumInfoTest, RecordLayoutIsItemByItem) {
  CComPtr<AlbumInfo> a = MakeAlbum();
  a->SetId(-1);
  a->SetCategoryName(L"相册");  // four bytes in code page 936
  a->SetShowStatus(5);
  a->SetCategoryType(2);
  a->SetDesc(L"d");
  a->SetLastTime(L"");
  a->SetPicUrl(L"pic");
  a->SetTagNum(2);
  a->SetTag(0, L"x");
  a->SetTag(1, L"yz");
  a->SetTag(2, L"not in use");
  a->SetNewlyAddedResNum(8);  // not part of the record
  RecordBytes expected;
  expected.Int(-1).Text("\xCF\xE0\xB2\xE1").Int(1).Int(2).Text("d").Text("").Text("pic");
  expected.Int(2).Text("x").Text("yz");
  EXPECT_EQ(static_cast<int>(expected.bytes().size()), a->RecordSize());
  EXPECT_EQ(expected.bytes(), RecordOf(*a));
}

TEST(AlbumInfoTest, RecordRoundTrip) {
  CComPtr<AlbumInfo> source = MakeAlbum();
  Fill(source);
  source->SetShowStatus(5);
  std::vector<uint8_t> record = RecordOf(*source);
  ASSERT_FALSE(record.empty());
  CComPtr<AlbumInfo> target = MakeAlbum();
  RecordReader reader(record.data(), record.size());
  ASSERT_TRUE(target->ReadRecord(reader));
  EXPECT_EQ(record.size(), reader.consumed());
  EXPECT_EQ(12, IntOf(target.p, &IZQAlbumInfo::GetId));
  EXPECT_EQ(L"我的相册", TextOf(target.p, &IZQAlbumInfo::GetCategoryName));
  EXPECT_EQ(1, IntOf(target.p, &IZQAlbumInfo::GetShowStatus));  // 5 travels as 1
  EXPECT_EQ(4, IntOf(target.p, &IZQAlbumInfo::GetCategoryType));
  EXPECT_EQ(L"desc text", TextOf(target.p, &IZQAlbumInfo::GetDesc));
  EXPECT_EQ(L"2008-05-06", TextOf(target.p, &IZQAlbumInfo::GetLastTime));
  EXPECT_EQ(L"http://pic.example/a.jpg", TextOf(target.p, &IZQAlbumInfo::GetPicUrl));
  EXPECT_EQ(2, IntOf(target.p, &IZQAlbumInfo::GetTagNum));
  EXPECT_EQ(L"tagA", TagOf(target, 0));
  EXPECT_EQ(L"标签", TagOf(target, 1));
  EXPECT_EQ(0, IntOf(target.p, &IZQAlbumInfo::GetNewlyAddedResNum));
}

TEST(AlbumInfoTest, ReadShowStatusIsOneWhenNonZero) {
  for (int raw : {0, 1, 5, -3}) {
    RecordBytes bytes;
    bytes.Int(1).Text("").Int(raw).Int(0).Text("").Text("").Text("").Int(0);
    CComPtr<AlbumInfo> a = MakeAlbum();
    RecordReader reader(bytes.bytes().data(), bytes.bytes().size());
    ASSERT_TRUE(a->ReadRecord(reader));
    EXPECT_EQ(raw != 0 ? 1 : 0, IntOf(a.p, &IZQAlbumInfo::GetShowStatus)) << raw;
  }
}

TEST(AlbumInfoTest, StringLimitIs96Bytes) {
  for (size_t length : {96u, 97u}) {
    RecordBytes bytes;
    bytes.Int(3).Text("").Int(0).Int(0).Text(std::string(length, 'd')).Text("late");
    bytes.Text("").Int(0);
    CComPtr<AlbumInfo> a = MakeAlbum();
    a->SetDesc(L"old desc");
    a->SetLastTime(L"old time");
    RecordReader reader(bytes.bytes().data(), bytes.bytes().size());
    if (length == 96u) {
      EXPECT_TRUE(a->ReadRecord(reader));
      EXPECT_EQ(std::wstring(96, L'd'), TextOf(a.p, &IZQAlbumInfo::GetDesc));
      EXPECT_EQ(L"late", TextOf(a.p, &IZQAlbumInfo::GetLastTime));
    } else {
      // Refused: that field is not stored and reading stops there.
      EXPECT_FALSE(a->ReadRecord(reader));
      EXPECT_EQ(3, IntOf(a.p, &IZQAlbumInfo::GetId));
      EXPECT_EQ(L"old desc", TextOf(a.p, &IZQAlbumInfo::GetDesc));
      EXPECT_EQ(L"old time", TextOf(a.p, &IZQAlbumInfo::GetLastTime));
    }
  }
}

TEST(AlbumInfoTest, TagNumAboveThreeWritesAndReadsThreeTags) {
  CComPtr<AlbumInfo> source = MakeAlbum();
  source->SetTagNum(100);
  source->SetTag(0, L"a");
  source->SetTag(1, L"bb");
  EXPECT_EQ(32 + 5 + 6 + 4, source->RecordSize());
  std::vector<uint8_t> record = RecordOf(*source);
  ASSERT_EQ(47u, record.size());

  CComPtr<AlbumInfo> target = MakeAlbum();
  RecordReader reader(record.data(), record.size());
  ASSERT_TRUE(target->ReadRecord(reader));
  EXPECT_EQ(0u, reader.remaining());
  EXPECT_EQ(100, IntOf(target.p, &IZQAlbumInfo::GetTagNum));
  EXPECT_EQ(L"a", TagOf(target, 0));
  EXPECT_EQ(L"bb", TagOf(target, 1));
  EXPECT_EQ(L"", TagOf(target, 2));
}

TEST(AlbumInfoTest, NegativeTagNumHasNoTagItems) {
  CComPtr<AlbumInfo> source = MakeAlbum();
  source->SetTagNum(-7);
  source->SetTag(0, L"unused");
  EXPECT_EQ(32, source->RecordSize());
  std::vector<uint8_t> record = RecordOf(*source);
  CComPtr<AlbumInfo> target = MakeAlbum();
  RecordReader reader(record.data(), record.size());
  ASSERT_TRUE(target->ReadRecord(reader));
  EXPECT_EQ(-7, IntOf(target.p, &IZQAlbumInfo::GetTagNum));
  EXPECT_EQ(L"", TagOf(target, 0));
}

TEST(AlbumInfoTest, MissingTagItemFailsTheRecord) {
  RecordBytes bytes;
  bytes.Int(1).Text("").Int(0).Int(0).Text("").Text("").Text("").Int(3).Text("t0").Text("t1");
  CComPtr<AlbumInfo> a = MakeAlbum();
  RecordReader reader(bytes.bytes().data(), bytes.bytes().size());
  EXPECT_FALSE(a->ReadRecord(reader));
  EXPECT_EQ(L"t1", TagOf(a, 1));
  EXPECT_EQ(L"", TagOf(a, 2));
}

TEST(AlbumInfoTest, EveryTruncatedRecordFailsWithoutReadingPastIt) {
  CComPtr<AlbumInfo> source = MakeAlbum();
  Fill(source);
  source->SetTagNum(3);
  source->SetTag(2, L"third");
  std::vector<uint8_t> record = RecordOf(*source);
  ASSERT_FALSE(record.empty());
  for (size_t length = 0; length < record.size(); ++length) {
    std::vector<uint8_t> prefix(record.begin(), record.begin() + length);
    CComPtr<AlbumInfo> target = MakeAlbum();
    RecordReader reader(prefix.data(), prefix.size());
    EXPECT_FALSE(target->ReadRecord(reader)) << "length " << length;
    EXPECT_LE(reader.consumed(), length);
  }
  // A truncated leading int stores nothing.
  CComPtr<AlbumInfo> target = MakeAlbum();
  RecordReader reader(record.data(), 3);
  EXPECT_FALSE(target->ReadRecord(reader));
  EXPECT_EQ(-1, IntOf(target.p, &IZQAlbumInfo::GetId));
}

TEST(AlbumInfoTest, WriteRecordFailsWhenTheBufferIsShort) {
  CComPtr<AlbumInfo> source = MakeAlbum();
  Fill(source);
  const size_t size = static_cast<size_t>(source->RecordSize());
  for (size_t length = 0; length < size; ++length) {
    std::vector<uint8_t> buffer(length);
    RecordWriter writer(buffer.data(), buffer.size());
    EXPECT_FALSE(source->WriteRecord(writer)) << "length " << length;
  }
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
