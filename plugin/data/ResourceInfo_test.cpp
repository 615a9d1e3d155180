#include "data/ResourceInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interfaces/IZQAlbumInfo.h"
#include "test/DataTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using testing_support::IntOf;
using testing_support::RecordBytes;
using testing_support::RecordOf;
using testing_support::TextOf;

CComPtr<ResourceInfo> MakeResource() {
  CComObject<ResourceInfo>* resource = nullptr;
  EXPECT_EQ(S_OK, CComObject<ResourceInfo>::CreateInstance(&resource));
  return CComPtr<ResourceInfo>(resource);
}

// Gives every field a distinct value.
void Fill(IZQResInfo* r) {
  r->SetId(41);
  r->SetCid(L"CID0123");
  r->SetGcid(L"GCID4567");
  r->SetResName(L"电影 one.avi");
  r->SetFormat(L"avi");
  r->SetSize(L"1048576");
  r->SetLastTime(L"2008-01-02 03:04:05");
  r->SetUrl(L"http://files.example/one.avi");
  r->SetOriginal(L"http://origin.example/");
  r->SetRefer(L"http://refer.example/");
  r->SetDesc(L"描述");
  r->SetResType(1);
  r->SetState(3);
  r->SetCategoryId(77);
  r->SetUin(L"10001");
}

void ExpectFilled(IZQResInfo* r) {
  EXPECT_EQ(41, IntOf(r, &IZQResInfo::GetId));
  EXPECT_EQ(L"CID0123", TextOf(r, &IZQResInfo::GetCid));
  EXPECT_EQ(L"GCID4567", TextOf(r, &IZQResInfo::GetGcid));
  EXPECT_EQ(L"电影 one.avi", TextOf(r, &IZQResInfo::GetResName));
  EXPECT_EQ(L"avi", TextOf(r, &IZQResInfo::GetFormat));
  EXPECT_EQ(L"1048576", TextOf(r, &IZQResInfo::GetSize));
  EXPECT_EQ(L"2008-01-02 03:04:05", TextOf(r, &IZQResInfo::GetLastTime));
  EXPECT_EQ(L"http://files.example/one.avi", TextOf(r, &IZQResInfo::GetUrl));
  EXPECT_EQ(L"http://origin.example/", TextOf(r, &IZQResInfo::GetOriginal));
  EXPECT_EQ(L"http://refer.example/", TextOf(r, &IZQResInfo::GetRefer));
  EXPECT_EQ(L"描述", TextOf(r, &IZQResInfo::GetDesc));
  EXPECT_EQ(1, IntOf(r, &IZQResInfo::GetResType));
  EXPECT_EQ(3, IntOf(r, &IZQResInfo::GetState));
  EXPECT_EQ(77, IntOf(r, &IZQResInfo::GetCategoryId));
  EXPECT_EQ(L"10001", TextOf(r, &IZQResInfo::GetUin));
}

TEST(ResourceInfoTest, FreshResourceIsZeroAndEmpty) {
  CComPtr<ResourceInfo> r = MakeResource();
  EXPECT_EQ(0, IntOf(r.p, &IZQResInfo::GetId));
  EXPECT_EQ(0, IntOf(r.p, &IZQResInfo::GetResType));
  EXPECT_EQ(0, IntOf(r.p, &IZQResInfo::GetState));
  EXPECT_EQ(0, IntOf(r.p, &IZQResInfo::GetCategoryId));
  HRESULT (STDMETHODCALLTYPE IZQResInfo::*getters[])(BSTR*) = {
      &IZQResInfo::GetCid,  &IZQResInfo::GetGcid,     &IZQResInfo::GetResName,
      &IZQResInfo::GetFormat, &IZQResInfo::GetSize,   &IZQResInfo::GetLastTime,
      &IZQResInfo::GetUrl,  &IZQResInfo::GetOriginal, &IZQResInfo::GetRefer,
      &IZQResInfo::GetDesc, &IZQResInfo::GetUin};
  for (auto getter : getters) {
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, (r->*getter)(&text));
    ASSERT_NE(nullptr, text);  // an empty BSTR, not a null one
    EXPECT_EQ(0u, SysStringLen(text));
    SysFreeString(text);
  }
}

TEST(ResourceInfoTest, SettersCopyAndNullTextClears) {
  CComPtr<ResourceInfo> r = MakeResource();
  std::wstring name = L"first";
  r->SetResName(name.c_str());
  name[0] = L'X';  // the resource holds its own copy
  EXPECT_EQ(L"first", TextOf(r.p, &IZQResInfo::GetResName));
  EXPECT_EQ(S_OK, r->SetResName(nullptr));
  EXPECT_EQ(L"", TextOf(r.p, &IZQResInfo::GetResName));
}

TEST(ResourceInfoTest, TextsKeptAsBytesAreReadAndRecordedAsWideText) {
  CComPtr<ResourceInfo> r = MakeResource();
  typedef ResourceInfo::TextField Field;
  r->SetTextBytes(Field::kResName, "\xe7\x94\xb5\xe5\xbd\xb1 one.avi", CP_UTF8);
  r->SetTextBytes(Field::kCid, "\xc3\xe8\xca\xf6", 936);  // "描述"
  EXPECT_EQ(L"电影 one.avi", TextOf(r.p, &IZQResInfo::GetResName));
  EXPECT_EQ(L"描述", TextOf(r.p, &IZQResInfo::GetCid));
  // The record carries them as any text set as wide text.
  CComPtr<ResourceInfo> wide = MakeResource();
  wide->CopyFrom(r.p);
  wide->SetResName(L"电影 one.avi");
  wide->SetCid(L"描述");
  std::vector<BYTE> a(static_cast<size_t>(r->RecordSize()));
  std::vector<BYTE> b(static_cast<size_t>(wide->RecordSize()));
  RecordWriter wa(a.data(), a.size());
  RecordWriter wb(b.data(), b.size());
  ASSERT_TRUE(r->WriteRecord(wa));
  ASSERT_TRUE(wide->WriteRecord(wb));
  EXPECT_EQ(b, a);
  // Appended in one pass, the record is the same bytes.
  std::vector<uint8_t> appended = {0xEE};
  r->AppendRecord(&appended);
  EXPECT_EQ(a, std::vector<BYTE>(appended.begin() + 1, appended.end()));
  // A text that cannot be converted fails its getter, not the caller.
  r->SetTextBytes(Field::kDesc, "abc", 12345);  // no such code page
  wchar_t sentinel[] = L"x";
  BSTR desc = sentinel;  // an out-value is overwritten, never freed
  EXPECT_TRUE(FAILED(r->GetDesc(&desc)));
  EXPECT_EQ(nullptr, desc);
}

TEST(ResourceInfoTest, NullOutPointersAreRefused) {
  CComPtr<ResourceInfo> r = MakeResource();
  EXPECT_EQ(E_POINTER, r->GetId(nullptr));
  EXPECT_EQ(E_POINTER, r->GetCid(nullptr));
  EXPECT_EQ(E_POINTER, r->GetUin(nullptr));
}

TEST(ResourceInfoTest, QueryInterfaceAnswersIUnknownAndIZQResInfoOnly) {
  CComPtr<ResourceInfo> r = MakeResource();
  CComPtr<IUnknown> unknown;
  EXPECT_EQ(S_OK, r->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
  CComPtr<IZQResInfo> info;
  EXPECT_EQ(S_OK, r->QueryInterface(IID_IZQResInfo, reinterpret_cast<void**>(&info)));
  EXPECT_EQ(static_cast<IUnknown*>(info.p), unknown.p);
  void* other = &other;
  EXPECT_EQ(E_NOINTERFACE, r->QueryInterface(IID_IZQAlbumInfo, &other));
  EXPECT_EQ(nullptr, other);
}

TEST(ResourceInfoTest, CopyFromClassAndInterfaceCopiesEveryField) {
  CComPtr<ResourceInfo> source = MakeResource();
  Fill(source);
  CComPtr<ResourceInfo> byClass = MakeResource();
  byClass->CopyFrom(*source);
  ExpectFilled(byClass);
  CComPtr<ResourceInfo> byInterface = MakeResource();
  byInterface->CopyFrom(static_cast<IZQResInfo*>(source.p));
  ExpectFilled(byInterface);
  byInterface->CopyFrom(static_cast<IZQResInfo*>(nullptr));  // ignored
  ExpectFilled(byInterface);
}

// A resource whose GetCid fails, as a foreign implementation might.
class FailingCidResource : public ResourceInfo {
 public:
  STDMETHOD(GetCid)(BSTR*) override { return E_FAIL; }
};

TEST(ResourceInfoTest, CopyFromInterfaceKeepsFieldWhoseGetterFails) {
  CComObject<FailingCidResource>* raw = nullptr;
  ASSERT_EQ(S_OK, CComObject<FailingCidResource>::CreateInstance(&raw));
  CComPtr<IZQResInfo> source(raw);
  source->SetCid(L"hidden");
  source->SetGcid(L"visible");
  CComPtr<ResourceInfo> target = MakeResource();
  target->SetCid(L"kept");
  target->CopyFrom(source.p);
  EXPECT_EQ(L"kept", TextOf(target.p, &IZQResInfo::GetCid));
  EXPECT_EQ(L"visible", TextOf(target.p, &IZQResInfo::GetGcid));
}

TEST(ResourceInfoTest, FreshRecordIsSixtyBytesOfZeroLengthsAndInts) {
  CComPtr<ResourceInfo> r = MakeResource();
  EXPECT_EQ(60, r->RecordSize());
  std::vector<uint8_t> record = RecordOf(*r);
  EXPECT_EQ(std::vector<uint8_t>(60, 0), record);
}

TEST(ResourceInfoTest, RecordLayoutIsItemByItem) {
  CComPtr<ResourceInfo> r = MakeResource();
  r->SetId(-2);
  r->SetCid(L"c");
  r->SetGcid(L"gg");
  r->SetResName(L"名");  // two bytes in code page 936
  r->SetFormat(L"f");
  r->SetSize(L"9");
  r->SetLastTime(L"t");
  r->SetUrl(L"u");
  r->SetOriginal(L"o");
  r->SetRefer(L"r");
  r->SetDesc(L"d");
  r->SetResType(1);
  r->SetState(5);
  r->SetCategoryId(300);
  r->SetUin(L"42");
  RecordBytes expected;
  expected.Int(-2).Text("c").Text("gg").Text("\xC3\xFB").Text("f").Text("9").Text("t");
  expected.Text("u").Text("o").Text("r").Text("d").Int(1).Int(5).Int(300).Text("42");
  EXPECT_EQ(static_cast<int>(expected.bytes().size()), r->RecordSize());
  EXPECT_EQ(expected.bytes(), RecordOf(*r));
}

TEST(ResourceInfoTest, RecordRoundTripsEveryField) {
  CComPtr<ResourceInfo> source = MakeResource();
  Fill(source);
  std::vector<uint8_t> record = RecordOf(*source);
  ASSERT_EQ(static_cast<size_t>(source->RecordSize()), record.size());
  CComPtr<ResourceInfo> target = MakeResource();
  RecordReader reader(record.data(), record.size());
  ASSERT_TRUE(target->ReadRecord(reader));
  EXPECT_EQ(record.size(), reader.consumed());
  ExpectFilled(target);
}

TEST(ResourceInfoTest, ResTypeIsStoredUnchangedButRecordedAsZeroOneOrTwo) {
  const int cases[][2] = {{0, 0}, {1, 1}, {2, 2}, {7, 2}, {-1, 2}, {1000, 2}};
  for (const auto& c : cases) {
    CComPtr<ResourceInfo> source = MakeResource();
    source->SetResType(c[0]);
    EXPECT_EQ(c[0], IntOf(source.p, &IZQResInfo::GetResType));
    std::vector<uint8_t> record = RecordOf(*source);
    CComPtr<ResourceInfo> target = MakeResource();
    RecordReader reader(record.data(), record.size());
    ASSERT_TRUE(target->ReadRecord(reader));
    EXPECT_EQ(c[1], IntOf(target.p, &IZQResInfo::GetResType)) << "set " << c[0];
  }
}

TEST(ResourceInfoTest, ReadingMapsForeignResTypeToTwo) {
  RecordBytes bytes;
  bytes.Int(1);
  for (int i = 0; i < 10; ++i) bytes.Text("");
  bytes.Int(9).Int(0).Int(0).Text("");
  CComPtr<ResourceInfo> r = MakeResource();
  RecordReader reader(bytes.bytes().data(), bytes.bytes().size());
  ASSERT_TRUE(r->ReadRecord(reader));
  EXPECT_EQ(2, IntOf(r.p, &IZQResInfo::GetResType));
}

// A record whose Cid is text, the rest empty.
std::vector<uint8_t> RecordWithCid(const std::string& cid) {
  RecordBytes bytes;
  bytes.Int(5).Text(cid);
  for (int i = 0; i < 9; ++i) bytes.Text("");
  bytes.Int(0).Int(0).Int(0).Text("");
  return bytes.bytes();
}

TEST(ResourceInfoTest, CidLimitIs196Bytes) {
  std::vector<uint8_t> fits = RecordWithCid(std::string(196, 'c'));
  CComPtr<ResourceInfo> r = MakeResource();
  RecordReader reader(fits.data(), fits.size());
  ASSERT_TRUE(r->ReadRecord(reader));
  EXPECT_EQ(std::wstring(196, L'c'), TextOf(r.p, &IZQResInfo::GetCid));

  std::vector<uint8_t> tooLong = RecordWithCid(std::string(197, 'c'));
  CComPtr<ResourceInfo> refused = MakeResource();
  refused->SetCid(L"before");
  refused->SetGcid(L"untouched");
  RecordReader reader2(tooLong.data(), tooLong.size());
  EXPECT_FALSE(refused->ReadRecord(reader2));
  EXPECT_EQ(5, IntOf(refused.p, &IZQResInfo::GetId));  // items before it are stored
  EXPECT_EQ(L"before", TextOf(refused.p, &IZQResInfo::GetCid));
  EXPECT_EQ(L"untouched", TextOf(refused.p, &IZQResInfo::GetGcid));
}

TEST(ResourceInfoTest, ShortFieldsHaveTheFiftyByteLimit) {
  // Format, Size, LastTime and Uin accept 46 bytes, not 47.
  for (size_t length : {46u, 47u}) {
    CComPtr<ResourceInfo> source = MakeResource();
    source->SetFormat(std::wstring(length, L'f').c_str());
    std::vector<uint8_t> record = RecordOf(*source);
    CComPtr<ResourceInfo> target = MakeResource();
    RecordReader reader(record.data(), record.size());
    EXPECT_EQ(length == 46u, target->ReadRecord(reader)) << length;
  }
  for (size_t length : {46u, 47u}) {
    CComPtr<ResourceInfo> source = MakeResource();
    source->SetUin(std::wstring(length, L'9').c_str());
    std::vector<uint8_t> record = RecordOf(*source);
    CComPtr<ResourceInfo> target = MakeResource();
    RecordReader reader(record.data(), record.size());
    EXPECT_EQ(length == 46u, target->ReadRecord(reader)) << length;
    EXPECT_EQ(length == 46u ? std::wstring(46, L'9') : std::wstring(),
              TextOf(target.p, &IZQResInfo::GetUin));
  }
}

TEST(ResourceInfoTest, NegativeLengthIsRefused) {
  RecordBytes bytes;
  bytes.Int(1).Int(-1);
  CComPtr<ResourceInfo> r = MakeResource();
  RecordReader reader(bytes.bytes().data(), bytes.bytes().size());
  EXPECT_FALSE(r->ReadRecord(reader));
  EXPECT_EQ(L"", TextOf(r.p, &IZQResInfo::GetCid));
}

TEST(ResourceInfoTest, EveryTruncatedRecordFailsWithoutReadingPastIt) {
  CComPtr<ResourceInfo> source = MakeResource();
  Fill(source);
  std::vector<uint8_t> record = RecordOf(*source);
  for (size_t length = 0; length < record.size(); ++length) {
    // An exact-size copy, so a read past the end is caught by the address sanitizer.
    std::vector<uint8_t> prefix(record.begin(), record.begin() + length);
    CComPtr<ResourceInfo> target = MakeResource();
    RecordReader reader(prefix.data(), prefix.size());
    EXPECT_FALSE(target->ReadRecord(reader)) << "length " << length;
    EXPECT_LE(reader.consumed(), length);
  }
}

TEST(ResourceInfoTest, WriteRecordFailsWhenTheBufferIsShort) {
  CComPtr<ResourceInfo> source = MakeResource();
  Fill(source);
  const size_t size = static_cast<size_t>(source->RecordSize());
  for (size_t length = 0; length < size; ++length) {
    std::vector<uint8_t> buffer(length);
    RecordWriter writer(buffer.data(), buffer.size());
    EXPECT_FALSE(source->WriteRecord(writer)) << "length " << length;
    EXPECT_LE(writer.written(), length);
  }
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
