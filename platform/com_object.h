// COM steps as the core sees them: a 32-bit status in place of an HRESULT,
// and opaque references in place of interface pointers.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

// The result of one COM step, with the bits of an HRESULT: negative is a
// failure, zero and the other non-negative values are successes.
using ComStatus = std::int32_t;

inline constexpr bool ComFailed(ComStatus status) { return status < 0; }

namespace com {
inline constexpr ComStatus kOk = 0;                                                        // S_OK
inline constexpr ComStatus kFalse = 1;                                                     // S_FALSE
inline constexpr ComStatus kNotImplemented = static_cast<ComStatus>(0x80004001u);          // E_NOTIMPL
inline constexpr ComStatus kPointer = static_cast<ComStatus>(0x80004003u);                 // E_POINTER
inline constexpr ComStatus kFail = static_cast<ComStatus>(0x80004005u);                    // E_FAIL
inline constexpr ComStatus kUnexpected = static_cast<ComStatus>(0x8000FFFFu);              // E_UNEXPECTED
inline constexpr ComStatus kFileNotFound = static_cast<ComStatus>(0x80070002u);            // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
inline constexpr ComStatus kAccessDenied = static_cast<ComStatus>(0x80070005u);            // E_ACCESSDENIED
inline constexpr ComStatus kOutOfMemory = static_cast<ComStatus>(0x8007000Eu);             // E_OUTOFMEMORY
inline constexpr ComStatus kInvalidArgument = static_cast<ComStatus>(0x80070057u);         // E_INVALIDARG
inline constexpr ComStatus kChangedMode = static_cast<ComStatus>(0x80010106u);             // RPC_E_CHANGED_MODE
inline constexpr ComStatus kTooLate = static_cast<ComStatus>(0x80010119u);                 // RPC_E_TOO_LATE
inline constexpr ComStatus kClassNotRegistered = static_cast<ComStatus>(0x80040154u);      // REGDB_E_CLASSNOTREG
}  // namespace com

// An interface that an adapter handed out. The core never looks inside; it
// passes the reference back to the adapter that made it and releases it
// there exactly once.
struct ComObject;

// A reference to an interface of one kind (the Tag names it), so that an
// interface of one kind cannot be handed where another is expected.
template <class Tag>
struct ComRef {
  ComObject* object = nullptr;
  explicit operator bool() const { return object != nullptr; }
};

// A step that hands out a value (often an interface reference). `value` is
// what the call left in its out argument, whatever the status: an interface
// reference there must be released even when the step failed.
template <class T>
struct ComOr {
  ComStatus status = com::kOk;
  T value{};
  bool Failed() const { return ComFailed(status); }
};

// Owns one interface reference and releases it through the interface `Api`
// (whose `void Release(ComObject*)` is IUnknown::Release) that handed it out:
// at Reset, or at the end of its scope when still held.
template <class Api, class Tag>
class ComOwner {
 public:
  ComOwner() = default;
  ComOwner(Api& api, ComRef<Tag> ref) : api_(&api), ref_(ref) {}
  ~ComOwner() { Reset(); }
  ComOwner(ComOwner&& other) noexcept : api_(other.api_), ref_(std::exchange(other.ref_, ComRef<Tag>{})) {}
  ComOwner& operator=(ComOwner&& other) noexcept {
    if (this != &other) {
      Reset();
      api_ = other.api_;
      ref_ = std::exchange(other.ref_, ComRef<Tag>{});
    }
    return *this;
  }
  ComOwner(const ComOwner&) = delete;
  ComOwner& operator=(const ComOwner&) = delete;

  ComRef<Tag> Get() const { return ref_; }
  explicit operator bool() const { return static_cast<bool>(ref_); }

  // Releases the interface now; nothing when none is held.
  void Reset() {
    if (ref_.object != nullptr && api_ != nullptr) api_->Release(ref_.object);
    ref_ = ComRef<Tag>{};
  }

 private:
  Api* api_ = nullptr;
  ComRef<Tag> ref_{};
};

}  // namespace platform
