#include "util/RecordItem.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace Velmora {
namespace ZQBlog {
namespace {

std::vector<uint8_t> StringItem(int32_t length, const std::string& bytes) {
  std::vector<uint8_t> out;
  AppendIntItem(&out, length);
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

TEST(RecordItemTest, ItemsAreLittleEndianWithCountedStrings) {
  uint8_t buffer[32];
  RecordWriter writer(buffer, sizeof buffer);
  ASSERT_TRUE(writer.WriteInt(0x01020304));
  ASSERT_TRUE(writer.WriteByte(0xAB));
  ASSERT_TRUE(writer.WriteString("uin"));
  ASSERT_TRUE(writer.WriteInt(-2));
  ASSERT_EQ(4u + 1 + 7 + 4, writer.written());
  const uint8_t expected[] = {0x04, 0x03, 0x02, 0x01, 0xAB, 3,    0,    0,
                              0,    'u',  'i',  'n',  0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(expected, expected + sizeof expected),
            std::vector<uint8_t>(buffer, buffer + writer.written()));
  EXPECT_EQ(buffer + writer.written(), writer.cursor());
}

TEST(RecordItemTest, RoundTrip) {
  std::string gbk("\xbb\xf1\xc8\xa1", 4);
  std::string withNul("a\0b", 3);
  std::vector<uint8_t> buffer(4 + 1 + StringItemSize(gbk) + StringItemSize("") +
                              StringItemSize(withNul) + 4);
  RecordWriter writer(buffer.data(), buffer.size());
  ASSERT_TRUE(writer.WriteInt(INT32_MIN));
  ASSERT_TRUE(writer.WriteByte(1));
  ASSERT_TRUE(writer.WriteString(gbk));
  ASSERT_TRUE(writer.WriteString(""));
  ASSERT_TRUE(writer.WriteString(withNul));
  ASSERT_TRUE(writer.WriteInt(INT32_MAX));
  EXPECT_EQ(buffer.size(), writer.written()) << "sizes add up exactly";

  RecordReader reader(buffer.data(), buffer.size());
  int32_t first = 0, last = 0;
  uint8_t flag = 0;
  std::string a, b, c;
  ASSERT_TRUE(reader.ReadInt(&first));
  ASSERT_TRUE(reader.ReadByte(&flag));
  ASSERT_TRUE(reader.ReadString(&a, 1000));
  ASSERT_TRUE(reader.ReadString(&b, 1000));
  ASSERT_TRUE(reader.ReadString(&c, 1000));
  ASSERT_TRUE(reader.ReadInt(&last));
  EXPECT_EQ(INT32_MIN, first);
  EXPECT_EQ(1, flag);
  EXPECT_EQ(gbk, a);
  EXPECT_EQ("", b);
  EXPECT_EQ(withNul, c);
  EXPECT_EQ(INT32_MAX, last);
  EXPECT_EQ(0u, reader.remaining());
  EXPECT_EQ(buffer.size(), reader.consumed());
  EXPECT_TRUE(reader.ok());
}

TEST(RecordItemTest, StringItemSizeIsLengthPlusFour) {
  EXPECT_EQ(4, StringItemSize(""));
  EXPECT_EQ(4 + 46, StringItemSize(std::string(46, 'x')));
}

// The limit counts the length field: with 200, 196 bytes read and 197 do not.
TEST(RecordItemTest, LimitIncludesTheLengthField) {
  std::vector<uint8_t> fits = StringItem(196, std::string(196, 'a'));
  RecordReader okReader(fits.data(), fits.size());
  std::string text;
  EXPECT_TRUE(okReader.ReadString(&text, 200));
  EXPECT_EQ(196u, text.size());

  std::vector<uint8_t> over = StringItem(197, std::string(197, 'a'));
  RecordReader refused(over.data(), over.size());
  text = "kept";
  EXPECT_FALSE(refused.ReadString(&text, 200));
  EXPECT_EQ("kept", text);
  EXPECT_FALSE(refused.ok());

  // A user id field: at most 50 bytes with the length, so 46 characters.
  std::vector<uint8_t> uin = StringItem(47, std::string(47, '1'));
  RecordReader uinReader(uin.data(), uin.size());
  EXPECT_FALSE(uinReader.ReadString(&text, 50));
  // A limit below 4 refuses even the empty string.
  std::vector<uint8_t> empty = StringItem(0, "");
  RecordReader tiny(empty.data(), empty.size());
  EXPECT_FALSE(tiny.ReadString(&text, 3));
  RecordReader four(empty.data(), empty.size());
  EXPECT_TRUE(four.ReadString(&text, 4));
  EXPECT_EQ("", text);
}

TEST(RecordItemTest, NoStringAbove65536WhateverTheLimit) {
  std::vector<uint8_t> max = StringItem(65536, std::string(65536, 'm'));
  RecordReader okReader(max.data(), max.size());
  std::string text;
  EXPECT_TRUE(okReader.ReadString(&text, INT32_MAX));
  EXPECT_EQ(65536u, text.size());

  std::vector<uint8_t> over = StringItem(65537, std::string(65537, 'm'));
  RecordReader refused(over.data(), over.size());
  text = "kept";
  EXPECT_FALSE(refused.ReadString(&text, INT32_MAX));
  EXPECT_EQ("kept", text);
}

TEST(RecordItemTest, NegativeLengthsAreRefused) {
  for (int32_t length : {-1, INT32_MIN}) {
    std::vector<uint8_t> item = StringItem(length, "abcd");
    RecordReader reader(item.data(), item.size());
    std::string text = "kept";
    EXPECT_FALSE(reader.ReadString(&text, INT32_MAX)) << length;
    EXPECT_EQ("kept", text);
  }
  // A negative limit refuses everything, without overflow.
  std::vector<uint8_t> item = StringItem(0, "");
  RecordReader reader(item.data(), item.size());
  std::string text;
  EXPECT_FALSE(reader.ReadString(&text, INT32_MIN));
}

// Every prefix of a record that is shorter than the whole fails at the item it cuts,
// without reading past the end (each prefix is a separate exact-size heap block, so an
// overread shows under AddressSanitizer).
TEST(RecordItemTest, TruncatedBuffersOfEveryLengthFail) {
  std::vector<uint8_t> full(4 + 1 + 4 + 5);
  RecordWriter writer(full.data(), full.size());
  ASSERT_TRUE(writer.WriteInt(7));
  ASSERT_TRUE(writer.WriteByte(8));
  ASSERT_TRUE(writer.WriteString("hello"));
  ASSERT_TRUE(writer.ok());
  for (size_t size = 0; size < full.size(); ++size) {
    std::unique_ptr<uint8_t[]> prefix(new uint8_t[size == 0 ? 1 : size]);
    std::copy(full.begin(), full.begin() + static_cast<long>(size), prefix.get());
    RecordReader reader(prefix.get(), size);
    int32_t number = -1;
    uint8_t byte = 0xEE;
    std::string text = "kept";
    bool ok = reader.ReadInt(&number) && reader.ReadByte(&byte) && reader.ReadString(&text, 100);
    EXPECT_FALSE(ok) << size;
    EXPECT_FALSE(reader.ok()) << size;
    EXPECT_EQ("kept", text) << size;
    EXPECT_EQ(size >= 4 ? 7 : -1, number) << size;
    EXPECT_EQ(size >= 5 ? 8 : 0xEE, byte) << size;
    EXPECT_LE(reader.consumed(), size);
  }
  RecordReader nothing(nullptr, 0);
  int32_t number = 3;
  EXPECT_FALSE(nothing.ReadInt(&number));
  EXPECT_EQ(3, number);
}

TEST(RecordItemTest, AfterARefusalEveryLaterReadFails) {
  std::vector<uint8_t> record = StringItem(60, std::string(60, 'x'));
  std::vector<uint8_t> tail = StringItem(2, "ok");
  record.insert(record.end(), tail.begin(), tail.end());
  record.push_back(5);
  RecordReader reader(record.data(), record.size());
  std::string text = "kept";
  EXPECT_FALSE(reader.ReadString(&text, 50));  // too long for the field
  size_t consumed = reader.consumed();
  std::string next = "untouched";
  uint8_t byte = 0;
  int32_t number = 0;
  EXPECT_FALSE(reader.ReadString(&next, 1000));
  EXPECT_FALSE(reader.ReadByte(&byte));
  EXPECT_FALSE(reader.ReadInt(&number));
  EXPECT_EQ("kept", text);
  EXPECT_EQ("untouched", next);
  EXPECT_EQ(0, byte);
  EXPECT_EQ(0, number);
  EXPECT_EQ(consumed, reader.consumed());
}

TEST(RecordItemTest, WriterStopsAtTheFirstItemThatDoesNotFit) {
  uint8_t buffer[10];
  std::fill(buffer, buffer + sizeof buffer, 0xCC);
  RecordWriter writer(buffer, 8);
  ASSERT_TRUE(writer.WriteInt(1));
  EXPECT_FALSE(writer.WriteString("abc"));  // needs 7, 4 left
  EXPECT_FALSE(writer.ok());
  EXPECT_FALSE(writer.WriteByte(2)) << "nothing more after a failure, even what would fit";
  EXPECT_FALSE(writer.WriteInt(3));
  EXPECT_EQ(4u, writer.written());
  for (int i = 4; i < 10; ++i) EXPECT_EQ(0xCC, buffer[i]) << i;

  RecordWriter exact(buffer, 7);
  EXPECT_TRUE(exact.WriteString("abc"));
  EXPECT_TRUE(exact.ok());
  EXPECT_EQ(7u, exact.written());

  RecordWriter none(nullptr, 0);
  EXPECT_FALSE(none.WriteByte(1));
  EXPECT_EQ(0u, none.written());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
