// The string table of the host build: the texts of the Windows string table,
// compiled in, in the language of the locale that the environment names.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/seam.h"
#include "platform/string_resources.h"

namespace platform {
namespace {

struct LanguageTexts {
  std::uint16_t languageId;  // the Windows language identifier of the row
  const wchar_t* task;       // text 110
  const wchar_t* service;    // text 120
};

#define VEXEL_WIDE(text) L##text
#define VEXEL_LOCALIZED(id, primary, sublanguage, task, service) {id, VEXEL_WIDE(task), VEXEL_WIDE(service)},
const LanguageTexts kTable[] = {
#include "resources/localized_texts.inc"
};
#undef VEXEL_LOCALIZED
#undef VEXEL_WIDE

constexpr std::uint16_t kEnglishUnitedStates = 0x0409;

// The locale that decides the language of messages, as POSIX orders the
// variables: LC_ALL, then LC_MESSAGES, then LANG; empty when none is set.
std::string MessagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return std::string();
}

// The table's language for a locale name "language[_territory][.codeset][@modifier]".
// Chinese is told apart by territory: Taiwan, Hong Kong and Macao read the
// traditional script. Every other language of the table has one row, which
// serves all its territories. Anything else is English (United States).
std::uint16_t LanguageOf(const std::string& locale) {
  const std::string name = locale.substr(0, locale.find_first_of(".@"));
  const std::string language = name.substr(0, name.find('_'));
  const std::string territory = name.find('_') == std::string::npos ? std::string() : name.substr(name.find('_') + 1);
  if (language == "zh") {
    return (territory == "TW" || territory == "HK" || territory == "MO") ? 0x0404 : 0x0804;
  }
  struct Primary {
    const char* language;
    std::uint16_t id;
  };
  static const Primary kPrimaries[] = {
      {"sv", 0x001D}, {"cs", 0x0405}, {"de", 0x0407}, {"en", 0x0409}, {"fr", 0x040C}, {"it", 0x0410},
      {"ja", 0x0411}, {"ko", 0x0412}, {"nl", 0x0413}, {"pl", 0x0415}, {"pt", 0x0416}, {"ru", 0x0419},
      {"tr", 0x041F}, {"es", 0x0C0A},
  };
  for (const Primary& p : kPrimaries) {
    if (language == p.language) return p.id;
  }
  return kEnglishUnitedStates;
}

const LanguageTexts* RowOf(std::uint16_t languageId) {
  for (const LanguageTexts& row : kTable) {
    if (row.languageId == languageId) return &row;
  }
  return nullptr;
}

class PosixStringResources final : public StringResources {
 public:
  ResourceText Find(unsigned id) override {
    const LanguageTexts* row = RowOf(LanguageOf(MessagesLocale()));
    if (row == nullptr) row = RowOf(kEnglishUnitedStates);
    const wchar_t* text = id == 110 ? row->task : id == 120 ? row->service : nullptr;
    if (text == nullptr) return ResourceText{};
    return ResourceText{text, std::wcslen(text)};
  }
};

}  // namespace

template <>
StringResources& PlatformDefault<StringResources>() {
  static PosixStringResources resources;
  return resources;
}

}  // namespace platform
