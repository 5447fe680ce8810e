// A Task Scheduler 1.0 with its folder of work items, kept in memory. A work
// item opened or made through the scheduler is a working copy; only Save
// stores it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/task_scheduler_v1.h"
#include "tests/fakes/fake_com.h"

struct FakeV1WorkItem {
  bool accountSet = false;
  std::wstring account;
  bool passwordNull = false;
  std::wstring creator;
  std::wstring comment;
  std::wstring application;
  std::uint32_t flags = 0;
  std::vector<platform::TaskTriggerRecord> triggers;
};

class FakeTaskSchedulerV1 final : public platform::TaskSchedulerV1 {
 public:
  explicit FakeTaskSchedulerV1(FakeCom& com) : com_(com) {}

  // The saved work items by name.
  std::map<std::wstring, FakeV1WorkItem> workItems;
  int saves = 0;

  // The record a new trigger starts with: the platform fills in today's date
  // and the current time, here a fixed day.
  static platform::TaskTriggerRecord NewTriggerRecord();

  void Release(platform::ComObject* object) override { com_.Release(object); }
  platform::ComOr<platform::TaskSchedulerRef> CreateTaskScheduler() override;
  platform::ComOr<platform::WorkItemRef> Activate(platform::TaskSchedulerRef scheduler, const std::wstring& name) override;
  platform::ComOr<platform::WorkItemRef> NewWorkItem(platform::TaskSchedulerRef scheduler,
                                                     const std::wstring& name) override;
  platform::ComStatus Delete(platform::TaskSchedulerRef scheduler, const std::wstring& name) override;
  platform::ComOr<std::uint16_t> GetTriggerCount(platform::WorkItemRef task) override;
  platform::ComOr<platform::TaskTriggerRef> GetTrigger(platform::WorkItemRef task, std::uint16_t index) override;
  platform::ComOr<platform::TaskTriggerRef> CreateTrigger(platform::WorkItemRef task) override;
  platform::ComStatus SetAccountInformation(platform::WorkItemRef task, const std::wstring& account,
                                            const wchar_t* password) override;
  platform::ComStatus SetCreator(platform::WorkItemRef task, const std::wstring& creator) override;
  platform::ComStatus SetComment(platform::WorkItemRef task, const std::wstring& comment) override;
  platform::ComStatus SetApplicationName(platform::WorkItemRef task, const std::wstring& application) override;
  platform::ComStatus SetFlags(platform::WorkItemRef task, std::uint32_t flags) override;
  platform::ComOr<platform::PersistFileRef> QueryPersistFile(platform::WorkItemRef task) override;
  platform::ComStatus GetTriggerRecord(platform::TaskTriggerRef trigger, platform::TaskTriggerRecord& record) override;
  platform::ComStatus SetTriggerRecord(platform::TaskTriggerRef trigger,
                                       const platform::TaskTriggerRecord& record) override;
  platform::ComStatus Save(platform::PersistFileRef persist, const wchar_t* fileName, bool remember) override;

 private:
  struct Object;
  template <class Ref>
  platform::ComOr<Ref> Hand(const char* kind, std::wstring name = std::wstring(),
                            std::shared_ptr<FakeV1WorkItem> item = nullptr, std::size_t index = 0);
  Object* Find(platform::ComObject* object, const char* kind);
  Object* FindTask(platform::WorkItemRef task, const char* step, platform::ComStatus& status);

  FakeCom& com_;
};
