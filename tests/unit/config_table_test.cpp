#include "config/config_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The keys of the sequence from the first entry to the sentinel, checking
// on the way that the links agree in both directions and that the entries
// of each bucket stand together, in ascending bucket order.
std::vector<std::string> SequenceKeys(const ConfigTable& table) {
  std::vector<std::string> keys;
  const ConfigEntry* previous = nullptr;
  for (const ConfigEntry* e = table.First(); e != table.Sentinel(); e = e->next) {
    EXPECT_EQ(e->previous, previous) << e->key;
    if (previous != nullptr) {
      EXPECT_LE(previous->bucket, e->bucket) << e->key;
    }
    EXPECT_EQ(e->bucket, ConfigTable::BucketOf(e->key)) << e->key;
    keys.push_back(e->key);
    previous = e;
  }
  EXPECT_EQ(table.Sentinel()->previous, previous);
  EXPECT_EQ(table.Sentinel()->next, nullptr);
  return keys;
}

TEST(ConfigTable, BucketIsTheSignedByteSumModuloSixteen) {
  struct Case {
    std::string key;
    unsigned bucket;
  } cases[] = {
      {"AutoUpdateDisable", 0},
      {"SilentAutoUpdateEnable", 2},
      {"SilentAutoUpdateVerboseLogging", 8},
      {"SilentAutoUpdateServerDomain", 10},
      {"a", 1},
      {"p", 0},
      {"o", 15},
      // Bytes of 0x80 and more are negative: -1 is 0xFFFFFFFF, bucket 15,
      // never a negative remainder.
      {"\xFF", 15},
      {"\x80", 0},
      {"\x80\x80\x80", 0},
      {"\xF0", 0},
      {"a\xFF", 0},       // 97 - 1
      {"\xFF\xFF\x01", 15},  // -1 - 1 + 1
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ConfigTable::BucketOf(c.key), c.bucket) << c.key;
}

TEST(ConfigTable, SequenceRunsByBucketWithTheNewestEntryOfABucketFirst) {
  // Buckets: p 0, a 1, q 1, b 2, o 15.
  struct Case {
    std::vector<std::string> insertions;
    std::vector<std::string> sequence;
  } cases[] = {
      {{"b"}, {"b"}},
      {{"b", "p"}, {"p", "b"}},           // below an existing bucket: in front of it
      {{"p", "b"}, {"p", "b"}},           // above: after the last entry below
      {{"a", "q"}, {"q", "a"}},           // same bucket: newest first
      {{"b", "p", "o", "a", "q"}, {"p", "q", "a", "b", "o"}},
      {{"o", "a", "p", "q", "b"}, {"p", "q", "a", "b", "o"}},
      {{"a", "q", "a", "q"}, {"q", "a"}},  // a key put again keeps its place
  };
  for (const Case& c : cases) {
    ConfigTable table;
    for (const std::string& key : c.insertions) table.Put(key, "v");
    EXPECT_EQ(SequenceKeys(table), c.sequence) << testing::PrintToString(c.insertions);
    EXPECT_EQ(table.Size(), c.sequence.size());
  }
}

TEST(ConfigTable, ReplacingAValueKeepsTheEntryInPlace) {
  ConfigTable table;
  table.Put("SilentAutoUpdateEnable", "1");
  table.Put("AutoUpdateDisable", "0");
  table.Put("a", "x");
  table.Put("SilentAutoUpdateEnable", "0");
  EXPECT_EQ(SequenceKeys(table), (std::vector<std::string>{"AutoUpdateDisable", "a", "SilentAutoUpdateEnable"}));
  EXPECT_EQ(table.Find("SilentAutoUpdateEnable").value, "0");
}

TEST(ConfigTable, AnAbsentKeyFindsTheSentinel) {
  ConfigTable table;
  EXPECT_EQ(table.First(), table.Sentinel());
  table.Put("Key", "1");
  for (const char* absent : {"key", "Key ", "K", ""}) {
    const ConfigEntry& found = table.Find(absent);
    EXPECT_EQ(&found, table.Sentinel()) << absent;
    EXPECT_EQ(found.bucket, 16u);
    EXPECT_EQ(found.value, "");
  }
  EXPECT_EQ(table.Find("Key").value, "1");
}

TEST(ConfigTable, KeysWithZeroBytesAreKeysOfTheirOwn) {
  ConfigTable table;
  table.Put(std::string("a\0b", 3), "1");
  table.Put("a", "2");
  EXPECT_EQ(table.Find(std::string("a\0b", 3)).value, "1");
  EXPECT_EQ(table.Find("a").value, "2");
  EXPECT_EQ(table.Size(), 2u);
}

}  // namespace
