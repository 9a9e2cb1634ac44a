// The total bar's value must match 64-bit-significand arithmetic bit for bit.
#include "convert/progress.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <random>

namespace {

TEST(TotalPercent, KnownValues) {
  struct Case {
    std::uint64_t done;
    std::uint64_t total;
    std::int32_t percent;
  };
  const Case cases[] = {
      {53, 100, 52},  // double precision would give 53
      {29, 100, 29},  // double precision would give 28
      {100, 400, 25},
      {200, 400, 50},
      {400, 400, 100},
      {0, 400, 0},
      {1, 3, 33},
      {2, 3, 66},
      {7, 0, 100},
      {0, 0, 100},
      {300, 100, 300},  // a file grew after it was counted
      {1, 0xFFFFFFFFFFFFFFFFull, 0},
      {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.done) + "/" + std::to_string(c.total));
    EXPECT_EQ(TotalPercent(c.done, c.total), c.percent);
  }
}

#if (defined(__i386__) || defined(__x86_64__)) && LDBL_MANT_DIG == 64
std::int32_t Extended(std::uint64_t done, std::uint64_t total) {
  const long double value =
      static_cast<long double>(done) / static_cast<long double>(total) * 100.0L;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(value)));
}

TEST(TotalPercent, MatchesExtendedPrecisionBitForBit) {
  std::mt19937_64 random(20261206);
  int mismatches = 0;
  auto check = [&](std::uint64_t done, std::uint64_t total) {
    // Only where the product fits a signed 64-bit integer, which C++ can convert.
    if (static_cast<long double>(done) / total * 100.0L >= 9.2e18L) return;
    if (TotalPercent(done, total) != Extended(done, total) && ++mismatches <= 10) {
      ADD_FAILURE() << done << "/" << total << ": " << TotalPercent(done, total) << " vs "
                    << Extended(done, total);
    }
  };
  for (std::uint64_t total = 1; total <= 600; ++total) {
    for (std::uint64_t done = 0; done <= total + 3; ++done) check(done, total);
  }
  for (int i = 0; i < 200000; ++i) {
    const int bits = static_cast<int>(random() % 64) + 1;
    const std::uint64_t total = (random() >> (64 - bits)) | 1;
    const std::uint64_t done = random() % (total + total / 2 + 1);
    check(done, total);
    check(total - done % total, total);
  }
  const std::uint64_t edges[] = {1,
                                 2,
                                 3,
                                 99,
                                 100,
                                 101,
                                 0x7FFFFFFF,
                                 0x80000000,
                                 0xFFFFFFFF,
                                 0x100000000ull,
                                 0xFFFFFFFFFFFFull,
                                 0x7FFFFFFFFFFFFFFFull,
                                 0xFFFFFFFFFFFFFFFFull};
  for (std::uint64_t total : edges) {
    for (std::uint64_t done : edges) check(done, total);
  }
  EXPECT_EQ(mismatches, 0);
}
#endif

}  // namespace
