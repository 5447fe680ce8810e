#include "support/message_catalogue.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(MessageCatalogue, AscendingUniqueCodesWithTheLevelOfTheirHundred) {
  std::set<std::int32_t> seen;
  std::int32_t previous = 0;
  for (std::size_t i = 0; i < MessageCatalogueSize(); ++i) {
    const MessageInfo& m = MessageCatalogue()[i];
    EXPECT_GT(m.code, previous) << m.code;
    previous = m.code;
    EXPECT_TRUE(seen.insert(m.code).second) << m.code;
    const int hundred = m.code / 100;
    const LogLevel expected = (hundred == 12 || hundred == 13) ? kLogError : hundred == 14 ? kLogWarning : kLogInformation;
    EXPECT_TRUE(hundred == 12 || hundred == 13 || hundred == 14 || hundred == 16) << m.code;
    EXPECT_EQ(m.level, expected) << m.code;
    ASSERT_NE(m.meaning, nullptr);
    EXPECT_GT(std::string(m.meaning).size(), 10u) << m.code;
    EXPECT_EQ(FindMessage(m.code), &m);
  }
}

TEST(MessageCatalogue, NumbersOutsideTheTableAreUnknown) {
  for (std::int32_t code : {0, 1199, 1202, 1204, 1208, 1213, 1236, 1306, 1412, 1416, 1420, 1432, 1433, 1611, 1621, 1630}) {
    EXPECT_EQ(FindMessage(code), nullptr) << code;
  }
}

}  // namespace
