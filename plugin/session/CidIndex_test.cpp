#include "session/CidIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace Velmora {
namespace ZQBlog {
namespace {

typedef std::vector<std::pair<std::wstring, int32_t>> Pairs;

Pairs AllPairs(const CidIndex& index) {
  Pairs pairs;
  index.ForEach([&](const std::wstring& cid, int32_t album) { pairs.emplace_back(cid, album); });
  return pairs;
}

std::vector<int32_t> IdsOf(const CidIndex& index, const std::wstring& cid) {
  std::vector<int32_t> ids(index.Count(cid));
  index.CopyAlbumIds(cid, ids.data());
  return ids;
}

TEST(CidIndexTest, KeepsMultimapOrderAndDuplicates) {
  CidIndex index;
  index.Add(L"BB", 2);
  index.Add(L"AA", 9);
  index.Add(L"BB", 1);
  index.Add(L"AA", 9);  // an equal pair is kept
  index.Add(L"A", 5);
  EXPECT_EQ(5u, index.size());
  EXPECT_EQ((std::vector<int32_t>{9, 9}), IdsOf(index, L"AA"));
  EXPECT_EQ((std::vector<int32_t>{2, 1}), IdsOf(index, L"BB"));  // insertion order
  EXPECT_EQ(0u, index.Count(L"CC"));
  EXPECT_EQ((Pairs{{L"A", 5}, {L"AA", 9}, {L"AA", 9}, {L"BB", 2}, {L"BB", 1}}), AllPairs(index));
}

TEST(CidIndexTest, RemoveFirstTakesTheEarliestMatchingPairOnly) {
  CidIndex index;
  index.Add(L"K", 1);
  index.Add(L"K", 2);
  index.Add(L"K", 1);
  index.Add(L"K", 3);
  EXPECT_TRUE(index.RemoveFirst(L"K", 1));
  EXPECT_EQ((std::vector<int32_t>{2, 1, 3}), IdsOf(index, L"K"));
  EXPECT_TRUE(index.RemoveFirst(L"K", 3));
  EXPECT_EQ((std::vector<int32_t>{2, 1}), IdsOf(index, L"K"));
  EXPECT_FALSE(index.RemoveFirst(L"K", 7));
  EXPECT_FALSE(index.RemoveFirst(L"other", 2));
  EXPECT_TRUE(index.RemoveFirst(L"K", 2));
  EXPECT_TRUE(index.RemoveFirst(L"K", 1));
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(0u, index.Count(L"K"));
  EXPECT_TRUE(AllPairs(index).empty());
}

TEST(CidIndexTest, RemoveAlbumDropsEveryPairOfThatAlbumAndKeepsTheOrderOfTheRest) {
  CidIndex index;
  index.Add(L"A", 4);
  index.Add(L"A", 7);
  index.Add(L"A", 4);
  index.Add(L"A", 8);
  index.Add(L"B", 4);  // a key left with no pair disappears
  index.Add(L"C", 7);
  EXPECT_EQ(3u, index.RemoveAlbum(4));
  EXPECT_EQ((Pairs{{L"A", 7}, {L"A", 8}, {L"C", 7}}), AllPairs(index));
  EXPECT_EQ(0u, index.Count(L"B"));
  EXPECT_EQ(0u, index.RemoveAlbum(4));
  EXPECT_EQ(3u, index.size());
  index.Clear();
  EXPECT_TRUE(index.empty());
  EXPECT_TRUE(AllPairs(index).empty());
}

// The index must answer exactly as an ordered multimap would, through any mix of
// additions and removals.
TEST(CidIndexTest, AgreesWithAnOrderedMultimapUnderRandomChanges) {
  std::mt19937 random(12345);
  CidIndex index;
  std::multimap<std::wstring, int32_t> model;
  auto key = [&] { return L"CID" + std::to_wstring(random() % 40); };
  for (int step = 0; step < 6000; ++step) {
    int what = static_cast<int>(random() % 10);
    if (what < 6) {
      std::wstring cid = key();
      int32_t album = static_cast<int32_t>(random() % 6);
      index.Add(cid, album);
      model.emplace(cid, album);
    } else if (what < 9) {
      std::wstring cid = key();
      int32_t album = static_cast<int32_t>(random() % 6);
      bool removedModel = false;
      auto range = model.equal_range(cid);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second == album) {
          model.erase(it);
          removedModel = true;
          break;
        }
      }
      ASSERT_EQ(removedModel, index.RemoveFirst(cid, album));
    } else {
      int32_t album = static_cast<int32_t>(random() % 6);
      size_t removedModel = 0;
      for (auto it = model.begin(); it != model.end();) {
        if (it->second == album) {
          it = model.erase(it);
          ++removedModel;
        } else {
          ++it;
        }
      }
      ASSERT_EQ(removedModel, index.RemoveAlbum(album));
    }
    ASSERT_EQ(model.size(), index.size());
  }
  EXPECT_EQ(Pairs(model.begin(), model.end()), AllPairs(index));
  for (int k = 0; k < 40; ++k) {
    std::wstring cid = L"CID" + std::to_wstring(k);
    std::vector<int32_t> expected;
    auto range = model.equal_range(cid);
    for (auto it = range.first; it != range.second; ++it) expected.push_back(it->second);
    EXPECT_EQ(expected, IdsOf(index, cid)) << "key " << k;
  }
}

TEST(CidIndexTest, AddAllEqualsAddingOneByOne) {
  Pairs pairs{{L"X", 1}, {L"Y", 2}, {L"X", 3}, {L"X", 1}};
  CidIndex bulk;
  bulk.Add(L"X", 0);  // merged after what is there
  bulk.AddAll(pairs);
  EXPECT_EQ((Pairs{{L"X", 0}, {L"X", 1}, {L"X", 3}, {L"X", 1}, {L"Y", 2}}), AllPairs(bulk));
  CidIndex fresh;
  fresh.AddAll(pairs);
  EXPECT_EQ((Pairs{{L"X", 1}, {L"X", 3}, {L"X", 1}, {L"Y", 2}}), AllPairs(fresh));
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
