#include "XmlWriter.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace Velmora {
namespace ZQBlog {
namespace Service {
namespace {

TEST(XmlWriterTest, WritesNestedElements) {
  XmlWriter xml;
  xml.Open("result");
  xml.Attribute("return", "1");
  xml.Attribute("id", 42);
  xml.Open("resource");
  xml.Close();
  xml.Element("name", "x");
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<result return=\"1\" id=\"42\"><resource/><name>x</name></result>\n",
      xml.Finish());
}

TEST(XmlWriterTest, TextSurvivesAParser) {
  const std::string attribute = "a&b<c>\"d'\r\n\te";
  const std::string text = "x&y<z>\"q\"\nline2\r\n\xE6\x97\x85";
  XmlWriter xml;
  xml.Open("root");
  xml.Attribute("value", attribute);
  xml.Element("text", text);
  const std::string document = xml.Finish();
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(document.c_str()));
  EXPECT_EQ(attribute, doc.child("root").attribute("value").value());
  EXPECT_EQ(text, doc.child("root").child("text").text().get());
}

TEST(XmlWriterTest, ReplacesWhatXmlCannotCarry) {
  XmlWriter xml;
  xml.Open("root");
  xml.Text(std::string("a\x01" "b\xFF" "c\xE6\x97", 7));
  const std::string document = xml.Finish();
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(document.c_str()));
  EXPECT_EQ("a?b\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD", std::string(doc.child("root").text().get()));
}

}  // namespace
}  // namespace Service
}  // namespace ZQBlog
}  // namespace Velmora
