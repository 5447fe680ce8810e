// The schedule values against each registry (see registry_cases.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "tests/support/registry_cases.h"
#include "update/schedule_state.h"

namespace {

using platform::registry_type::kBinary;
using platform::registry_type::kDword;
using platform::registry_type::kQword;

constexpr std::uint64_t kDay = 864000000000ULL;
constexpr std::uint64_t kNow = 130000000000000000ULL;  // late in 2012
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

struct StoredValue {
  std::uint32_t type;
  std::string bytes;
};

std::optional<StoredValue> Qword(std::uint64_t v) { return StoredValue{kQword, Le64(v)}; }
std::optional<StoredValue> Dword(std::uint32_t v) { return StoredValue{kDword, Le32(v)}; }
std::optional<StoredValue> Bytes(std::string bytes) { return StoredValue{kBinary, std::move(bytes)}; }
constexpr std::nullopt_t kMissing = std::nullopt;

TEST_P(ScheduleStateCases, DueTestFollowsLastCheckFrequencyAndClock) {
  struct Row {
    const char* label;
    bool key;
    std::optional<StoredValue> last;
    std::optional<StoredValue> frequency;
    std::uint64_t now;
    bool due;
  };
  const Row rows[] = {
      {"no key at all", false, kMissing, kMissing, kNow, true},
      {"key without values", true, kMissing, kMissing, kNow, true},
      {"reset to 0", true, Qword(0), Dword(1), kNow, true},
      {"exactly one day before now", true, Qword(kNow - kDay), kMissing, kNow, false},
      {"one day and one unit before now", true, Qword(kNow - kDay - 1), kMissing, kNow, true},
      {"exactly three days, frequency 3", true, Qword(kNow - 3 * kDay), Dword(3), kNow, false},
      {"three days and one unit, frequency 3", true, Qword(kNow - 3 * kDay - 1), Dword(3), kNow, true},
      {"two days, frequency 2", true, Qword(kNow - 2 * kDay), Dword(2), kNow, false},
      {"frequency 0 counts as one day", true, Qword(kNow - kDay - 1), Dword(0), kNow, true},
      {"frequency 0, exactly one day", true, Qword(kNow - kDay), Dword(0), kNow, false},
      {"frequency 7 counts as three days", true, Qword(kNow - 3 * kDay), Dword(7), kNow, false},
      {"frequency 7, three days and one unit", true, Qword(kNow - 3 * kDay - 1), Dword(7), kNow, true},
      {"frequency of 8 bytes counts as one day", true, Qword(kNow - 2 * kDay), Qword(3), kNow, true},
      {"clock set back before the last check", true, Qword(kNow + 5 * kDay), kMissing, kNow, false},
      {"clock set back, exactly a day past it", true, Qword(kNow - 5 * kDay), kMissing, kNow - 4 * kDay, false},
      {"clock set back, a day and a unit past it", true, Qword(kNow - 5 * kDay), kMissing, kNow - 4 * kDay + 1, true},
      {"4-byte value fills the low 32 bits", true, Dword(0xFFFFFFFF), kMissing, 0xFFFFFFFFULL + kDay, false},
      {"4-byte value, one unit later", true, Dword(0xFFFFFFFF), kMissing, 0xFFFFFFFFULL + kDay + 1, true},
      {"4-byte value of a recent time", true, Dword(static_cast<std::uint32_t>(kNow)), kMissing, kNow, true},
      {"longer than 8 bytes counts as never checked", true, Bytes(Le64(kNow) + Le32(0)), kMissing, kNow, true},
      {"type is not examined", true, Bytes(Le64(kNow)), kMissing, kNow, false},
      {"sum wraps past 2^64", true, Qword(kMax64 - kDay + 10), kMissing, 10, true},
      {"sum wraps past 2^64, equal to now", true, Qword(kMax64 - kDay + 10), kMissing, 9, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Fresh();
    if (row.key) PlantKey(ScheduleKey);
    if (row.last) Plant(ScheduleKey, kLastUpdateCheckValue, row.last->type, row.last->bytes);
    if (row.frequency) Plant(ScheduleKey, kCheckFrequencyValue, row.frequency->type, row.frequency->bytes);
    clock_.fileTime = row.now;
    EXPECT_EQ(IsCheckDue(), row.due);
    EXPECT_EQ(KeyExists(ScheduleKey), row.key) << "the due test created the key";
  }
}

TEST_P(ScheduleStateCases, ReadFrequencyIsAlwaysOneToThreeDays) {
  struct Row {
    const char* label;
    bool key;
    std::optional<StoredValue> stored;
    std::uint32_t days;
    bool read;
  };
  const Row rows[] = {
      {"no key", false, kMissing, 1, false},
      {"no value", true, kMissing, 1, false},
      {"0", true, Dword(0), 1, true},
      {"1", true, Dword(1), 1, true},
      {"2", true, Dword(2), 2, true},
      {"3", true, Dword(3), 3, true},
      {"4", true, Dword(4), 3, true},
      {"7", true, Dword(7), 3, true},
      {"4294967295", true, Dword(0xFFFFFFFF), 3, true},
      {"2 bytes", true, Bytes(Le16(2)), 2, true},
      {"no bytes", true, Bytes(""), 1, true},
      {"8 bytes", true, Qword(2), 1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Fresh();
    if (row.key) PlantKey(ScheduleKey);
    if (row.stored) Plant(ScheduleKey, kCheckFrequencyValue, row.stored->type, row.stored->bytes);
    std::uint32_t days = 12345;
    EXPECT_EQ(ReadCheckFrequency(days), row.read);
    EXPECT_EQ(days, row.days);
  }
}

TEST_P(ScheduleStateCases, WrittenFrequencyIsClampedToOneToThreeDays) {
  struct Row {
    std::optional<std::uint32_t> given;
    std::uint32_t stored;
  };
  const Row rows[] = {{std::nullopt, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 3}, {7, 3}, {0xFFFFFFFF, 3}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.given ? std::to_string(*row.given) : "none");
    Fresh();
    // Whatever was there before is replaced, whatever its type and size.
    Plant(ScheduleKey, kCheckFrequencyValue, kQword, Le64(kMax64));
    ASSERT_TRUE(WriteCheckFrequency(row.given));
    auto stored = Stored(ScheduleKey, kCheckFrequencyValue);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, kDword);
    EXPECT_EQ(stored->bytes, Le32(row.stored));
  }
}

TEST_P(ScheduleStateCases, WritesCreateTheKeyWithTheTypesAndSizesOfEachValue) {
  clock_.fileTime = kNow;
  ASSERT_FALSE(KeyExists(ScheduleKey));
  EXPECT_TRUE(WriteLastUpdateCheck(false));
  auto last = Stored(ScheduleKey, kLastUpdateCheckValue);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->type, kQword);
  EXPECT_EQ(last->bytes, Le64(kNow));

  EXPECT_TRUE(WriteLastUpdateCheck(true));
  last = Stored(ScheduleKey, kLastUpdateCheckValue);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->type, kQword);
  EXPECT_EQ(last->bytes, Le64(0));

  Fresh();
  EXPECT_TRUE(WriteUpdateAttempts(0x01020304));
  auto attempts = Stored(ScheduleKey, kUpdateAttemptsValue);
  ASSERT_TRUE(attempts.has_value());
  EXPECT_EQ(attempts->type, kDword);
  EXPECT_EQ(attempts->bytes, Le32(0x01020304));
}

TEST_P(ScheduleStateCases, ReadAttemptsReportsWhetherTheValueWasRead) {
  struct Row {
    const char* label;
    bool key;
    std::optional<StoredValue> stored;
    bool read;
    std::uint32_t count;  // 777 when the variable is left as it was
  };
  const Row rows[] = {
      {"no key", false, kMissing, false, 777},
      {"no value", true, kMissing, false, 777},
      {"6", true, Dword(6), true, 6},
      {"4294967295", true, Dword(0xFFFFFFFF), true, 0xFFFFFFFF},
      {"2 bytes", true, Bytes(Le16(0x0102)), true, 0x0102},
      {"no bytes", true, Bytes(""), true, 0},
      {"8 bytes", true, Qword(1), false, 777},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Fresh();
    if (row.key) PlantKey(ScheduleKey);
    if (row.stored) Plant(ScheduleKey, kUpdateAttemptsValue, row.stored->type, row.stored->bytes);
    std::uint32_t count = 777;
    EXPECT_EQ(ReadUpdateAttempts(count), row.read);
    EXPECT_EQ(count, row.count);
  }
}

TEST_P(ScheduleStateCases, IncrementCountsOnFromWhatCanBeRead) {
  struct Row {
    const char* label;
    bool key;
    std::optional<StoredValue> stored;
    std::uint32_t after;
  };
  const Row rows[] = {
      {"no key: creates it and writes 1", false, kMissing, 1},
      {"no value", true, kMissing, 1},
      {"0", true, Dword(0), 1},
      {"6", true, Dword(6), 7},
      {"4294967295 wraps to 0", true, Dword(0xFFFFFFFF), 0},
      {"2 bytes", true, Bytes(Le16(5)), 6},
      {"8 bytes cannot be read", true, Qword(41), 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Fresh();
    if (row.key) PlantKey(ScheduleKey);
    if (row.stored) Plant(ScheduleKey, kUpdateAttemptsValue, row.stored->type, row.stored->bytes);
    EXPECT_TRUE(IncrementUpdateAttempts());
    auto stored = Stored(ScheduleKey, kUpdateAttemptsValue);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, kDword);
    EXPECT_EQ(stored->bytes, Le32(row.after));
  }
}

TEST_P(ScheduleStateCases, EachDeletionRemovesItsOwnValueOnly) {
  struct Row {
    const char* value;
    bool (*remove)();
  };
  const Row rows[] = {{"LastUpdateCheck", DeleteLastUpdateCheck},
                      {"CheckFrequency", DeleteCheckFrequency},
                      {"UpdateAttempts", DeleteUpdateAttempts}};
  const std::wstring names[] = {kLastUpdateCheckValue, kCheckFrequencyValue, kUpdateAttemptsValue};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(rows[i].value);
    Fresh();
    EXPECT_FALSE(rows[i].remove()) << "no key";
    EXPECT_FALSE(KeyExists(ScheduleKey)) << "a deletion created the key";

    ASSERT_TRUE(WriteUpdateAttempts(3) && WriteLastUpdateCheck(true) && WriteCheckFrequency(2));
    EXPECT_TRUE(rows[i].remove());
    for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(Stored(ScheduleKey, names[j]).has_value(), i != j);
    EXPECT_FALSE(rows[i].remove()) << "the value is gone";
  }
}

// Clearing the schedule deletes the values in this order and stops at the
// first deletion that fails; initialising writes them and stops likewise.
TEST_P(ScheduleStateCases, ClearingChainStopsAtTheFirstMissingValue) {
  struct Row {
    const char* label;
    bool attempts, last, frequency;                 // present before
    bool attemptsAfter, lastAfter, frequencyAfter;  // present after
  };
  const Row rows[] = {
      {"all present", true, true, true, false, false, false},
      {"attempts missing", false, true, true, false, true, true},
      {"last check missing", true, false, true, false, false, true},
      {"frequency missing", true, true, false, false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Fresh();
    PlantKey(ScheduleKey);
    if (row.attempts) {
      ASSERT_TRUE(WriteUpdateAttempts(2));
    }
    if (row.last) {
      ASSERT_TRUE(WriteLastUpdateCheck(true));
    }
    if (row.frequency) {
      ASSERT_TRUE(WriteCheckFrequency(2u));
    }
    const bool cleared = DeleteUpdateAttempts() && DeleteLastUpdateCheck() && DeleteCheckFrequency();
    EXPECT_EQ(cleared, row.attempts && row.last && row.frequency);
    EXPECT_EQ(Stored(ScheduleKey, kUpdateAttemptsValue).has_value(), row.attemptsAfter);
    EXPECT_EQ(Stored(ScheduleKey, kLastUpdateCheckValue).has_value(), row.lastAfter);
    EXPECT_EQ(Stored(ScheduleKey, kCheckFrequencyValue).has_value(), row.frequencyAfter);
  }
}

TEST_P(ScheduleStateCases, InitialisedStateIsDueAtOnceAndRecordedStateWaitsItsDays) {
  clock_.fileTime = kNow;
  ScheduleState state;
  ASSERT_TRUE(state.WriteUpdateAttempts(0) && state.WriteLastUpdateCheck(true) && state.WriteCheckFrequency());
  std::uint32_t attempts = 99, days = 99;
  EXPECT_TRUE(state.ReadUpdateAttempts(attempts));
  EXPECT_EQ(attempts, 0u);
  EXPECT_TRUE(state.ReadCheckFrequency(days));
  EXPECT_EQ(days, 1u);
  EXPECT_TRUE(state.IsCheckDue());

  // A check recorded now with a manifest asking for 2 days.
  ASSERT_TRUE(state.IncrementUpdateAttempts());
  ASSERT_TRUE(state.WriteLastUpdateCheck(false) && state.WriteCheckFrequency(2u));
  EXPECT_FALSE(state.IsCheckDue());
  clock_.fileTime = kNow + 2 * kDay;
  EXPECT_FALSE(state.IsCheckDue());
  clock_.fileTime = kNow + 2 * kDay + 1;
  EXPECT_TRUE(state.IsCheckDue());
  EXPECT_TRUE(state.ReadUpdateAttempts(attempts));
  EXPECT_EQ(attempts, 1u);
  EXPECT_EQ(state.CurrentFileTime(), kNow + 2 * kDay + 1);
}

}  // namespace
