#include "commands/BaseAlbumCmd.h"

#include <gtest/gtest.h>

#include <string>

#include "test/AlbumCmdTestSupport.h"
#include "test/FrameworkTestSupport.h"
#include "test/XmlReplyTestSupport.h"

namespace Velmora {
namespace ZQBlog {
namespace {

using album_testing::AlbumSpec;
using album_testing::MakeAlbum;
using album_testing::ResultReply;

TEST(BaseAlbumCmdFormTest, PiecesAreAppendedWholeWhileTheyFitBeforeTheTerminator) {
  BaseAlbumCmd::Form form(8);
  EXPECT_TRUE(form.Append("abc"));
  EXPECT_TRUE(form.Append("defg"));
  EXPECT_EQ("abcdefg", form.text()) << "seven bytes and the terminator";
  EXPECT_FALSE(form.Append("h"));
  EXPECT_FALSE(form.ok());
  EXPECT_EQ("abcdefg", form.text()) << "a piece that does not fit is not written";

  BaseAlbumCmd::Form refused(4);
  EXPECT_FALSE(refused.Append("abcd"));
  EXPECT_FALSE(refused.Append("")) << "a refused form stays refused";
  EXPECT_EQ("", refused.text());
  BaseAlbumCmd::Form none(0);
  EXPECT_FALSE(none.Append("")) << "no room even for the terminator";
}

TEST(BaseAlbumCmdTextTest, FormTextEscapesTheAnsiTextThenConvertsItToUtf8) {
  EXPECT_EQ("a%26b%20c%3D%2F%3F%5C%2B%25%0D%0A#\"", BaseAlbumCmd::FormText(L"a&b c=/?\\+%\r\n#\""));
  EXPECT_EQ("\xE6\xB5\xB7", BaseAlbumCmd::FormText(L"\u6D77")) << "not percent-escaped";
  EXPECT_EQ("", BaseAlbumCmd::FormText(L""));
}

TEST(BaseAlbumCmdTextTest, ReadLimitsCountTheLengthField) {
  EXPECT_TRUE(BaseAlbumCmd::FitsReadLimit(std::string(46, 'u'), 50));
  EXPECT_FALSE(BaseAlbumCmd::FitsReadLimit(std::string(47, 'u'), 50));
  EXPECT_TRUE(BaseAlbumCmd::FitsReadLimit("", 4));
  EXPECT_FALSE(BaseAlbumCmd::FitsReadLimit("", 3));

  AlbumSpec spec;
  spec.name = std::wstring(48, L'\u6D77');  // 96 bytes in code page 936
  spec.desc = std::wstring(96, L'd');
  spec.picUrl = std::wstring(96, L'p');
  spec.tagNum = 7;
  spec.tags = {L"a", L"b", std::wstring(96, L't')};
  EXPECT_TRUE(BaseAlbumCmd::AlbumRecordFits(MakeAlbum(spec)));
  AlbumSpec longTag = spec;
  longTag.tags[2] += L"t";
  EXPECT_FALSE(BaseAlbumCmd::AlbumRecordFits(MakeAlbum(longTag)));
  longTag.tagNum = 2;
  EXPECT_TRUE(BaseAlbumCmd::AlbumRecordFits(MakeAlbum(longTag))) << "only the slots in use";
  CComPtr<AlbumInfo> timed = MakeAlbum(spec);
  timed->SetLastTime(std::wstring(97, L'1').c_str());
  EXPECT_FALSE(BaseAlbumCmd::AlbumRecordFits(timed));
  EXPECT_FALSE(BaseAlbumCmd::AlbumRecordFits(nullptr));
}

TEST(BaseAlbumCmdReplyTest, NamedValuesAreReadIntoA1024ByteBuffer) {
  CComPtr<xml_testing::FakeXmlParser> parser(new xml_testing::FakeXmlParser);
  const std::string body = ResultReply({{"return", "1"}, {"message", std::string(2000, 'm')},
                                        {"empty", ""}});
  ASSERT_EQ(S_OK, parser->Parse(reinterpret_cast<const BYTE*>(body.data()),
                                static_cast<int>(body.size())));
  CComPtr<IPackage> package;
  ASSERT_EQ(S_OK, parser->GetPackage(&package));
  std::string value = "x";
  EXPECT_TRUE(BaseAlbumCmd::ReadReplyValue(package, "return", &value));
  EXPECT_EQ("1", value);
  EXPECT_TRUE(BaseAlbumCmd::ReadReplyValue(package, "message", &value));
  EXPECT_EQ(std::string(1023, 'm'), value);
  EXPECT_TRUE(BaseAlbumCmd::ReadReplyValue(package, "empty", &value)) << "present, empty";
  EXPECT_EQ("", value);
  value = "x";
  EXPECT_FALSE(BaseAlbumCmd::ReadReplyValue(package, "category_id", &value));
  EXPECT_EQ("", value);

  // A package that is no XML document has no values.
  CComPtr<IPackage> plain(new framework_testing::FakePackage);
  EXPECT_FALSE(BaseAlbumCmd::ReadReplyValue(plain, "return", &value));
  EXPECT_FALSE(BaseAlbumCmd::ReadReplyValue(nullptr, "return", &value));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
