// The schedule values' registry steps and their failures, on the fake
// registry. What the values mean is tested on every registry by
// tests/support/schedule_state_cases.cpp.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/seam.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_registry.h"
#include "tests/support/registry_cases.h"
#include "update/schedule_state.h"

namespace {

using platform::registry_type::kDword;
using platform::registry_type::kQword;
using Calls = std::vector<std::string>;

constexpr std::uint64_t kDay = 864000000000ULL;
constexpr std::uint64_t kNow = 130000000000000000ULL;

const std::string kOpenRead = "RegOpenKeyExW(SOFTWARE\\Kestrania\\VexelPlayer, KEY_READ)";
const std::string kOpenSet = "RegOpenKeyExW(SOFTWARE\\Kestrania\\VexelPlayer, KEY_SET_VALUE)";
const std::string kCreate = "RegCreateKeyExW(SOFTWARE\\Kestrania\\VexelPlayer)";
const std::string kClose = "RegCloseKey";

class ScheduleStateSteps : public ::testing::Test {
 protected:
  ScheduleStateSteps() : registrySeam_(&registry_), clockSeam_(&clock_) { clock_.fileTime = kNow; }

  // A key holding all three values, last checked one day before now.
  void PlantAll() {
    registry_.Plant(ScheduleKey, kLastUpdateCheckValue, kQword, Le64(kNow - kDay));
    registry_.Plant(ScheduleKey, kCheckFrequencyValue, kDword, Le32(2));
    registry_.Plant(ScheduleKey, kUpdateAttemptsValue, kDword, Le32(6));
  }
  std::string StoredBytes(const wchar_t* name) {
    auto v = registry_.Stored(ScheduleKey, name);
    return v ? v->bytes : "(missing)";
  }

  FakeRegistry registry_;
  FakeClock clock_;

 private:
  platform::ScopedSeam<platform::Registry> registrySeam_;
  platform::ScopedSeam<platform::SystemClock> clockSeam_;
};

TEST_F(ScheduleStateSteps, EachOperationOpensAccessesOnceAndCloses) {
  struct Row {
    const char* label;
    std::function<void()> operation;
    Calls calls;
  };
  std::uint32_t n = 0;
  const Row rows[] = {
      {"IsCheckDue",
       [] { IsCheckDue(); },
       {kOpenRead, "RegQueryValueExW(LastUpdateCheck, 8)", kClose, kOpenRead, "RegQueryValueExW(CheckFrequency, 4)",
        kClose}},
      {"ReadCheckFrequency", [&] { ReadCheckFrequency(n); },
       {kOpenRead, "RegQueryValueExW(CheckFrequency, 4)", kClose}},
      {"ReadUpdateAttempts", [&] { ReadUpdateAttempts(n); },
       {kOpenRead, "RegQueryValueExW(UpdateAttempts, 4)", kClose}},
      {"WriteLastUpdateCheck", [] { WriteLastUpdateCheck(false); },
       {kCreate, "RegSetValueExW(LastUpdateCheck, 11, 8)", kClose}},
      {"WriteCheckFrequency", [] { WriteCheckFrequency(5u); },
       {kCreate, "RegSetValueExW(CheckFrequency, 4, 4)", kClose}},
      {"WriteUpdateAttempts", [] { WriteUpdateAttempts(0); },
       {kCreate, "RegSetValueExW(UpdateAttempts, 4, 4)", kClose}},
      {"IncrementUpdateAttempts", [] { IncrementUpdateAttempts(); },
       {kOpenRead, "RegQueryValueExW(UpdateAttempts, 4)", kClose, kCreate, "RegSetValueExW(UpdateAttempts, 4, 4)",
        kClose}},
      {"DeleteLastUpdateCheck", [] { DeleteLastUpdateCheck(); },
       {kOpenSet, "RegDeleteValueW(LastUpdateCheck)", kClose}},
      {"DeleteCheckFrequency", [] { DeleteCheckFrequency(); }, {kOpenSet, "RegDeleteValueW(CheckFrequency)", kClose}},
      {"DeleteUpdateAttempts", [] { DeleteUpdateAttempts(); }, {kOpenSet, "RegDeleteValueW(UpdateAttempts)", kClose}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    PlantAll();
    registry_.calls.clear();
    row.operation();
    EXPECT_EQ(registry_.calls, row.calls);
    EXPECT_EQ(registry_.OpenKeys(), 0u);
  }
}

TEST_F(ScheduleStateSteps, AKeyThatCannotBeOpenedIsNeitherQueriedNorCreated) {
  std::uint32_t n = 0;
  EXPECT_TRUE(IsCheckDue());
  EXPECT_EQ(registry_.calls, (Calls{kOpenRead, kOpenRead}));
  registry_.calls.clear();
  EXPECT_FALSE(DeleteCheckFrequency());
  EXPECT_EQ(registry_.calls, (Calls{kOpenSet}));
  EXPECT_FALSE(registry_.HasKey(ScheduleKey));
  EXPECT_FALSE(ReadUpdateAttempts(n));
}

// Every step that can fail, failed once: the documented reading results, the
// buffer of a failed query is never used (the fake scribbles over it), and
// nothing else changes.
TEST_F(ScheduleStateSteps, ScriptedFailuresGiveTheDocumentedReadings) {
  struct Row {
    const char* label;
    const char* step;
    platform::ErrorNumber error;
    const wchar_t* target;
  };
  // Reads: the stored values would make the check not due (last check a day
  // ago, frequency 2); any failure to read them makes it due.
  const Row reads[] = {
      {"open refused", "RegOpenKeyExW", platform::error::kAccessDenied, ScheduleKey},
      {"LastUpdateCheck too long", "RegQueryValueExW", platform::error::kMoreData, kLastUpdateCheckValue},
      {"LastUpdateCheck query fails", "RegQueryValueExW", platform::error::kReadFault, kLastUpdateCheckValue},
  };
  for (const Row& row : reads) {
    SCOPED_TRACE(row.label);
    PlantAll();
    registry_.FailNext(row.step, row.error, row.target);
    EXPECT_TRUE(IsCheckDue());
    EXPECT_FALSE(IsCheckDue()) << "the failure was scripted once";
  }

  PlantAll();
  std::uint32_t days = 0;
  registry_.FailNext("RegQueryValueExW", platform::error::kMoreData, kCheckFrequencyValue);
  EXPECT_FALSE(ReadCheckFrequency(days));
  EXPECT_EQ(days, 1u);

  std::uint32_t count = 42;
  registry_.FailNext("RegQueryValueExW", platform::error::kMoreData, kUpdateAttemptsValue);
  EXPECT_FALSE(ReadUpdateAttempts(count));
  EXPECT_EQ(count, 42u);

  registry_.FailNext("RegQueryValueExW", platform::error::kReadFault, kUpdateAttemptsValue);
  EXPECT_TRUE(IncrementUpdateAttempts());
  EXPECT_EQ(StoredBytes(kUpdateAttemptsValue), Le32(1)) << "an unreadable count starts again at 1";
}

TEST_F(ScheduleStateSteps, FailedWritesAndDeletionsLeaveTheEarlierValue) {
  struct Row {
    const char* label;
    const char* step;
    std::function<bool()> operation;
    const wchar_t* value;
    std::string before;
    Calls calls;
  };
  const Row rows[] = {
      {"create fails", "RegCreateKeyExW", [] { return WriteUpdateAttempts(0); }, kUpdateAttemptsValue, Le32(6),
       {kCreate}},
      {"set fails", "RegSetValueExW", [] { return WriteLastUpdateCheck(true); }, kLastUpdateCheckValue,
       Le64(kNow - kDay), {kCreate, "RegSetValueExW(LastUpdateCheck, 11, 8)", kClose}},
      {"increment's set fails", "RegSetValueExW", [] { return IncrementUpdateAttempts(); }, kUpdateAttemptsValue,
       Le32(6), {kOpenRead, "RegQueryValueExW(UpdateAttempts, 4)", kClose, kCreate,
                 "RegSetValueExW(UpdateAttempts, 4, 4)", kClose}},
      {"delete's open fails", "RegOpenKeyExW", [] { return DeleteCheckFrequency(); }, kCheckFrequencyValue, Le32(2),
       {kOpenSet}},
      {"delete fails", "RegDeleteValueW", [] { return DeleteCheckFrequency(); }, kCheckFrequencyValue, Le32(2),
       {kOpenSet, "RegDeleteValueW(CheckFrequency)", kClose}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    PlantAll();
    registry_.calls.clear();
    registry_.FailNext(row.step, platform::error::kAccessDenied);
    platform::SetLastError(0);
    EXPECT_FALSE(row.operation());
    EXPECT_EQ(platform::LastError(), platform::error::kAccessDenied) << "closing the key kept the step's error";
    EXPECT_EQ(StoredBytes(row.value), row.before);
    EXPECT_EQ(registry_.calls, row.calls);
  }
}

TEST_F(ScheduleStateSteps, AFailedCloseDoesNotUndoASuccessfulWrite) {
  registry_.FailNext("RegCloseKey", platform::error::kInvalidHandle);
  EXPECT_TRUE(WriteCheckFrequency(2u));
  EXPECT_EQ(StoredBytes(kCheckFrequencyValue), Le32(2));
}

}  // namespace
