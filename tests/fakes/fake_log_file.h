// An append target that keeps every record in memory, or fails on demand.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/log_file.h"

class MemoryAppendFile final : public platform::SharedAppendFile {
 public:
  struct Record {
    std::string path;
    std::string bytes;
  };

  // When non-zero, every append fails with this error and records nothing.
  platform::ErrorNumber failWith = 0;

  platform::Step Append(const std::string& path, const void* bytes, std::size_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failWith != 0) {
      platform::SetLastError(failWith);
      return platform::Step::Failure(failWith);
    }
    records_.push_back(Record{path, std::string(static_cast<const char*>(bytes), size)});
    return platform::Step::Success();
  }

  std::vector<Record> Records() {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }

 private:
  std::mutex mutex_;
  std::vector<Record> records_;
};
