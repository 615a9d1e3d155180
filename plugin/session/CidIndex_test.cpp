#include "session/CidIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
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
      // One album, or two at once.
      const int32_t album = static_cast<int32_t>(random() % 6);
      const int32_t other = random() % 2 == 0 ? album : static_cast<int32_t>(random() % 6);
      size_t removedModel = 0;
      for (auto it = model.begin(); it != model.end();) {
        if (it->second == album || it->second == other) {
          it = model.erase(it);
          ++removedModel;
        } else {
          ++it;
        }
      }
      ASSERT_EQ(removedModel, album == other ? index.RemoveAlbum(album)
                                             : index.RemoveAlbums({album, other}));
    }
    ASSERT_EQ(model.size(), index.size());
    const int32_t probe = static_cast<int32_t>(random() % 6);
    ASSERT_EQ(static_cast<size_t>(std::count_if(model.begin(), model.end(),
                                                [&](const auto& p) { return p.second == probe; })),
              index.CountOfAlbum(probe));
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


// ---------------------------------------------------------------- key layout

// A 40-digit key from a seed: the bytes written in upper case.
std::wstring HexKey(uint32_t seed) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::mt19937 random(seed);
  std::wstring key;
  for (int i = 0; i < 40; ++i) key += kDigits[random() % 16];
  return key;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

// Bulk additions read their keys ahead of their turn: many pairs (repeated keys, text
// keys among compact ones, negative album ids, an index that holds pairs already) land
// as one Add after another puts them, whether given as texts or as raw table records.
TEST(CidIndexKeyTest, BulkAdditionsEqualAddingOneByOne) {
  Pairs pairs;
  std::vector<uint8_t> records;
  for (uint32_t i = 0; i < 500; ++i) {
    const std::wstring hex = HexKey(i % 180);
    const int32_t album = static_cast<int32_t>(i % 13) - 2;
    pairs.emplace_back(i % 7 == 3   ? L"text" + std::to_wstring(i % 11)
                       : i % 7 == 5 ? Lower(hex)
                                    : hex,
                       album);
    for (size_t d = 0; d < 40; d += 2) {
      records.push_back(static_cast<uint8_t>(std::stoi(hex.substr(d, 2), nullptr, 16)));
    }
    for (int b = 0; b < 4; ++b) {
      records.push_back(static_cast<uint8_t>(static_cast<uint32_t>(album) >> (8 * b)));
    }
  }
  ASSERT_EQ(500 * CidIndex::kRawRecordSize, records.size());

  CidIndex single, bulk, batched, raw, rawSingle;
  for (CidIndex* index : {&single, &bulk, &batched, &raw, &rawSingle}) {
    index->Add(HexKey(5), 99);
  }
  for (const auto& pair : pairs) single.Add(pair.first, pair.second);
  bulk.AddAll(pairs);
  CidIndex::Batch batch;
  for (const auto& pair : pairs) {
    const std::string narrow(pair.first.begin(), pair.first.end());
    if (!batch.AddHex(narrow, pair.second)) batch.AddText(pair.first, pair.second);
  }
  batched.AddBatch(batch);
  for (const CidIndex* index : {&bulk, &batched}) {
    EXPECT_EQ(AllPairs(single), AllPairs(*index));
    EXPECT_EQ(single.CountOfAlbum(-2), index->CountOfAlbum(-2));
    EXPECT_EQ(single.TextKeyCount(), index->TextKeyCount());
  }

  for (uint32_t i = 0; i < 500; ++i) {
    rawSingle.Add(HexKey(i % 180), static_cast<int32_t>(i % 13) - 2);
  }
  raw.AddRawRecords(records.data(), 500);
  EXPECT_EQ(AllPairs(rawSingle), AllPairs(raw));
  EXPECT_EQ(501u, raw.size());
  EXPECT_EQ(rawSingle.CountOfAlbum(10), raw.CountOfAlbum(10));
}

TEST(CidIndexKeyTest, HexKeysOfOneCaseAreCompactAndComeBackAsTheyWere) {
  CidIndex index;
  const std::wstring upper = L"000AFF0123456789ABCDEF0123456789ABCDEF01";
  const std::wstring lower = Lower(upper);
  index.Add(upper, 1);
  index.Add(lower, 2);
  EXPECT_EQ(2u, index.CompactKeyCount());
  EXPECT_EQ(0u, index.TextKeyCount());
  // The two cases are two keys, as two strings are.
  EXPECT_EQ((std::vector<int32_t>{1}), IdsOf(index, upper));
  EXPECT_EQ((std::vector<int32_t>{2}), IdsOf(index, lower));
  EXPECT_EQ((Pairs{{upper, 1}, {lower, 2}}), AllPairs(index));
  EXPECT_FALSE(index.RemoveFirst(upper, 2));
  EXPECT_TRUE(index.RemoveFirst(lower, 2));
  EXPECT_EQ(0u, index.Count(lower));
  EXPECT_EQ(1u, index.Count(upper));
}

TEST(CidIndexKeyTest, AKeyOfDigitsOnlyIsOneKeyWhateverTheCase) {
  CidIndex index;
  const std::wstring digits = L"0123456789012345678901234567890123456789";
  index.Add(digits, 4);
  index.Add(Lower(digits), 5);  // the same string
  EXPECT_EQ(1u, index.CompactKeyCount());
  EXPECT_EQ((std::vector<int32_t>{4, 5}), IdsOf(index, digits));
}

TEST(CidIndexKeyTest, OtherKeysAreKeptAsTextUnchanged) {
  CidIndex index;
  const std::wstring mixed = L"000aFF0123456789ABCDEF0123456789ABCDEF01";  // both cases
  const std::wstring nonHex = L"000GFF0123456789ABCDEF0123456789ABCDEF01";
  const std::wstring shorter = L"000AFF0123456789ABCDEF0123456789ABCDEF0";
  const std::wstring longer = L"000AFF0123456789ABCDEF0123456789ABCDEF012";
  const std::wstring wide = L"000AFF0123456789ABCDEF0123456789ABCDEF0\x4E2D";
  const std::wstring empty;
  for (const std::wstring& key : {mixed, nonHex, shorter, longer, wide, empty}) index.Add(key, 7);
  EXPECT_EQ(0u, index.CompactKeyCount());
  EXPECT_EQ(6u, index.TextKeyCount());
  for (const std::wstring& key : {mixed, nonHex, shorter, longer, wide, empty}) {
    EXPECT_EQ((std::vector<int32_t>{7}), IdsOf(index, key));
  }
  // The mixed-case key is not the upper-case one.
  EXPECT_EQ(0u, index.Count(L"000AFF0123456789ABCDEF0123456789ABCDEF01"));
  std::multimap<std::wstring, int32_t> model;
  for (const std::wstring& key : {mixed, nonHex, shorter, longer, wide, empty}) {
    model.emplace(key, 7);
  }
  EXPECT_EQ(Pairs(model.begin(), model.end()), AllPairs(index));
}

// Compact and text keys interleave in string order: a shorter text key before the
// compact key it begins, a longer one after it, upper-case digits before lower-case
// ones, and every character class in between.
TEST(CidIndexKeyTest, CompactAndTextKeysWalkInOneStringOrder) {
  const std::vector<std::wstring> keys = {
      L"0000000000000000000000000000000000000000",
      L"000000000000000000000000000000000000000",
      L"00000000000000000000000000000000000000000",
      L"0000000000000000000000000000000000000009",
      L"000000000000000000000000000000000000000A",
      L"000000000000000000000000000000000000000a",
      L"000000000000000000000000000000000000000:",
      L"9FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
      L"A000000000000000000000000000000000000000",
      L"AaAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
      L"FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
      L"G",
      L"Z",
      L"a000000000000000000000000000000000000000",
      L"aa",
      L"ffffffffffffffffffffffffffffffffffffffff",
      L"",
      L"\x4E2D",
  };
  CidIndex index;
  std::multimap<std::wstring, int32_t> model;
  int32_t album = 0;
  for (const std::wstring& key : keys) {
    index.Add(key, album);
    model.emplace(key, album);
    ++album;
  }
  EXPECT_GT(index.CompactKeyCount(), 0u);
  EXPECT_GT(index.TextKeyCount(), 0u);
  EXPECT_EQ(Pairs(model.begin(), model.end()), AllPairs(index));
}

TEST(CidIndexKeyTest, RepeatedPairsOfACompactKeyKeepTheirInsertionOrder) {
  CidIndex index;
  const std::wstring key = L"C0FFEE0000111122223333444455556666777788";
  index.Add(key, 5);
  index.Add(HexKey(2), 5);
  index.Add(key, 3);
  index.Add(key, 5);  // an equal pair again
  index.Add(key, 1);
  EXPECT_EQ(5u, index.size());
  EXPECT_EQ((std::vector<int32_t>{5, 3, 5, 1}), IdsOf(index, key));
  EXPECT_EQ(0u, index.Count(Lower(key)));
  EXPECT_TRUE(index.RemoveFirst(key, 5));  // the first 5 goes, the later one stays
  EXPECT_EQ((std::vector<int32_t>{3, 5, 1}), IdsOf(index, key));
  index.Add(key, 3);
  EXPECT_EQ((std::vector<int32_t>{3, 5, 1, 3}), IdsOf(index, key));
  EXPECT_EQ(2u, index.RemoveAlbum(3));
  EXPECT_EQ((std::vector<int32_t>{5, 1}), IdsOf(index, key));
  EXPECT_EQ(2u, index.RemoveAlbum(5));  // HexKey(2) goes with it
  EXPECT_EQ((std::vector<int32_t>{1}), IdsOf(index, key));
  EXPECT_EQ(0u, index.Count(HexKey(2)));
  EXPECT_EQ(1u, index.CompactKeyCount());
  EXPECT_TRUE(index.RemoveFirst(key, 1));
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(0u, index.CompactKeyCount());
  index.Add(key, 8);  // usable again after emptying
  EXPECT_EQ((std::vector<int32_t>{8}), IdsOf(index, key));
}

// Many compact keys (several blocks, several table growths, removals that move entries
// and shift probe runs) against an ordered multimap, in both cases and with mixed-case
// and short keys among them.
TEST(CidIndexKeyTest, ManyHexKeysAgreeWithAnOrderedMultimap) {
  std::mt19937 random(777);
  std::vector<std::wstring> pool;
  for (uint32_t i = 0; i < 3000; ++i) {
    std::wstring key = HexKey(i);
    switch (i % 10) {
      case 7: key = Lower(key); break;
      case 8: key[5] = L'a'; key[6] = L'B'; break;  // mixed case: text
      case 9: key.resize(38); break;                // short: text
      default: break;
    }
    pool.push_back(key);
  }
  CidIndex index;
  std::multimap<std::wstring, int32_t> model;
  // First the index fills up (several blocks, several growths of the table), then
  // additions and removals mix.
  for (int step = 0; step < 40000; ++step) {
    if (step == 12000) {
      ASSERT_GT(index.CompactKeyCount(), 2 * 1024u);
    }
    // Room made ahead (a table about to be merged) changes nothing held.
    if (step % 5000 == 0) index.Reserve(static_cast<size_t>(step));
    const std::wstring& cid = pool[random() % pool.size()];
    const int32_t album = static_cast<int32_t>(random() % 5);
    const int what = step < 12000 ? 0 : static_cast<int>(random() % 100);
    if (what < 60) {
      index.Add(cid, album);
      model.emplace(cid, album);
    } else if (what < 99) {
      bool removedModel = false;
      auto range = model.equal_range(cid);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second == album) {
          model.erase(it);
          removedModel = true;
          break;
        }
      }
      ASSERT_EQ(removedModel, index.RemoveFirst(cid, album)) << step;
    } else {
      size_t removedModel = 0;
      for (auto it = model.begin(); it != model.end();) {
        if (it->second == album) {
          it = model.erase(it);
          ++removedModel;
        } else {
          ++it;
        }
      }
      ASSERT_EQ(removedModel, index.RemoveAlbum(album)) << step;
    }
    ASSERT_EQ(model.size(), index.size());
  }
  EXPECT_EQ(Pairs(model.begin(), model.end()), AllPairs(index));
  for (const std::wstring& cid : pool) {
    std::vector<int32_t> expected;
    auto range = model.equal_range(cid);
    for (auto it = range.first; it != range.second; ++it) expected.push_back(it->second);
    ASSERT_EQ(expected, IdsOf(index, cid));
  }
  index.Clear();
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(0u, index.Count(pool[0]));
  EXPECT_TRUE(AllPairs(index).empty());
}

}  // namespace
}  // namespace ZQBlog
}  // namespace Velmora
