// Results of single platform steps, as values: success, and the error
// number of the step when it failed. No exceptions cross the seam.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

// A Windows error code (GetLastError) or the POSIX adapters' equivalent.
using ErrorNumber = std::uint32_t;

struct Step {
  bool ok = true;
  ErrorNumber error = 0;

  static Step Success() { return Step{true, 0}; }
  static Step Failure(ErrorNumber e) { return Step{false, e}; }
  explicit operator bool() const { return ok; }
};

// A step that yields a value when it succeeds.
template <class T>
struct StepOr {
  bool ok = false;
  ErrorNumber error = 0;
  T value{};

  static StepOr Success(T v) { return StepOr{true, 0, std::move(v)}; }
  static StepOr Failure(ErrorNumber e) { return StepOr{false, e, T{}}; }
  explicit operator bool() const { return ok; }
};

}  // namespace platform
