#include "support/localized_text.h"

#include <mutex>
#include <set>
#include <string>

#include "platform/seam.h"
#include "platform/string_resources.h"

const wchar_t* LoadLocalizedText(unsigned id) {
  const platform::ResourceText found = platform::Seam<platform::StringResources>::Get().Find(id);
  if (found.length == 0 || found.text == nullptr) return kMissingLocalization;

  // The table stores texts without terminators, so each text is copied once
  // into a terminated string that lives as long as the process. Equal texts
  // share one copy; a set's elements never move.
  static std::mutex mutex;
  static std::set<std::wstring>* texts = new std::set<std::wstring>();  // never destroyed: outlives every caller
  std::lock_guard<std::mutex> lock(mutex);
  return texts->emplace(found.text, found.length).first->c_str();
}
