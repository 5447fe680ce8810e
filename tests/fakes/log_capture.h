// Captures what the activity log writes during a test, and decodes it.
#pragma once

#include <string>
#include <vector>

#include "config/update_settings.h"
#include "platform/seam.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/fake_log_file.h"

class LogCapture {
 public:
  explicit LogCapture(bool verbose = true);
  ~LogCapture();

  // The message part of each line written, in order ("1608", "1219 5").
  std::vector<std::wstring> Messages();
  // The whole lines as written, decoded from UTF-16LE, line ends included.
  std::vector<std::wstring> Lines();
  // Only the codes (the text before the first blank) of each line.
  std::vector<std::wstring> Codes();

  FakeClock clock;
  MemoryAppendFile file;

 private:
  bool savedVerbose_;
  platform::ScopedSeam<platform::SystemClock> clockSeam_;
  platform::ScopedSeam<platform::SharedAppendFile> fileSeam_;
};
