#include "tests/unit/allocation_failure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool t_armed = false;
thread_local bool t_triggered = false;
thread_local std::size_t t_min = 0;
thread_local std::size_t t_max = 0;
thread_local int t_skip = 0;

bool ShouldFail(std::size_t size) {
  if (!t_armed || size < t_min || size > t_max) return false;
  if (t_skip > 0) {
    --t_skip;
    return false;
  }
  t_armed = false;
  t_triggered = true;
  return true;
}

void* Allocate(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

}  // namespace

ScopedAllocationFailure::ScopedAllocationFailure(std::size_t minSize, std::size_t maxSize, int skip) {
  t_min = minSize;
  t_max = maxSize;
  t_skip = skip;
  t_triggered = false;
  t_armed = true;
}

ScopedAllocationFailure::~ScopedAllocationFailure() { t_armed = false; }

bool ScopedAllocationFailure::Triggered() const { return t_triggered; }

void* operator new(std::size_t size) {
  void* p = ShouldFail(size) ? nullptr : Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return ShouldFail(size) ? nullptr : Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ShouldFail(size) ? nullptr : Allocate(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
