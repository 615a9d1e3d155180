#include "host/xml/XmlPackageParser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "interfaces/IXMLPackage.h"
#include "platform/atl.h"

namespace Velmora {
namespace ZQHost {
namespace {

const char kAlbumList[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<categories>\n"
    "  <category id=\"12\" category_type=\"0\" show_status=\"1\""
    " last_time=\"2026-12-01 10:00:00\">\n"
    "    <category_name>\xE6\x97\x85\xE8\xA1\x8C</category_name>\n"  // 旅行
    "    <desc>a &amp; b</desc>\n"
    "    <pic_url>http://pic.velmora.cn/12.jpg</pic_url>\n"
    "    <tags tag_num=\"2\"><tag>\xE6\xB5\xB7</tag><tag>\xE5\xB1\xB1</tag></tags>\n"  // 海 山
    "  </category>\n"
    "  <note>not an album</note>\n"
    "  <category id=\"13\" category_type=\"1\" show_status=\"0\" last_time=\"x\">\n"
    "    <category_name><![CDATA[<raw>]]></category_name>\n"
    "  </category>\n"
    "</categories>\n";

const char kCollectReply[] =
    "<result return=\"1\" message=\"success\">"
    "<resource add=\"1\" id=\"501\" state=\"2\"/>"
    "<other/>"
    "<resource add=\"0\" id=\"0\" message=\"duplicate\"/>"
    "</result>";

CComPtr<IPackageParser> NewParser() {
  CComPtr<IPackageParser> parser;
  EXPECT_EQ(S_OK, CreateXmlPackageParser(&parser));
  return parser;
}

CComPtr<IXMLPackage> ParseText(const std::string& text) {
  CComPtr<IPackageParser> parser = NewParser();
  EXPECT_EQ(S_OK, parser->Parse(reinterpret_cast<const BYTE*>(text.data()),
                                static_cast<int>(text.size())));
  CComPtr<IPackage> package;
  EXPECT_EQ(S_OK, parser->GetPackage(&package));
  CComPtr<IXMLPackage> xml;
  if (package) {
    EXPECT_EQ(S_OK, package.QueryInterface(&xml));
  }
  return xml;
}

std::string Value(IXMLNode* node, const char* name, int size = 8192) {
  std::vector<char> buffer(static_cast<size_t>(size), 'x');
  HRESULT hr = node->GetValue(name, buffer.data(), size);
  EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << name;
  return buffer.data();
}

std::string ElementText(IXMLNode* node, const char* name, int size = 8192) {
  std::vector<char> buffer(static_cast<size_t>(size), 'x');
  HRESULT hr = node->GetElementText(name, buffer.data(), size);
  EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << name;
  return buffer.data();
}

std::string SerializeWithDoubling(IXMLPackage* package, int start, int* tries) {
  std::vector<char> buffer(static_cast<size_t>(start));
  *tries = 0;
  for (;;) {
    ++*tries;
    int size = static_cast<int>(buffer.size());
    HRESULT hr = package->Serialize(buffer.data(), &size);
    if (hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)) {
      EXPECT_GT(size, static_cast<int>(buffer.size()));  // the size needed
      buffer.resize(buffer.size() * 2);
      continue;
    }
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(std::strlen(buffer.data()), static_cast<size_t>(size));
    return std::string(buffer.data(), static_cast<size_t>(size));
  }
}

TEST(XmlPackageParserTest, ParserStateFollowsParse) {
  CComPtr<IPackageParser> parser = NewParser();
  int count = -1;
  EXPECT_EQ(S_OK, parser->GetPackageCount(&count));
  EXPECT_EQ(0, count);
  CComPtr<IPackage> package;
  EXPECT_EQ(E_FAIL, parser->GetPackage(&package));
  EXPECT_EQ(nullptr, package.p);

  EXPECT_EQ(S_OK, parser->Parse(reinterpret_cast<const BYTE*>(kCollectReply),
                                static_cast<int>(std::strlen(kCollectReply))));
  EXPECT_EQ(S_OK, parser->GetPackageCount(&count));
  EXPECT_EQ(1, count);
  CComPtr<IPackage> first, second;
  EXPECT_EQ(S_OK, parser->GetPackage(&first));
  EXPECT_EQ(S_OK, parser->GetPackage(&second));
  EXPECT_NE(first.p, second.p);  // a new package each time

  EXPECT_EQ(S_OK, parser->Reset());
  EXPECT_EQ(S_OK, parser->GetPackageCount(&count));
  EXPECT_EQ(0, count);
}

TEST(XmlPackageParserTest, BodiesThatAreNotOneDocumentFail) {
  const char* bad[] = {
      "",
      "404",
      "hello <a/>",
      "<a><b></a>",
      "<a>",
      "<a/><b/>",
      "<a/>tail",
      "<a x=\"1\" x=\"2\"/>",
      "<a><b y=\"1\" z=\"2\" y=\"3\"/></a>",
      "\xEF\xBB\xBF",
  };
  for (const char* text : bad) {
    CComPtr<IPackageParser> parser = NewParser();
    // A good parse first: a failing one must forget it.
    ASSERT_EQ(S_OK, parser->Parse(reinterpret_cast<const BYTE*>("<ok/>"), 5));
    HRESULT hr = parser->Parse(reinterpret_cast<const BYTE*>(text),
                               static_cast<int>(std::strlen(text)));
    EXPECT_TRUE(FAILED(hr)) << "'" << text << "'";
    int count = -1;
    parser->GetPackageCount(&count);
    EXPECT_EQ(0, count) << text;
  }
  CComPtr<IPackageParser> parser = NewParser();
  EXPECT_EQ(E_INVALIDARG, parser->Parse(reinterpret_cast<const BYTE*>("<a/>"), -1));
  EXPECT_EQ(E_POINTER, parser->Parse(nullptr, 3));
  EXPECT_TRUE(FAILED(parser->Parse(nullptr, 0)));
}

TEST(XmlPackageParserTest, RepeatedAttributeFoundInLongAttributeLists) {
  const auto parses = [](const std::string& text) {
    CComPtr<IPackageParser> parser = NewParser();
    return parser->Parse(reinterpret_cast<const BYTE*>(text.data()),
                         static_cast<int>(text.size())) == S_OK;
  };
  // Twenty distinct names parse; the same list with a late repeat of an early name
  // does not, nor does a repeat between the sixteenth and seventeenth names.
  std::string distinct = "<r><e";
  for (int i = 0; i < 20; ++i) distinct += " a" + std::to_string(i) + "=\"v\"";
  distinct += "/></r>";
  EXPECT_TRUE(parses(distinct));
  std::string late = distinct;
  late.insert(late.find("/>"), " a1=\"w\"");
  EXPECT_FALSE(parses(late));
  std::string boundary = "<r";
  for (int i = 0; i < 16; ++i) boundary += " b" + std::to_string(i) + "=\"v\"";
  boundary += " b15=\"again\"/>";
  EXPECT_FALSE(parses(boundary));
}

TEST(XmlPackageParserTest, NamedValuesOfElementsWithManyAttributes) {
  // Sixteen attributes are listed with the node, more are looked up in the document:
  // both give the same answers.
  for (int attributes : {3, 16, 17, 24}) {
    std::string text = "<r><e";
    for (int i = 0; i < attributes; ++i) {
      text += " a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
    }
    text += " b=\"\"/></r>";
    CComPtr<IXMLPackage> xml = ParseText(text);
    ASSERT_TRUE(xml) << attributes;
    CComPtr<IXMLNode> root, element;
    ASSERT_EQ(S_OK, xml->GetRoot(&root));
    ASSERT_EQ(S_OK, root->GetNamedChild("e", 0, &element));
    char buffer[16];
    for (int i = 0; i < attributes; ++i) {
      const std::string name = "a" + std::to_string(i);
      EXPECT_EQ(S_OK, element->GetValue(name.c_str(), buffer, sizeof buffer)) << name;
      EXPECT_EQ("v" + std::to_string(i), std::string(buffer)) << name;
    }
    EXPECT_EQ(S_OK, element->GetValue("b", buffer, sizeof buffer));  // present, empty
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(S_FALSE, element->GetValue("a", buffer, sizeof buffer));
    EXPECT_EQ(S_FALSE, element->GetValue("", buffer, sizeof buffer));
    EXPECT_EQ(S_FALSE, element->GetValue("a1x", buffer, sizeof buffer));
    EXPECT_EQ(E_POINTER, element->GetValue(nullptr, buffer, sizeof buffer));
  }
}

TEST(XmlPackageParserTest, ParseCopiesTheBytes) {
  std::string text = "<result return=\"1\"/>";
  CComPtr<IPackageParser> parser = NewParser();
  ASSERT_EQ(S_OK, parser->Parse(reinterpret_cast<const BYTE*>(text.data()),
                                static_cast<int>(text.size())));
  text.assign(text.size(), '#');
  CComPtr<IPackage> package;
  ASSERT_EQ(S_OK, parser->GetPackage(&package));
  CComPtr<IXMLPackage> xml;
  ASSERT_EQ(S_OK, package.QueryInterface(&xml));
  char buffer[16];
  EXPECT_EQ(S_OK, xml->GetValue("return", buffer, sizeof buffer));
  EXPECT_STREQ("1", buffer);
}

TEST(XmlPackageParserTest, PackageAnswersBothPackageInterfaces) {
  CComPtr<IXMLPackage> xml = ParseText(kCollectReply);
  ASSERT_TRUE(xml);
  CComPtr<IPackage> package;
  EXPECT_EQ(S_OK, xml.QueryInterface(&package));
  CComPtr<IUnknown> a, b;
  EXPECT_EQ(S_OK, xml.QueryInterface(&a));
  EXPECT_EQ(S_OK, package.QueryInterface(&b));
  EXPECT_EQ(a.p, b.p);
  CComPtr<IXMLNode> notANode;
  EXPECT_EQ(E_NOINTERFACE, xml.QueryInterface(&notANode));
}

TEST(XmlPackageParserTest, NamedValuesAndElementTextsOfAlbumList) {
  CComPtr<IXMLPackage> xml = ParseText(kAlbumList);
  ASSERT_TRUE(xml);
  CComPtr<IXMLNode> root;
  ASSERT_EQ(S_OK, xml->GetRoot(&root));
  int count = 0;
  EXPECT_EQ(S_OK, root->GetChildCount("category", &count));
  EXPECT_EQ(2, count);
  EXPECT_EQ(S_OK, root->GetChildCount(nullptr, &count));
  EXPECT_EQ(3, count);

  CComPtr<IXMLNode> album;
  ASSERT_EQ(S_OK, root->GetChild(0, &album));
  EXPECT_EQ("12", Value(album, "id"));
  EXPECT_EQ("1", Value(album, "show_status"));
  EXPECT_EQ("2026-12-01 10:00:00", Value(album, "last_time"));
  EXPECT_EQ("\xE6\x97\x85\xE8\xA1\x8C", ElementText(album, "category_name"));
  EXPECT_EQ("a & b", ElementText(album, "desc"));
  EXPECT_EQ("http://pic.velmora.cn/12.jpg", ElementText(album, "pic_url"));

  CComPtr<IXMLNode> tags;
  ASSERT_EQ(S_OK, album->GetNamedChild("tags", 0, &tags));
  EXPECT_EQ("2", Value(tags, "tag_num"));
  std::vector<std::string> texts;
  for (int j = 0; j < 2; ++j) {
    CComPtr<IXMLNode> tag;
    ASSERT_EQ(S_OK, tags->GetNamedChild("tag", j, &tag));
    char buffer[16];
    EXPECT_EQ(S_OK, tag->GetText(buffer, sizeof buffer));
    texts.push_back(buffer);
  }
  EXPECT_EQ((std::vector<std::string>{"\xE6\xB5\xB7", "\xE5\xB1\xB1"}), texts);

  // By position among all children the note sits between the albums.
  CComPtr<IXMLNode> note, second;
  ASSERT_EQ(S_OK, root->GetChild(1, &note));
  EXPECT_EQ("", Value(note, "id"));
  ASSERT_EQ(S_OK, root->GetNamedChild("category", 1, &second));
  EXPECT_EQ("13", Value(second, "id"));
  EXPECT_EQ("<raw>", ElementText(second, "category_name"));

  CComPtr<IXMLNode> none;
  EXPECT_EQ(E_INVALIDARG, root->GetChild(3, &none));
  EXPECT_EQ(nullptr, none.p);
  EXPECT_EQ(E_INVALIDARG, root->GetChild(-1, &none));
  EXPECT_EQ(E_INVALIDARG, root->GetNamedChild("category", 2, &none));
  EXPECT_EQ(nullptr, none.p);
}

TEST(XmlPackageParserTest, AbsentNamesGiveFalseAndEmptyText) {
  CComPtr<IXMLPackage> xml = ParseText(kAlbumList);
  ASSERT_TRUE(xml);
  CComPtr<IXMLNode> album;
  ASSERT_EQ(S_OK, xml->GetRoot(&album));
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(S_FALSE, album->GetValue("missing", buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  std::strcpy(buffer, "xxxxxxx");
  EXPECT_EQ(S_FALSE, album->GetElementText("missing", buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(E_POINTER, album->GetValue(nullptr, buffer, sizeof buffer));
  EXPECT_EQ(E_POINTER, album->GetValue("id", nullptr, 8));
  EXPECT_EQ(E_INVALIDARG, album->GetValue("id", buffer, 0));
  EXPECT_EQ(E_POINTER, album->GetChildCount("x", nullptr));
}

TEST(XmlPackageParserTest, WriteReplyValuesAndItems) {
  CComPtr<IXMLPackage> xml = ParseText(kCollectReply);
  ASSERT_TRUE(xml);
  char buffer[4096];
  EXPECT_EQ(S_OK, xml->GetValue("return", buffer, sizeof buffer));
  EXPECT_STREQ("1", buffer);
  EXPECT_EQ(S_OK, xml->GetValue("message", buffer, sizeof buffer));
  EXPECT_STREQ("success", buffer);
  EXPECT_EQ(S_FALSE, xml->GetValue("category_id", buffer, sizeof buffer));

  int count = 0;
  EXPECT_EQ(S_OK, xml->GetItemCount(&count));
  EXPECT_EQ(2, count);  // <other/> is not an item
  CComPtr<IXMLNode> first, second, none;
  ASSERT_EQ(S_OK, xml->GetItem(0, &first));
  ASSERT_EQ(S_OK, xml->GetItem(1, &second));
  EXPECT_EQ("1", Value(first, "add"));
  EXPECT_EQ("501", Value(first, "id"));
  EXPECT_EQ("2", Value(first, "state"));
  EXPECT_EQ("0", Value(second, "add"));
  EXPECT_EQ("duplicate", Value(second, "message"));
  EXPECT_EQ(E_INVALIDARG, xml->GetItem(2, &none));
  EXPECT_EQ(E_INVALIDARG, xml->GetItem(-1, &none));

  CComPtr<IXMLPackage> empty = ParseText("<result message=\"success\"/>");
  ASSERT_TRUE(empty);
  EXPECT_EQ(S_OK, empty->GetItemCount(&count));
  EXPECT_EQ(0, count);
  EXPECT_EQ(S_FALSE, empty->GetValue("return", buffer, sizeof buffer));
}

TEST(XmlPackageParserTest, RootElementTextOfPackage) {
  CComPtr<IXMLPackage> xml = ParseText(
      "<r><a>one</a><a>two</a><b>x<i>y</i>z</b><c><![CDATA[<raw>]]></c><e></e>"
      "<m>a<!--note-->b</m></r>");
  ASSERT_TRUE(xml);
  char buffer[32];
  EXPECT_EQ(S_OK, xml->GetElementText("c", buffer, sizeof buffer));
  EXPECT_STREQ("<raw>", buffer);
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(S_OK, xml->GetElementText("e", buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);  // present and empty
  EXPECT_EQ(S_OK, xml->GetElementText("m", buffer, sizeof buffer));
  EXPECT_STREQ("ab", buffer);  // the texts on both sides of a comment
  EXPECT_EQ(S_OK, xml->GetElementText("a", buffer, sizeof buffer));
  EXPECT_STREQ("one", buffer);  // the first element of that name
  EXPECT_EQ(S_OK, xml->GetElementText("b", buffer, sizeof buffer));
  EXPECT_STREQ("xyz", buffer);  // text content, nested text included
}

TEST(XmlPackageParserTest, BoundedBuffersAreCutWithoutSplittingCharacters) {
  CComPtr<IXMLPackage> xml = ParseText(
      "<r v=\"abcdef\"><n>\xE6\x97\x85\xE8\xA1\x8C</n></r>");  // 旅行, 6 bytes
  ASSERT_TRUE(xml);
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(S_OK, xml->GetValue("v", buffer, 4));
  EXPECT_STREQ("abc", buffer);
  EXPECT_EQ('x', buffer[4]);  // nothing written past the given size
  EXPECT_EQ(S_OK, xml->GetValue("v", buffer, 1));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(S_OK, xml->GetValue("v", buffer, 7));
  EXPECT_STREQ("abcdef", buffer);

  EXPECT_EQ(S_OK, xml->GetElementText("n", buffer, 7));
  EXPECT_STREQ("\xE6\x97\x85\xE8\xA1\x8C", buffer);
  for (int size = 4; size <= 6; ++size) {
    EXPECT_EQ(S_OK, xml->GetElementText("n", buffer, size));
    EXPECT_STREQ("\xE6\x97\x85", buffer) << size;  // the second character does not fit
  }
  EXPECT_EQ(S_OK, xml->GetElementText("n", buffer, 3));
  EXPECT_STREQ("", buffer);
}

TEST(XmlPackageParserTest, SerializeReportsTheSizeNeeded) {
  CComPtr<IXMLPackage> xml = ParseText(kAlbumList);
  ASSERT_TRUE(xml);
  int size = 0;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), xml->Serialize(nullptr, &size));
  const int needed = size;
  ASSERT_GT(needed, 1);
  std::vector<char> exact(static_cast<size_t>(needed), 'x');
  size = needed - 1;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), xml->Serialize(exact.data(), &size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ('x', exact[0]);  // a refused call writes nothing
  size = needed;
  EXPECT_EQ(S_OK, xml->Serialize(exact.data(), &size));
  EXPECT_EQ(needed - 1, size);
  EXPECT_EQ('\0', exact[static_cast<size_t>(needed - 1)]);

  int tries = 0;
  std::string text = SerializeWithDoubling(xml, 16, &tries);
  EXPECT_GT(tries, 1);
  EXPECT_EQ(std::string(exact.data()), text);
  // The text is a document again, with the same content.
  CComPtr<IXMLPackage> again = ParseText(text);
  ASSERT_TRUE(again);
  CComPtr<IXMLNode> root, album;
  ASSERT_EQ(S_OK, again->GetRoot(&root));
  ASSERT_EQ(S_OK, root->GetNamedChild("category", 0, &album));
  EXPECT_EQ("\xE6\x97\x85\xE8\xA1\x8C", ElementText(album, "category_name"));
  EXPECT_EQ("a & b", ElementText(album, "desc"));
  EXPECT_NE(std::string::npos, text.find("encoding=\"utf-8\""));
}

TEST(XmlPackageParserTest, SerializedTextEscapesLineBreaksInValues) {
  // Line breaks and tabs inside values come out as character references, the text
  // the album and resource list caches clean up.
  CComPtr<IXMLPackage> xml = ParseText("<r a=\"x&#10;y&#9;z\"><d>&amp;nbsp;</d></r>");
  ASSERT_TRUE(xml);
  int tries = 0;
  std::string text = SerializeWithDoubling(xml, 4, &tries);
  EXPECT_NE(std::string::npos, text.find("x&#10;y&#09;z")) << text;
  EXPECT_NE(std::string::npos, text.find("&amp;nbsp;")) << text;
}

TEST(XmlPackageParserTest, NodesKeepTheDocumentAlive) {
  CComPtr<IXMLNode> item;
  {
    CComPtr<IXMLPackage> xml = ParseText(kCollectReply);
    ASSERT_TRUE(xml);
    ASSERT_EQ(S_OK, xml->GetItem(1, &item));
  }  // parser and package are gone
  EXPECT_EQ("duplicate", Value(item, "message"));
}

TEST(XmlPackageParserTest, SetDataReplacesTheDocument) {
  CComPtr<IXMLPackage> xml = ParseText("<a v=\"1\"/>");
  ASSERT_TRUE(xml);
  CComPtr<IXMLNode> oldRoot;
  ASSERT_EQ(S_OK, xml->GetRoot(&oldRoot));
  int stored = -1;
  const char next[] = "<b v=\"2\"/>";
  EXPECT_EQ(S_OK, xml->SetData(reinterpret_cast<const BYTE*>(next), 10, &stored));
  EXPECT_EQ(10, stored);
  char buffer[8];
  EXPECT_EQ(S_OK, xml->GetValue("v", buffer, sizeof buffer));
  EXPECT_STREQ("2", buffer);
  EXPECT_EQ("1", Value(oldRoot, "v"));  // a node read before keeps its own document

  stored = -1;
  EXPECT_TRUE(FAILED(xml->SetData(reinterpret_cast<const BYTE*>("nope"), 4, &stored)));
  EXPECT_EQ(-1, stored);
  EXPECT_EQ(S_OK, xml->GetValue("v", buffer, sizeof buffer));
  EXPECT_STREQ("2", buffer);  // kept
  EXPECT_EQ(E_FAIL, xml->SetData(nullptr, 0, &stored));
  EXPECT_EQ(E_POINTER, xml->SetData(reinterpret_cast<const BYTE*>(next), 10, nullptr));
  EXPECT_EQ(E_INVALIDARG, xml->SetData(reinterpret_cast<const BYTE*>(next), -1, &stored));
}

TEST(XmlPackageParserTest, NineMebibyteDocument) {
  std::string text = "<resources>";
  const std::string name(1000, 'n');
  int resources = 0;
  while (text.size() < 9u * 1024 * 1024) {
    text += "<resource id=\"" + std::to_string(resources) + "\"><res_name>" + name +
            "</res_name></resource>";
    ++resources;
  }
  text += "</resources>";
  CComPtr<IXMLPackage> xml = ParseText(text);
  ASSERT_TRUE(xml);
  int count = 0;
  EXPECT_EQ(S_OK, xml->GetItemCount(&count));
  EXPECT_EQ(resources, count);
  for (int i = 0; i < count; ++i) {  // reading every item stays linear
    CComPtr<IXMLNode> item;
    ASSERT_EQ(S_OK, xml->GetItem(i, &item));
    if (i == count - 1) {
      EXPECT_EQ(std::to_string(i), Value(item, "id"));
    }
  }
  int tries = 0;
  std::string out = SerializeWithDoubling(xml, 65536, &tries);
  EXPECT_GT(out.size(), 9u * 1024 * 1024);
  EXPECT_EQ(9, tries);  // 64 KiB doubled up to 16 MiB
}

TEST(XmlPackageParserTest, DeepNestingCostsNoStack) {
  const int depth = 200000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<d>";
  text += "deep";
  for (int i = 0; i < depth; ++i) text += "</d>";
  CComPtr<IXMLPackage> xml = ParseText(text);
  ASSERT_TRUE(xml);
  CComPtr<IXMLNode> root;
  ASSERT_EQ(S_OK, xml->GetRoot(&root));
  char buffer[16];
  EXPECT_EQ(S_OK, root->GetText(buffer, sizeof buffer));
  EXPECT_STREQ("deep", buffer);
  EXPECT_EQ(S_OK, root->GetElementText("d", buffer, sizeof buffer));
  EXPECT_STREQ("deep", buffer);
  int tries = 0;
  EXPECT_EQ(text.size() + 38, SerializeWithDoubling(xml, 1 << 20, &tries).size());
}

TEST(XmlPackageParserTest, ConcurrentReadersShareOnePackage) {
  CComPtr<IXMLPackage> xml = ParseText(kAlbumList);
  ASSERT_TRUE(xml);
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        CComPtr<IXMLNode> root, album;
        if (FAILED(xml->GetRoot(&root))) continue;
        if (FAILED(root->GetNamedChild("category", i % 2, &album))) continue;
        char id[8];
        int size = 0;
        album->GetValue("id", id, sizeof id);
        xml->Serialize(nullptr, &size);
        if (std::strcmp(id, i % 2 ? "13" : "12") == 0 && size > 100) ++good[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(200, good[t]);
}

}  // namespace
}  // namespace ZQHost
}  // namespace Velmora
