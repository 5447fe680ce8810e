// RAII owners of Win32 handles.
#pragma once

#include <windows.h>

namespace platform::win32 {

// A kernel handle closed with CloseHandle; INVALID_HANDLE_VALUE and null
// both mean "none".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.Release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  // Closes the handle now; returns whether CloseHandle succeeded (true when
  // there was none).
  bool Close() {
    if (!Valid()) {
      h_ = nullptr;
      return true;
    }
    BOOL ok = ::CloseHandle(h_);
    h_ = nullptr;
    return ok != FALSE;
  }
  void Reset() {
    if (Valid()) {
      const DWORD saved = ::GetLastError();
      ::CloseHandle(h_);
      ::SetLastError(saved);
    }
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace platform::win32
