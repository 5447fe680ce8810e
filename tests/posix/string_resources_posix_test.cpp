// The host build's string table: the sixteen languages of the Windows table,
// chosen by the locale of the environment, English (United States) otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "platform/seam.h"
#include "platform/string_resources.h"
#include "support/localized_text.h"

namespace {

const std::wstring kEnglishTask =
    L"This task keeps your Orrin Vexel Player installation up to date with the latest enhancements and security "
    L"fixes. If this task is disabled or removed, Orrin Vexel Player will be unable to automatically secure your "
    L"machine with the latest security fixes.";
const std::wstring kEnglishService =
    L"This service keeps your Orrin Vexel Player installation up to date with the latest enhancements and security "
    L"fixes.";

// Sets the three locale variables for the test and puts them back afterwards.
class Locale {
 public:
  Locale(const char* all, const char* messages, const char* lang) {
    for (int i = 0; i < 3; ++i) {
      const char* v = std::getenv(kNames[i]);
      saved_[i] = v != nullptr ? std::optional<std::string>(v) : std::nullopt;
    }
    Set(0, all);
    Set(1, messages);
    Set(2, lang);
  }
  ~Locale() {
    for (int i = 0; i < 3; ++i) Set(i, saved_[i] ? saved_[i]->c_str() : nullptr);
  }

 private:
  static void Set(int i, const char* value) {
    if (value != nullptr) {
      setenv(kNames[i], value, 1);
    } else {
      unsetenv(kNames[i]);
    }
  }
  static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved_[3];
};

std::wstring Text(unsigned id) {
  platform::ResourceText t = platform::Seam<platform::StringResources>::Get().Find(id);
  return std::wstring(t.text != nullptr ? t.text : L"", t.length);
}

TEST(PosixStringResources, EnglishTextsCharacterForCharacter) {
  Locale locale(nullptr, nullptr, "en_US.UTF-8");
  EXPECT_EQ(Text(110), kEnglishTask);
  EXPECT_EQ(Text(120), kEnglishService);
  EXPECT_EQ(LoadLocalizedText(110), kEnglishTask);
}

TEST(PosixStringResources, IdsWithoutTextHaveNone) {
  Locale locale(nullptr, nullptr, "sv_SE.UTF-8");
  for (unsigned id : {111u, 121u, 127u, 130u}) {
    EXPECT_EQ(platform::Seam<platform::StringResources>::Get().Find(id).length, 0u) << id;
    EXPECT_STREQ(LoadLocalizedText(id), L"MISSING LOCALIZATION") << id;
  }
}

TEST(PosixStringResources, LanguageComesFromTheLocale) {
  struct Row {
    const char* all;
    const char* messages;
    const char* lang;
    const wchar_t* serviceStart;  // how text 120 begins in the language chosen
  } rows[] = {
      {nullptr, nullptr, "sv_SE.UTF-8", L"Den h\u00e4r tj\u00e4nsten"},
      {nullptr, nullptr, "sv_FI", L"Den h\u00e4r tj\u00e4nsten"},
      {nullptr, nullptr, "de_AT.UTF-8@euro", L"Dieser Dienst"},
      {nullptr, nullptr, "zh_TW.UTF-8", L"\u6b64\u670d\u52d9"},
      {nullptr, nullptr, "zh_HK", L"\u6b64\u670d\u52d9"},
      {nullptr, nullptr, "zh_CN.UTF-8", L"\u6b64\u670d\u52a1"},
      {nullptr, nullptr, "ja_JP.UTF-8", L"\u3053\u306e\u30b5\u30fc\u30d3\u30b9"},
      {nullptr, nullptr, "pt_PT", L"Este servi\u00e7o"},
      {nullptr, nullptr, "es_MX", L"Este servicio"},
      {nullptr, nullptr, "ru_RU.KOI8-R", L"\u042d\u0442\u0430 \u0441\u043b\u0443\u0436\u0431\u0430"},
      // LC_ALL before LC_MESSAGES before LANG.
      {"fr_FR.UTF-8", "de_DE.UTF-8", "sv_SE.UTF-8", L"Ce service"},
      {nullptr, "it_IT.UTF-8", "sv_SE.UTF-8", L"Questo servizio"},
      {"", "", "pl_PL", L"Ta us\u0142uga"},
      // No language of the table: English (United States).
      {nullptr, nullptr, "fi_FI.UTF-8", L"This service"},
      {nullptr, nullptr, "C", L"This service"},
      {nullptr, nullptr, "POSIX", L"This service"},
      {nullptr, nullptr, nullptr, L"This service"},
  };
  for (const Row& row : rows) {
    Locale locale(row.all, row.messages, row.lang);
    const std::wstring text = Text(120);
    EXPECT_EQ(text.substr(0, std::wcslen(row.serviceStart)), row.serviceStart)
        << (row.all ? row.all : "-") << " " << (row.messages ? row.messages : "-") << " "
        << (row.lang ? row.lang : "-");
  }
}

TEST(PosixStringResources, SixteenLanguagesEachWithTheirOwnTwoTexts) {
  const char* locales[] = {"sv_SE", "zh_TW", "cs_CZ", "de_DE", "en_US", "fr_FR", "it_IT", "ja_JP",
                           "ko_KR", "nl_NL", "pl_PL", "pt_BR", "ru_RU", "tr_TR", "zh_CN", "es_ES"};
  std::set<std::wstring> tasks, services;
  for (const char* name : locales) {
    Locale locale(nullptr, nullptr, name);
    const std::wstring task = Text(110), service = Text(120);
    EXPECT_GT(task.size(), service.size()) << name;
    EXPECT_NE(task.find(L"Orrin Vexel Player"), std::wstring::npos) << name;
    EXPECT_NE(service.find(L"Orrin Vexel Player"), std::wstring::npos) << name;
    tasks.insert(task);
    services.insert(service);
  }
  EXPECT_EQ(tasks.size(), 16u);
  EXPECT_EQ(services.size(), 16u);
}

}  // namespace
