// The program's string table.
#pragma once

#include <cstddef>

namespace platform {

// A text inside the loaded string table: `length` code units from `text`,
// NOT terminated (the table stores each text with its length only).
struct ResourceText {
  const wchar_t* text = nullptr;
  std::size_t length = 0;
};

class StringResources {
 public:
  virtual ~StringResources() = default;
  // LoadStringW on the running executable's own module (GetModuleHandleW
  // with no name) with a buffer size of 0: a read-only pointer to the text
  // stored under `id` and its length in characters. The platform chooses the
  // language from the calling thread's user-interface language with its own
  // fallbacks; the caller asks for none. The text stays valid until the
  // process ends. Length 0 means the table holds no text for the id (absent,
  // or stored empty); the pointer is then of no use. Cannot fail otherwise.
  virtual ResourceText Find(unsigned id) = 0;
};

}  // namespace platform
