// A program of its own that opens the host's registry store afresh and works
// on the schedule values, so that tests can check what one process leaves
// for the next.
//
//   vexel_registry_helper ROOT STEP...
//
// STEP is one of: print (a line "attempts=6 frequency=2 due=0", attempts
// "missing" when it cannot be read), increment, reset-last, record-last,
// frequency=N, delete-attempts. Exit code 0, or 1 when a step failed, 2 on
// bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/registry_posix.h"
#include "platform/registry.h"
#include "platform/seam.h"
#include "update/schedule_state.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  platform::posix::PosixRegistry store{std::filesystem::path(argv[1])};
  platform::ScopedSeam<platform::Registry> seam(&store);
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string step = argv[i];
    bool ok = true;
    if (step == "print") {
      std::uint32_t attempts = 0, days = 0;
      const bool read = ReadUpdateAttempts(attempts);
      ReadCheckFrequency(days);
      std::printf("attempts=%s frequency=%u due=%d\n", read ? std::to_string(attempts).c_str() : "missing", days,
                  IsCheckDue() ? 1 : 0);
    } else if (step == "increment") {
      ok = IncrementUpdateAttempts();
    } else if (step == "reset-last") {
      ok = WriteLastUpdateCheck(true);
    } else if (step == "record-last") {
      ok = WriteLastUpdateCheck(false);
    } else if (step.rfind("frequency=", 0) == 0) {
      ok = WriteCheckFrequency(static_cast<std::uint32_t>(std::strtoul(step.c_str() + 10, nullptr, 10)));
    } else if (step == "delete-attempts") {
      ok = DeleteUpdateAttempts();
    } else {
      return 2;
    }
    if (!ok) status = 1;
  }
  return status;
}
