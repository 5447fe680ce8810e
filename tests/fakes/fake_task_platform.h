// Everything the scheduled-task operations reach, faked at once: the COM
// runtime, both task scheduler generations, the secure random source and
// the string table, each installed for the lifetime of the object.
#pragma once

#include "platform/seam.h"
#include "tests/fakes/fake_com.h"
#include "tests/fakes/fake_secure_random.h"
#include "tests/fakes/fake_string_resources.h"
#include "tests/fakes/fake_task_scheduler_v1.h"
#include "tests/fakes/fake_task_scheduler_v2.h"

struct FakeTaskPlatform {
  FakeCom com;
  FakeTaskSchedulerV1 v1{com};
  FakeTaskSchedulerV2 v2{com};
  FakeSecureRandom random;
  FakeStringResources strings;

 private:
  platform::ScopedSeam<platform::ComRuntime> comSeam_{&com};
  platform::ScopedSeam<platform::TaskSchedulerV1> v1Seam_{&v1};
  platform::ScopedSeam<platform::TaskSchedulerV2> v2Seam_{&v2};
  platform::ScopedSeam<platform::SecureRandom> randomSeam_{&random};
  platform::ScopedSeam<platform::StringResources> stringsSeam_{&strings};
};
