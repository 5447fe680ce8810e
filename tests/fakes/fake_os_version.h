// An operating system version query that answers what the test sets.
#pragma once

#include "platform/os_version.h"

class FakeOsVersionQuery final : public platform::OsVersionQuery {
 public:
  platform::OsVersion version{2, 6, 1};
  int queries = 0;

  platform::OsVersion Query() override {
    ++queries;
    return version;
  }
};
