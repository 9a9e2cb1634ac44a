// The total bar's value must match 64-bit-significand arithmetic bit for bit.
#include "convert/progress.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <random>

TEST(TotalPercent, TruncatesTheExtendedPrecisionProductToItsLow32Bits) {
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  // Double precision makes 53 and 28 of 53 and 29 of 100; 3e9 % is cut to 32 bits; 2^63 on is 0.
  const std::tuple<std::uint64_t, std::uint64_t, std::int32_t> cases[] = {
      {53, 100, 52},   {29, 100, 29}, {1, 3, 33},        {2, 3, 66},
      {100, 400, 25},  {0, 400, 0},   {400, 400, 100},   {7, 0, 100},
      {300, 100, 300}, {1, kMax, 0},  {kMax, kMax, 100}, {3000000000u, 100, -1294967296},
      {kMax, 1, 0}};
  for (const auto& [done, total, percent] : cases)
    EXPECT_EQ(TotalPercent(done, total), percent) << done << "/" << total;
#if (defined(__i386__) || defined(__x86_64__)) && LDBL_MANT_DIG == 64
  std::mt19937_64 random(20261206);
  for (int i = 0; i < 400000; ++i) {
    const bool small = i < 200000;  // every count of 0 to 399 over every total of 1 to 500
    const std::uint64_t total = small ? 1 + i / 400 : (random() >> (random() % 64)) | 1;
    const std::uint64_t done = small ? i % 400 : random() % (total + total / 2 + 1);
    const long double value = static_cast<long double>(done) / total * 100.0L;
    if (value >= 9.2e18L) continue;  // beyond what C++ converts to a signed 64-bit integer
    const auto expected =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(value)));
    ASSERT_EQ(TotalPercent(done, total), expected) << done << "/" << total;
  }
#endif
}
