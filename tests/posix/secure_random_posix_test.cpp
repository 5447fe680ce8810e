// The host's secure random source.
#include <gtest/gtest.h>

#include <set>

#include "platform/seam.h"
#include "platform/secure_random.h"

namespace {

TEST(PosixSecureRandom, DrawsSucceedAndSpreadOverAllBits) {
  platform::SecureRandom& random = platform::Seam<platform::SecureRandom>::Get();
  std::set<std::uint32_t> seen;
  std::uint32_t anyBits = 0, allBits = 0xFFFFFFFFu;
  for (int i = 0; i < 256; ++i) {
    platform::StepOr<std::uint32_t> draw = random.RandS();
    ASSERT_TRUE(draw.ok);
    seen.insert(draw.value);
    anyBits |= draw.value;
    allBits &= draw.value;
  }
  // 256 draws of 32 random bits: a repeat, a bit never set or a bit always
  // set would each be a fault, not chance.
  EXPECT_GT(seen.size(), 250u);
  EXPECT_EQ(anyBits, 0xFFFFFFFFu);
  EXPECT_EQ(allBits, 0u);
}

}  // namespace
