#include <windows.h>

#include "platform/seam.h"
#include "platform/string_resources.h"

namespace platform {
namespace {

class Win32StringResources final : public StringResources {
 public:
  ResourceText Find(unsigned id) override {
    // With a buffer size of 0, LoadStringW stores a pointer to the text
    // inside the resource section in place of copying it.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) return ResourceText{};
    return ResourceText{text, static_cast<std::size_t>(length)};
  }
};

}  // namespace

template <>
StringResources& PlatformDefault<StringResources>() {
  static Win32StringResources resources;
  return resources;
}

}  // namespace platform
