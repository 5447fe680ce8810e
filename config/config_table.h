// The in-memory table of the configuration file: 16 buckets that never
// grow, and one doubly linked sequence of all entries that ends in a
// sentinel. The sequence is the order in which the file is written back:
// by bucket, 0 first; within a bucket, the entry added most recently first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

struct ConfigEntry {
  std::string key;
  std::string value;
  unsigned bucket = 0;  // 0 to 15; 16 for the sentinel
  ConfigEntry* next = nullptr;
  ConfigEntry* previous = nullptr;
};

class ConfigTable {
 public:
  static constexpr unsigned kBucketCount = 16;

  ConfigTable();
  ~ConfigTable();
  ConfigTable(const ConfigTable&) = delete;
  ConfigTable& operator=(const ConfigTable&) = delete;

  // The bucket of a key: the sum of its bytes, each taken as a signed 8-bit
  // number, in 32-bit two's-complement arithmetic, modulo 16.
  static unsigned BucketOf(std::string_view key);

  // The entry of `key`, compared byte for byte, or the sentinel (empty key
  // and value, bucket 16) when there is none.
  const ConfigEntry& Find(std::string_view key) const;

  // Replaces the value of the entry of `key`, which keeps its place, or
  // inserts a new entry at the front of its bucket's run. Running out of
  // memory throws std::bad_alloc and leaves the table as it was.
  void Put(std::string_view key, std::string_view value);

  // The first entry of the sequence; the sentinel when the table is empty.
  const ConfigEntry* First() const { return first_; }
  const ConfigEntry* Sentinel() const { return slots_[kBucketCount]; }
  std::size_t Size() const { return index_.size(); }

 private:
  void Link(ConfigEntry* entry);
  void InsertBefore(ConfigEntry* entry, ConfigEntry* successor);

  // The 16 bucket heads (null for an empty bucket) and, last, the sentinel.
  ConfigEntry* slots_[kBucketCount + 1];
  ConfigEntry* first_;
  // Finds an entry without walking its bucket, so that a file of many keys
  // is read in time proportional to its size. The views point into the
  // entries' own keys, which never change.
  std::unordered_map<std::string_view, ConfigEntry*> index_;
};
