// A Task Scheduler 2.0 with one root folder, kept in memory. Definitions
// carry the properties the program sets, with the platform's defaults.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/task_scheduler_v2.h"
#include "tests/fakes/fake_com.h"

struct FakeV2Trigger {
  std::int32_t type = 0;
  std::wstring id;
  std::wstring startBoundary;
  std::int16_t daysInterval = 1;
  std::wstring duration;
  std::wstring interval;
};

struct FakeV2Action {
  std::int32_t type = 0;
  std::wstring path;
};

struct FakeV2Definition {
  std::wstring author;
  std::wstring description;
  std::int32_t compatibility = 2;          // TASK_COMPATIBILITY_V2
  bool disallowStartIfOnBatteries = true;  // the platform's defaults
  bool runOnlyIfNetworkAvailable = false;
  std::vector<FakeV2Trigger> triggers;
  std::vector<FakeV2Action> actions;
};

struct FakeV2Registration {
  FakeV2Definition definition;
  std::int32_t flags = 0;
  std::wstring userId;
  std::int32_t logonType = 0;
  std::wstring sddl;
  int registrations = 0;  // how often it was registered
};

class FakeTaskSchedulerV2 final : public platform::TaskSchedulerV2 {
 public:
  explicit FakeTaskSchedulerV2(FakeCom& com) : com_(com) {}

  // The tasks of the root folder "\" by name.
  std::map<std::wstring, FakeV2Registration> tasks;
  std::wstring lastDeleted;

  void Release(platform::ComObject* object) override { com_.Release(object); }
  platform::ComOr<platform::TaskServiceRef> CreateTaskService() override;
  platform::ComStatus Connect(platform::TaskServiceRef service) override;
  platform::ComOr<platform::TaskFolderRef> GetFolder(platform::TaskServiceRef service, const std::wstring& path) override;
  platform::ComOr<platform::TaskDefinitionRef> NewTask(platform::TaskServiceRef service) override;
  platform::ComOr<platform::RegisteredTaskRef> GetTask(platform::TaskFolderRef folder, const std::wstring& path) override;
  platform::ComStatus DeleteTask(platform::TaskFolderRef folder, const std::wstring& name) override;
  platform::ComOr<platform::RegisteredTaskRef> RegisterTaskDefinition(platform::TaskFolderRef folder,
                                                                      const std::wstring& path,
                                                                      platform::TaskDefinitionRef definition,
                                                                      std::int32_t flags, const std::wstring& userId,
                                                                      std::int32_t logonType,
                                                                      const std::wstring& sddl) override;
  platform::ComOr<platform::TaskDefinitionRef> GetDefinition(platform::RegisteredTaskRef task) override;
  platform::ComOr<platform::TaskSettingsRef> GetSettings(platform::TaskDefinitionRef definition) override;
  platform::ComOr<platform::RegistrationInfoRef> GetRegistrationInfo(platform::TaskDefinitionRef definition) override;
  platform::ComOr<platform::TriggerCollectionRef> GetTriggers(platform::TaskDefinitionRef definition) override;
  platform::ComOr<platform::ActionCollectionRef> GetActions(platform::TaskDefinitionRef definition) override;
  platform::ComStatus PutCompatibility(platform::TaskSettingsRef settings, std::int32_t compatibility) override;
  platform::ComStatus PutDisallowStartIfOnBatteries(platform::TaskSettingsRef settings, bool disallow) override;
  platform::ComStatus PutRunOnlyIfNetworkAvailable(platform::TaskSettingsRef settings, bool runOnly) override;
  platform::ComStatus PutAuthor(platform::RegistrationInfoRef info, const std::wstring& author) override;
  platform::ComStatus PutDescription(platform::RegistrationInfoRef info, const std::wstring& description) override;
  platform::ComOr<std::int32_t> GetTriggerCount(platform::TriggerCollectionRef triggers) override;
  platform::ComOr<platform::TriggerRef> GetTriggerItem(platform::TriggerCollectionRef triggers,
                                                       std::int32_t index) override;
  platform::ComOr<platform::TriggerRef> CreateTrigger(platform::TriggerCollectionRef triggers,
                                                      std::int32_t type) override;
  platform::ComOr<platform::RepetitionPatternRef> GetTriggerRepetition(platform::TriggerRef trigger) override;
  platform::ComOr<platform::DailyTriggerRef> QueryDailyTrigger(platform::TriggerRef trigger) override;
  platform::ComStatus PutDailyTriggerId(platform::DailyTriggerRef trigger, const std::wstring& id) override;
  platform::ComStatus PutDailyTriggerStartBoundary(platform::DailyTriggerRef trigger,
                                                   const std::wstring& boundary) override;
  platform::ComStatus PutDaysInterval(platform::DailyTriggerRef trigger, std::int16_t days) override;
  platform::ComOr<platform::RepetitionPatternRef> GetDailyTriggerRepetition(platform::DailyTriggerRef trigger) override;
  platform::ComStatus PutRepetitionDuration(platform::RepetitionPatternRef pattern,
                                            const std::wstring& duration) override;
  platform::ComStatus PutRepetitionInterval(platform::RepetitionPatternRef pattern,
                                            const std::wstring& interval) override;
  platform::ComOr<platform::ActionRef> CreateAction(platform::ActionCollectionRef actions, std::int32_t type) override;
  platform::ComOr<platform::ExecActionRef> QueryExecAction(platform::ActionRef action) override;
  platform::ComStatus PutExecPath(platform::ExecActionRef action, const std::wstring& path) override;

 private:
  struct Object;
  template <class Ref>
  platform::ComOr<Ref> Hand(const char* kind, std::shared_ptr<FakeV2Definition> definition = nullptr,
                            std::size_t index = 0, std::wstring name = std::wstring());
  Object* Find(platform::ComObject* object, const char* kind);

  FakeCom& com_;
};
