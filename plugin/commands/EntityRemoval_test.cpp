#include "commands/EntityRemoval.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace Velmora {
namespace ZQBlog {
namespace {

// The definition, written the slow way: cut the first occurrence and search again from
// the beginning until there is none.
void SlowRemove(std::string* text, const std::string& pattern) {
  for (size_t at = text->find(pattern); at != std::string::npos; at = text->find(pattern)) {
    text->erase(at, pattern.size());
  }
}

std::string SlowReplyEntities(std::string text) {
  SlowRemove(&text, "&#10;");
  SlowRemove(&text, "&#09;");
  SlowRemove(&text, "&amp;nbsp;");
  return text;
}

std::string Fast(std::string text) {
  RemoveReplyEntities(&text);
  return text;
}

TEST(EntityRemovalTest, RemovesTheThreeEntitiesAndKeepsEverythingElse) {
  EXPECT_EQ("<a d=\"xy\">a b</a>", Fast("<a d=\"x&#10;y&#09;\">a&amp;nbsp; b</a>"));
  EXPECT_EQ("&#13;&amp;&nbsp;&#9;&#010;", Fast("&#13;&amp;&nbsp;&#9;&#010;"));
  EXPECT_EQ("", Fast(""));
  EXPECT_EQ("", Fast("&#10;&#10;&#09;&amp;nbsp;"));
}

TEST(EntityRemovalTest, OccurrencesFormedByARemovalAreRemovedToo) {
  EXPECT_EQ("", Fast("&#1&#10;0;"));
  EXPECT_EQ("", Fast("&amp;&amp;nbsp;nbsp;"));
  EXPECT_EQ("", Fast("&#&#1&#10;0;10;"));
  // A line feed between the third and fourth characters of the nbsp entity: the line
  // feed goes first, then the entity it completed.
  EXPECT_EQ("xy", Fast("x&am&#10;p;nbsp;y"));
  // A tab inside the nbsp entity: the tab pass runs before the nbsp pass.
  EXPECT_EQ("", Fast("&amp;n&#09;bsp;"));
}

TEST(EntityRemovalTest, TheThreePassesRunInOrder) {
  // Cutting the tab forms a line feed, but the line-feed pass is over by then.
  EXPECT_EQ("&#10;", Fast("&#1&#09;0;"));
  // Cutting an nbsp forms a tab or a line feed: both passes are over.
  EXPECT_EQ("&#09;", Fast("&#0&amp;nbsp;9;"));
  EXPECT_EQ("&#10;", Fast("&#1&amp;nbsp;0;"));
}

TEST(EntityRemovalTest, SinglePatternMatchesTheDefinitionOnOverlappingPatterns) {
  // A pattern that overlaps itself, where the order of the cuts matters: "ababa" loses
  // the occurrence at 0 ("ba"), not the one at 2 ("ab").
  std::string text = "ababa";
  RemoveEveryOccurrence(&text, "aba", 3);
  EXPECT_EQ("ba", text);

  std::mt19937 random(7);
  const std::string letters = "ab";
  for (int round = 0; round < 20000; ++round) {
    std::string pattern;
    for (int i = 1 + random() % 4; i > 0; --i) pattern += letters[random() % 2];
    std::string input;
    for (int i = random() % 24; i > 0; --i) input += letters[random() % 2];
    std::string slow = input;
    SlowRemove(&slow, pattern);
    std::string fast = input;
    RemoveEveryOccurrence(&fast, pattern.data(), pattern.size());
    ASSERT_EQ(slow, fast) << "input " << input << " pattern " << pattern;
  }
}

TEST(EntityRemovalTest, MatchesTheDefinitionOnRandomTexts) {
  std::mt19937 random(12345);
  // Pieces of the entities and their neighbours, so that overlaps and entities formed
  // by cuts come up often.
  const char* const pieces[] = {"&", "#", "1", "0", "9", ";", "a", "m", "p", "n", "b", "s",
                                "&#", "&#1", "0;", "&#0", "9;", "&#10;", "&#09;", "&am",
                                "p;", "&amp;", "nbsp;", "&amp;nbsp;", "&amp;nb", "sp;", "x"};
  const size_t pieceCount = sizeof(pieces) / sizeof(pieces[0]);
  for (int round = 0; round < 50000; ++round) {
    std::string input;
    for (int i = random() % 16; i > 0; --i) input += pieces[random() % pieceCount];
    ASSERT_EQ(SlowReplyEntities(input), Fast(input)) << "input " << input;
  }
}

TEST(EntityRemovalTest, DeeplyNestedEntitiesTakeLinearTime) {
  // k line feeds, each split by the next: cutting from the beginning would take about
  // k * k / 2 steps of search and shift; the single pass takes one step per byte.
  const size_t k = 1 << 20;
  std::string nested;
  nested.reserve(k * 5 + 4);
  for (size_t i = 0; i < k; ++i) nested += "&#1";
  for (size_t i = 0; i < k; ++i) nested += "0;";
  nested += "end";
  EXPECT_EQ("end", Fast(nested));

  std::string nbsp;
  for (size_t i = 0; i < k; ++i) nbsp += "&amp;";
  for (size_t i = 0; i < k; ++i) nbsp += "nbsp;";
  EXPECT_EQ("", Fast(nbsp));
}

TEST(EntityRemovalTest, ZeroBytesAreKeptAndNullArgumentsChangeNothing) {
  std::string text("a\0&#10;b", 8);
  RemoveReplyEntities(&text);
  EXPECT_EQ(std::string("a\0b", 3), text);
  RemoveReplyEntities(nullptr);
  std::string same = "&#10;";
  RemoveEveryOccurrence(&same, "", 0);
  RemoveEveryOccurrence(&same, nullptr, 5);
  EXPECT_EQ("&#10;", same);
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
