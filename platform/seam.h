// The seam between the portable core and the platform.
//
// Every platform service the core needs is an abstract interface in
// platform/<name>.h, shaped like the Windows operations it stands for: one
// method per step, each step reporting success and an error number. The core
// reaches an interface only through Seam<Interface>::Get().
//
// Each platform provides the default adapter of an interface by specialising
// PlatformDefault<Interface>() in platform/win32/<name>_win32.cpp or
// platform/posix/<name>_posix.cpp. A test replaces the adapter for its own
// duration with a ScopedSeam holding a fake from tests/fakes/.
#pragma once

namespace platform {

// The adapter this build's platform provides for Interface. Specialised, and
// defined, once per interface in each platform's adapter file.
template <class Interface>
Interface& PlatformDefault();

template <class Interface>
class Seam {
 public:
  // The fake a test installed, or else the platform's adapter.
  static Interface& Get() { return override_ != nullptr ? *override_ : PlatformDefault<Interface>(); }

 private:
  template <class>
  friend class ScopedSeam;
  static inline Interface* override_ = nullptr;
};

// Installs a replacement adapter for the lifetime of the object; the previous
// one (usually the platform's) comes back on destruction. Tests only: the
// product never installs one.
template <class Interface>
class ScopedSeam {
 public:
  explicit ScopedSeam(Interface* replacement) : previous_(Seam<Interface>::override_) {
    Seam<Interface>::override_ = replacement;
  }
  ~ScopedSeam() { Seam<Interface>::override_ = previous_; }
  ScopedSeam(const ScopedSeam&) = delete;
  ScopedSeam& operator=(const ScopedSeam&) = delete;

 private:
  Interface* previous_;
};

}  // namespace platform
