// Makes one allocation of the calling thread fail, for tests of the paths
// that handle running out of memory. The host test program replaces the
// global operator new for this; unarmed, it allocates as usual.
#pragma once

#include <cstddef>

class ScopedAllocationFailure {
 public:
  // The first allocation on this thread of between minSize and maxSize
  // bytes, after `skip` such allocations have succeeded, fails: the
  // throwing forms throw std::bad_alloc, the nothrow forms return null.
  ScopedAllocationFailure(std::size_t minSize, std::size_t maxSize, int skip = 0);
  ~ScopedAllocationFailure();
  ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
  ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;

  // Whether the failure has happened.
  bool Triggered() const;
};
