#include "update/update_cycle.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "config/update_settings.h"
#include "platform/last_error.h"
#include "platform/seam.h"
#include "tests/fakes/fake_file_store.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_shell_folders.h"
#include "tests/fakes/fake_utf8_conversion.h"
#include "tests/fakes/log_capture.h"
#include "tests/support/registry_cases.h"
#include "update/installed_version.h"
#include "update/schedule_state.h"

namespace {

using Messages = std::vector<std::wstring>;

constexpr std::uint64_t kNow = 130000000000000000ULL;  // a file time in 2012
constexpr std::uint64_t kDay = kFileTimeUnitsPerDay;
const char kConfigFolder[] = "/sys/Kestran/Vexel";
const char kConfigPath[] = "/sys/Kestran/Vexel/vxm.cfg";

// What the fake transfers deliver and what they were asked for. The cycle
// takes plain functions, so the script is one object per test program.
struct TransferScript {
  bool fetchSucceeds = true;
  ComponentVersion activeX{11, 2, 202, 235, kFlavourActiveX};
  ComponentVersion plugin{11, 2, 202, 235, kFlavourPlugin};
  std::uint32_t checkFrequency = 2;
  // Install results by flavour, and the error a failed install leaves.
  bool activeXInstalls = true;
  bool pluginInstalls = true;
  platform::ErrorNumber installError = 12029;

  int fetches = 0;
  std::vector<Flavour> installs;
};
TransferScript script;

bool FakeFetch(std::unique_ptr<ComponentVersion>* activeX, std::unique_ptr<ComponentVersion>* plugin,
               std::unique_ptr<std::uint32_t>* checkFrequency) {
  ++script.fetches;
  if (!script.fetchSucceeds) return false;
  *activeX = std::make_unique<ComponentVersion>(script.activeX);
  *plugin = std::make_unique<ComponentVersion>(script.plugin);
  *checkFrequency = std::make_unique<std::uint32_t>(script.checkFrequency);
  return true;
}

bool FakeInstall(const std::unique_ptr<ComponentVersion>& version) {
  script.installs.push_back(version->flavour);
  const bool ok = version->flavour == kFlavourActiveX ? script.activeXInstalls : script.pluginInstalls;
  if (!ok) platform::SetLastError(script.installError);
  return ok;
}

const UpdateTransfers kFakeTransfers{FakeFetch, FakeInstall};

// A machine for one cycle: the schedule values and installed versions in a
// fake registry, the configuration file in a fake file store, the clock at
// kNow, silent auto-update on, both flavours installed at 11.2.202.228
// (older than the manifest's 11.2.202.235), and, unless asked otherwise,
// the schedule of a check that is due: three attempts so far, last check
// two days ago, one day between checks.
struct Machine {
  explicit Machine(bool withAttempts = true) {
    script = TransferScript{};
    savedSettings = UpdateSettings;
    savedOsClass = OsClass;
    UpdateSettings.autoUpdateDisabled = false;
    UpdateSettings.silentAutoUpdateEnabled = true;
    OsClass = kOsClassVistaTo7;
    log.clock.fileTime = kNow;
    folders.systemFolder = L"/sys";
    store.folders.insert(kConfigFolder);
    store.files[kConfigPath] = kSilentConfig;
    ForgetConfigFilePath();
    registry.PlantKey(ScheduleKey);
    if (withAttempts) SetAttempts(3);
    SetLastCheck(kDueLastCheck);
    SetFrequency(1);
    Installed(kActiveXVersionKey, u"11.2.202.228");
    Installed(kPluginVersionKey, u"11.2.202.228");
  }
  ~Machine() {
    ForgetConfigFilePath();
    UpdateSettings = savedSettings;
    OsClass = savedOsClass;
  }

  void Installed(const wchar_t* key, const std::u16string& version) {
    registry.Plant(key, kVersionValue, platform::registry_type::kSz, Utf16Le(version));
  }
  void SetAttempts(std::uint32_t n) {
    registry.Plant(ScheduleKey, kUpdateAttemptsValue, platform::registry_type::kDword, Le32(n));
  }
  void SetLastCheck(std::uint64_t time) {
    registry.Plant(ScheduleKey, kLastUpdateCheckValue, platform::registry_type::kQword, Le64(time));
  }
  void SetFrequency(std::uint32_t days) {
    registry.Plant(ScheduleKey, kCheckFrequencyValue, platform::registry_type::kDword, Le32(days));
  }
  std::optional<std::string> Stored(const wchar_t* name) const {
    std::optional<FakeRegistry::Value> v = registry.Stored(ScheduleKey, name);
    if (!v) return std::nullopt;
    return v->bytes;
  }
  // The registry steps that change something.
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const std::string& call : registry.calls) {
      if (call.rfind("RegSetValueExW", 0) == 0 || call.rfind("RegDeleteValueW", 0) == 0 ||
          call.rfind("RegCreateKeyExW", 0) == 0) {
        writes.push_back(call);
      }
    }
    return writes;
  }

  static constexpr std::uint64_t kDueLastCheck = kNow - 2 * kDay;
  static inline const std::string kSilentConfig = "AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=1\r\n";

  FakeRegistry registry;
  platform::ScopedSeam<platform::Registry> registrySeam{&registry};
  FakeShellFolders folders;
  FakeFileStore store;
  FakeUtf8Conversion conversion;
  platform::ScopedSeam<platform::ShellFolders> folderSeam{&folders};
  platform::ScopedSeam<platform::FileStore> storeSeam{&store};
  platform::ScopedSeam<platform::Utf8Conversion> conversionSeam{&conversion};
  LogCapture log{true};
  UpdateSettingsRecord savedSettings;
  std::int32_t savedOsClass = 0;
};

const std::string kSilentConfig = Machine::kSilentConfig;
const std::string kNotifyConfig = "AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=0\r\n";
constexpr std::uint64_t kDueLastCheck = Machine::kDueLastCheck;

// One row of the outcome table: the situation, and what the cycle leaves.
struct Outcome {
  const char* situation;
  std::function<void(Machine&)> arrange;
  Messages messages;
  std::vector<Flavour> installs;
  std::optional<std::uint32_t> attempts;  // stored afterwards
  std::uint64_t lastCheck;                // stored afterwards
  std::uint32_t checkFrequency;           // stored afterwards
  std::string config;                     // the configuration file afterwards
  int fetches;
  bool withAttempts = true;
};

TEST(UpdateCycle, EachSituationLeavesTheScheduleAndTheConfigurationItsWay) {
  // clang-format off
  const Outcome rows[] = {
      {"auto-update disabled, silent enabled", [](Machine&) { UpdateSettings.autoUpdateDisabled = true; },
       {L"1608", L"1612"}, {}, 3, kDueLastCheck, 1, kSilentConfig, 0},
      {"silent auto-update not enabled", [](Machine&) { UpdateSettings.silentAutoUpdateEnabled = false; },
       {L"1608", L"1612"}, {}, 3, kDueLastCheck, 1, kSilentConfig, 0},
      {"check not due", [](Machine& m) { m.SetLastCheck(kNow - kDay / 2); },
       {L"1608", L"1612"}, {}, 3, kNow - kDay / 2, 1, kSilentConfig, 0},
      {"manifest not obtained", [](Machine&) { script.fetchSucceeds = false; },
       {L"1608", L"1612"}, {}, 3, kDueLastCheck, 1, kSilentConfig, 1},
      {"attempts at 7", [](Machine& m) { m.SetAttempts(7); },
       {L"1608", L"1301", L"1612"}, {}, 7, kNow, 2, kNotifyConfig, 1},
      {"attempts far above the limit", [](Machine& m) { m.SetAttempts(0xFFFFFFFF); },
       {L"1608", L"1301", L"1612"}, {}, 0xFFFFFFFF, kNow, 2, kNotifyConfig, 1},
      {"attempts at 6 are below the limit", [](Machine& m) { m.SetAttempts(6); },
       {L"1608", L"1609", L"1612"}, {kFlavourActiveX}, 7, kDueLastCheck, 1, kSilentConfig, 1},
      {"ActiveX installer started (both out of date)", [](Machine&) {},
       {L"1608", L"1609", L"1612"}, {kFlavourActiveX}, 4, kDueLastCheck, 1, kSilentConfig, 1},
      {"ActiveX installation failed", [](Machine&) { script.activeXInstalls = false; },
       {L"1608", L"1234 12029", L"1612"}, {kFlavourActiveX}, 4, kNow, 2, kSilentConfig, 1},
      {"plug-in installer started", [](Machine& m) { m.Installed(kActiveXVersionKey, u"11.2.202.235"); },
       {L"1608", L"1610", L"1612"}, {kFlavourPlugin}, 4, kDueLastCheck, 1, kSilentConfig, 1},
      {"plug-in installation failed",
       [](Machine& m) {
         m.Installed(kActiveXVersionKey, u"11.2.202.235");
         script.pluginInstalls = false;
         script.installError = 2;
       },
       {L"1608", L"1300 2", L"1612"}, {kFlavourPlugin}, 4, kNow, 2, kSilentConfig, 1},
      {"neither flavour needs an update",
       [](Machine& m) {
         m.Installed(kActiveXVersionKey, u"11.2.202.235");
         m.Installed(kPluginVersionKey, u"12.0");
       },
       {L"1608", L"1612"}, {}, 3, kNow, 2, kSilentConfig, 1},
      {"Windows 8 and later: only the plug-in is considered", [](Machine&) { OsClass = kOsClassWindows8AndLater; },
       {L"1608", L"1610", L"1612"}, {kFlavourPlugin}, 4, kDueLastCheck, 1, kSilentConfig, 1},
      {"attempts missing: the first attempt stores 1", [](Machine&) {},
       {L"1608", L"1609", L"1612"}, {kFlavourActiveX}, 1, kDueLastCheck, 1, kSilentConfig, 1, false},
      {"attempts unreadable (too long) count as below the limit",
       [](Machine& m) {
         m.registry.Plant(ScheduleKey, kUpdateAttemptsValue, platform::registry_type::kQword, Le64(9));
         script.activeXInstalls = false;
       },
       {L"1608", L"1234 12029", L"1612"}, {kFlavourActiveX}, 1, kNow, 2, kSilentConfig, 1},
      {"the manifest's frequency is clamped to three days",
       [](Machine& m) {
         m.Installed(kActiveXVersionKey, u"11.2.202.235");
         m.Installed(kPluginVersionKey, u"11.2.202.235");
         script.checkFrequency = 9;
       },
       {L"1608", L"1612"}, {}, 3, kNow, 3, kSilentConfig, 1},
  };
  // clang-format on
  for (const Outcome& row : rows) {
    SCOPED_TRACE(row.situation);
    Machine m(row.withAttempts);
    row.arrange(m);
    const std::size_t stepsBefore = m.registry.calls.size();

    UpdateCycleWith(kFakeTransfers);

    EXPECT_EQ(m.log.Messages(), row.messages);
    EXPECT_EQ(script.installs, row.installs);
    EXPECT_EQ(script.fetches, row.fetches);
    if (row.attempts) {
      EXPECT_EQ(m.Stored(kUpdateAttemptsValue), Le32(*row.attempts));
    } else {
      EXPECT_EQ(m.Stored(kUpdateAttemptsValue), std::nullopt);
    }
    EXPECT_EQ(m.Stored(kLastUpdateCheckValue), Le64(row.lastCheck));
    EXPECT_EQ(m.Stored(kCheckFrequencyValue), Le32(row.checkFrequency));
    EXPECT_EQ(m.store.files[kConfigPath], row.config);
    EXPECT_EQ(m.registry.OpenKeys(), 0u);
    if (row.fetches == 0) {
      // Gated or not due: the schedule is not written at all.
      EXPECT_TRUE(m.Writes().empty());
    }
    if (std::string(row.situation).rfind("auto-update", 0) == 0 || std::string(row.situation).rfind("silent", 0) == 0) {
      EXPECT_EQ(m.registry.calls.size(), stepsBefore) << "the registry is not touched";
    }
  }
}

TEST(UpdateCycle, SixAttemptsThenASeventhThenTheGiveUp) {
  Machine m;
  m.SetAttempts(6);
  script.activeXInstalls = true;

  // The seventh attempt is made; the installer started, so the schedule is
  // left and the next run checks again.
  UpdateCycleWith(kFakeTransfers);
  EXPECT_EQ(m.Stored(kUpdateAttemptsValue), Le32(7));
  EXPECT_EQ(m.Stored(kLastUpdateCheckValue), Le64(kDueLastCheck));
  EXPECT_EQ(script.installs, (std::vector<Flavour>{kFlavourActiveX}));

  // Still out of date at the next due check: the cycle gives up, switches to
  // notify mode and records the schedule without examining any flavour.
  m.log.clock.fileTime = kNow + 3600ULL * 10000000ULL;
  const std::size_t linesBefore = m.log.Messages().size();
  const std::size_t stepsBefore = m.registry.calls.size();
  UpdateCycleWith(kFakeTransfers);
  const Messages all = m.log.Messages();
  EXPECT_EQ(Messages(all.begin() + linesBefore, all.end()), (Messages{L"1608", L"1301", L"1612"}));
  EXPECT_EQ(script.installs.size(), 1u);
  EXPECT_EQ(m.Stored(kUpdateAttemptsValue), Le32(7));
  EXPECT_EQ(m.Stored(kLastUpdateCheckValue), Le64(kNow + 3600ULL * 10000000ULL));
  EXPECT_EQ(m.Stored(kCheckFrequencyValue), Le32(2));
  EXPECT_EQ(m.store.files[kConfigPath], kNotifyConfig);
  for (std::size_t i = stepsBefore; i < m.registry.calls.size(); ++i) {
    const std::string& call = m.registry.calls[i];
    EXPECT_EQ(call.find("VexelPlayerActiveX"), std::string::npos) << call;
    EXPECT_EQ(call.find("VexelPlayerPlugin"), std::string::npos) << call;
  }

  // With silent mode off in the loaded settings, the next cycle stops at once.
  UpdateSettings.silentAutoUpdateEnabled = false;
  const int fetches = script.fetches;
  UpdateCycleWith(kFakeTransfers);
  EXPECT_EQ(script.fetches, fetches);
}

TEST(UpdateCycle, ANotifyModeThatCannotBeWrittenStillRecordsTheSchedule) {
  Machine m;
  m.SetAttempts(7);
  m.store.failCreateWith = 5;
  UpdateCycleWith(kFakeTransfers);
  EXPECT_EQ(m.Stored(kLastUpdateCheckValue), Le64(kNow));
  EXPECT_EQ(m.Stored(kCheckFrequencyValue), Le32(2));
  const Messages messages = m.log.Messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages.front(), L"1608");
  EXPECT_EQ(messages.back(), L"1612");
}

TEST(UpdateCycle, FailedScheduleWritesDoNotStopTheCycle) {
  Machine m;
  script.activeXInstalls = false;
  m.registry.FailNext("RegSetValueExW", 5, kUpdateAttemptsValue);
  m.registry.FailNext("RegSetValueExW", 5, kLastUpdateCheckValue);
  m.registry.FailNext("RegSetValueExW", 5, kCheckFrequencyValue);
  UpdateCycleWith(kFakeTransfers);
  EXPECT_EQ(m.log.Messages(), (Messages{L"1608", L"1234 12029", L"1612"}));
  EXPECT_EQ(m.registry.OpenKeys(), 0u);
}

TEST(UpdateCycle, TheProductCycleIsGatedLikeTheTestOne) {
  // UpdateCycle itself, with the settings off: it reaches no server.
  Machine m;
  UpdateSettings.silentAutoUpdateEnabled = false;
  UpdateCycle();
  EXPECT_EQ(m.log.Messages(), (Messages{L"1608", L"1612"}));
}

}  // namespace
