// The string table as the resource compiler built it, read back through the
// platform: every language's texts in the right UTF-16, the empty ids after
// them, and LoadLocalizedText following the thread's user-interface language.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "platform/string_resources.h"
#include "support/localized_text.h"

namespace {

// The same rows the resource compiler read, widened by the C++ compiler: two
// independent conversions of one UTF-8 source that must agree.
struct Row {
  LANGID language;
  const wchar_t* task;
  const wchar_t* service;
};
#define VEXEL_WIDE(text) L##text
#define VEXEL_LOCALIZED(id, primary, sublanguage, task, service) {id, VEXEL_WIDE(task), VEXEL_WIDE(service)},
const Row kRows[] = {
#include "resources/localized_texts.inc"
};
#undef VEXEL_LOCALIZED
#undef VEXEL_WIDE

// The sixteen texts of one string-table block (ids 16 * (block - 1) to
// 16 * block - 1) stored for one language; empty when there is no such block.
std::vector<std::wstring> Block(unsigned block, LANGID language) {
  HRSRC found = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW(block), language);
  if (found == nullptr) return {};
  const DWORD size = SizeofResource(nullptr, found);
  const auto* words = static_cast<const WCHAR*>(LockResource(LoadResource(nullptr, found)));
  std::vector<std::wstring> texts;
  std::size_t at = 0;
  for (int i = 0; i < 16; ++i) {
    if ((at + 1) * sizeof(WCHAR) > size) return {};
    const std::size_t length = words[at++];
    if ((at + length) * sizeof(WCHAR) > size) return {};
    texts.emplace_back(words + at, length);
    at += length;
  }
  return texts;
}

TEST(Win32StringTable, EveryLanguageHoldsItsTwoTextsAndEmptyIdsAfterThem) {
  ASSERT_EQ(sizeof kRows / sizeof kRows[0], 16u);
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.language);
    // Ids 96 to 111: 110 is the fifteenth, 111 the last.
    const std::vector<std::wstring> taskBlock = Block(110 / 16 + 1, row.language);
    ASSERT_EQ(taskBlock.size(), 16u);
    EXPECT_EQ(taskBlock[110 % 16], row.task);
    EXPECT_EQ(taskBlock[111 % 16], L"");
    // Ids 112 to 127: 120 is the ninth, 121 to 127 follow it empty.
    const std::vector<std::wstring> serviceBlock = Block(120 / 16 + 1, row.language);
    ASSERT_EQ(serviceBlock.size(), 16u);
    EXPECT_EQ(serviceBlock[120 % 16], row.service);
    for (unsigned id = 121; id <= 127; ++id) EXPECT_EQ(serviceBlock[id % 16], L"") << id;
  }
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR into) {
  reinterpret_cast<std::set<LANGID>*>(into)->insert(language);
  return TRUE;
}

TEST(Win32StringTable, BlocksAreStoredUnderExactlyTheSixteenLanguageIds) {
  // Swedish under the neutral sublanguage 0x001D, not 0x041D.
  const std::set<LANGID> expected = {0x001D, 0x0404, 0x0405, 0x0407, 0x0409, 0x040C, 0x0410, 0x0411,
                                     0x0412, 0x0413, 0x0415, 0x0416, 0x0419, 0x041F, 0x0804, 0x0C0A};
  for (unsigned block : {110u / 16 + 1, 120u / 16 + 1}) {
    std::set<LANGID> stored;
    ASSERT_TRUE(EnumResourceLanguagesW(nullptr, RT_STRING, MAKEINTRESOURCEW(block), CollectLanguage,
                                       reinterpret_cast<LONG_PTR>(&stored)));
    EXPECT_EQ(stored, expected) << block;
  }
}

TEST(Win32StringTable, NonAsciiCharactersAreSingleUtf16CodeUnits) {
  // Spot checks independent of both compilers' conversions.
  struct Check {
    LANGID language;
    std::size_t index;
    wchar_t expected;
  } checks[] = {
      {0x001D, 5, 0x00E4},   // Swedish "Den h\u00e4r"
      {0x0404, 0, 0x6B64},   // Chinese (Traditional) first character
      {0x0411, 0, 0x3053},   // Japanese hiragana "ko"
      {0x0419, 0, 0x042D},   // Russian "\u042d"
      {0x0405, 5, 0x00FA},   // Czech "\u00fa"
      {0x0C0A, 44, 0x00F3},  // Spanish "instalaci\u00f3n"
  };
  for (const Check& c : checks) {
    const std::vector<std::wstring> block = Block(110 / 16 + 1, c.language);
    ASSERT_EQ(block.size(), 16u) << c.language;
    ASSERT_GT(block[14].size(), c.index) << c.language;
    EXPECT_EQ(static_cast<unsigned>(block[14][c.index]), static_cast<unsigned>(c.expected)) << c.language;
  }
}

// The process's user-interface language decides; wine takes it from the
// locale of the wine process (a Swedish one is tried by the scenarios in
// tests/e2e/test_tasks.py). In the test run it is English.
bool EnglishUserInterface() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_ENGLISH; }

TEST(Win32StringResources, TextInPlaceIsFollowedByAZeroWord) {
  for (unsigned id : {110u, 120u}) {
    platform::ResourceText t = platform::Seam<platform::StringResources>::Get().Find(id);
    ASSERT_NE(t.text, nullptr);
    ASSERT_GT(t.length, 0u);
    EXPECT_EQ(t.text[t.length], L'\0') << id;
  }
  EXPECT_EQ(platform::Seam<platform::StringResources>::Get().Find(111).length, 0u);
  EXPECT_EQ(platform::Seam<platform::StringResources>::Get().Find(130).length, 0u);
}

TEST(Win32LoadLocalizedText, EnglishTextsAndTheFallback) {
  if (!EnglishUserInterface()) GTEST_SKIP() << "the user interface language is not English";
  EXPECT_STREQ(LoadLocalizedText(110), kRows[0].task);
  EXPECT_STREQ(LoadLocalizedText(120), kRows[0].service);
  EXPECT_EQ(kRows[0].language, 0x0409);
  for (unsigned id : {111u, 121u, 130u}) EXPECT_STREQ(LoadLocalizedText(id), L"MISSING LOCALIZATION") << id;
}

}  // namespace
