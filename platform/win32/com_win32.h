// Helpers of the COM adapters: interface references to and from the core's
// opaque ComRef, and owners of the BSTR and VARIANT arguments of one call.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <string>

#include "platform/com_object.h"

namespace platform::win32 {

// The core's reference to an interface pointer, and back. The reference holds
// the interface pointer itself, which is also its IUnknown (COM interfaces
// derive from IUnknown alone).
template <class Tag, class Interface>
ComRef<Tag> ToRef(Interface* pointer) {
  return ComRef<Tag>{reinterpret_cast<ComObject*>(static_cast<IUnknown*>(pointer))};
}

template <class Interface, class Tag>
Interface* FromRef(ComRef<Tag> ref) {
  return static_cast<Interface*>(reinterpret_cast<IUnknown*>(ref.object));
}

inline void ReleaseObject(ComObject* object) {
  if (object != nullptr) reinterpret_cast<IUnknown*>(object)->Release();
}

// A call's interface result as the core receives it: the status and what the
// call left in its out argument.
template <class Tag, class Interface>
ComOr<ComRef<Tag>> Handed(HRESULT hr, Interface* pointer) {
  return ComOr<ComRef<Tag>>{static_cast<ComStatus>(hr), ToRef<Tag>(pointer)};
}

// A BSTR made from a text for one call and freed when the call is over.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : bstr_(::SysAllocString(text.c_str())) {}
  ~Bstr() { ::SysFreeString(bstr_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  // Null when the BSTR could not be allocated.
  BSTR Get() const { return bstr_; }
  bool Valid() const { return bstr_ != nullptr; }

 private:
  BSTR bstr_;
};

// A VARIANT argument of one call, cleared when the call is over: empty
// (VT_EMPTY), or holding a text (VT_BSTR).
class Variant {
 public:
  Variant() { ::VariantInit(&variant_); }
  explicit Variant(const std::wstring& text) {
    ::VariantInit(&variant_);
    BSTR b = ::SysAllocString(text.c_str());
    if (b != nullptr) {
      V_VT(&variant_) = VT_BSTR;
      V_BSTR(&variant_) = b;
      valid_ = true;
    } else {
      valid_ = false;
    }
  }
  ~Variant() { ::VariantClear(&variant_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  const VARIANT& Get() const { return variant_; }
  // False when the text could not be allocated.
  bool Valid() const { return valid_; }

 private:
  VARIANT variant_;
  bool valid_ = true;
};

}  // namespace platform::win32
