// LoadLocalizedText over a string table that hands out its texts without
// terminators, as the platform's does.
#include "support/localized_text.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "platform/seam.h"
#include "tests/fakes/fake_string_resources.h"

namespace {

TEST(LoadLocalizedText, TextEndsWhereTheStoredTextEnds) {
  FakeStringResources table;
  platform::ScopedSeam<platform::StringResources> seam(&table);
  table.Set(110, L"The task's description.");
  table.Set(120, L"Beschreibung des Dienstes \u00e4\u00f6\u00fc");
  EXPECT_STREQ(LoadLocalizedText(110), L"The task's description.");
  EXPECT_STREQ(LoadLocalizedText(120), L"Beschreibung des Dienstes \u00e4\u00f6\u00fc");
}

TEST(LoadLocalizedText, AnIdWithoutTextGivesTheFixedFallback) {
  FakeStringResources table;
  platform::ScopedSeam<platform::StringResources> seam(&table);
  table.Set(110, L"present");
  table.Set(111, L"");
  for (unsigned id : {111u, 120u, 130u, 0u}) {
    EXPECT_STREQ(LoadLocalizedText(id), L"MISSING LOCALIZATION") << id;
  }
}

TEST(LoadLocalizedText, TextsStayValidWhileTheTableChanges) {
  FakeStringResources table;
  platform::ScopedSeam<platform::StringResources> seam(&table);
  table.Set(110, L"first language");
  const wchar_t* first = LoadLocalizedText(110);
  table.Set(110, L"second language");
  const wchar_t* second = LoadLocalizedText(110);
  EXPECT_STREQ(first, L"first language");
  EXPECT_STREQ(second, L"second language");
  // The same text again is the same copy.
  table.Set(110, L"first language");
  EXPECT_EQ(LoadLocalizedText(110), first);
}

}  // namespace
