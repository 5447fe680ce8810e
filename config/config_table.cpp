#include "config/config_table.h"

#include <memory>

unsigned ConfigTable::BucketOf(std::string_view key) {
  std::uint32_t sum = 0;
  for (char c : key) {
    // A byte of 0x80 or more counts as a negative number.
    const std::int32_t signedByte = static_cast<signed char>(c);
    sum += static_cast<std::uint32_t>(signedByte);
  }
  return sum % kBucketCount;
}

ConfigTable::ConfigTable() : first_(nullptr) {
  for (unsigned b = 0; b < kBucketCount; ++b) slots_[b] = nullptr;
  auto sentinel = std::make_unique<ConfigEntry>();
  sentinel->bucket = kBucketCount;
  slots_[kBucketCount] = sentinel.release();
  first_ = slots_[kBucketCount];
}

ConfigTable::~ConfigTable() {
  ConfigEntry* entry = first_;
  while (entry != nullptr) {
    ConfigEntry* next = entry->next;
    delete entry;
    entry = next;
  }
}

const ConfigEntry& ConfigTable::Find(std::string_view key) const {
  auto found = index_.find(key);
  return found != index_.end() ? *found->second : *Sentinel();
}

void ConfigTable::Put(std::string_view key, std::string_view value) {
  auto found = index_.find(key);
  if (found != index_.end()) {
    found->second->value.assign(value.data(), value.size());
    return;
  }
  auto entry = std::make_unique<ConfigEntry>();
  entry->key.assign(key.data(), key.size());
  entry->value.assign(value.data(), value.size());
  entry->bucket = BucketOf(key);
  // Index first: if that runs out of memory, the sequence is still whole.
  index_.emplace(std::string_view(entry->key), entry.get());
  Link(entry.release());
}

void ConfigTable::InsertBefore(ConfigEntry* entry, ConfigEntry* successor) {
  entry->next = successor;
  entry->previous = successor->previous;
  if (successor->previous != nullptr) {
    successor->previous->next = entry;
  } else {
    first_ = entry;
  }
  successor->previous = entry;
}

void ConfigTable::Link(ConfigEntry* entry) {
  const unsigned b = entry->bucket;
  if (slots_[b] != nullptr) {
    // The bucket has entries: the new one goes in front of them.
    InsertBefore(entry, slots_[b]);
    slots_[b] = entry;
    return;
  }
  slots_[b] = entry;
  // After the last entry of the nearest non-empty bucket below, which is the
  // entry before the first one of the next bucket above it.
  for (unsigned lower = b; lower-- > 0;) {
    if (slots_[lower] == nullptr) continue;
    ConfigEntry* last = slots_[lower];
    while (last->next->bucket == lower) last = last->next;
    InsertBefore(entry, last->next);
    return;
  }
  // Else before the first entry of the nearest non-empty bucket above.
  for (unsigned upper = b + 1; upper < kBucketCount; ++upper) {
    if (slots_[upper] == nullptr) continue;
    InsertBefore(entry, slots_[upper]);
    return;
  }
  // The table was empty: the entry comes first, followed by the sentinel.
  InsertBefore(entry, slots_[kBucketCount]);
}
