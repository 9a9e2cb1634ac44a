// Integer emulation of x87 extended-precision division, multiplication and truncation, so the
// bar reads the same on every compiler (some have no extended long double).
#include "convert/progress.h"

namespace {

// A positive value m * 2^exponent with m normalised to [2^63, 2^64).
struct Extended {
  std::uint64_t mantissa;
  int exponent;
};

int BitLength(std::uint64_t v) {
  int n = 0;
  while (v != 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

// Rounds mantissa + guard/sticky to nearest-even, renormalising on carry.
Extended RoundNearestEven(std::uint64_t mantissa, int exponent, bool guard, bool sticky) {
  if (guard && (sticky || (mantissa & 1))) {
    ++mantissa;
    if (mantissa == 0) {  // carried out of 64 bits
      mantissa = std::uint64_t{1} << 63;
      ++exponent;
    }
  }
  return {mantissa, exponent};
}

// done / total for nonzero operands, by long division one quotient bit at a time.
Extended Divide(std::uint64_t done, std::uint64_t total) {
  std::uint64_t quotient = done / total;
  std::uint64_t remainder = done % total;
  int bits = BitLength(quotient);  // significant bits gathered so far
  int exponent = 0;                // value = quotient * 2^exponent while gathering
  auto nextBit = [&]() {
    const bool overflow = (remainder >> 63) != 0;
    remainder <<= 1;
    if (overflow || remainder >= total) {
      remainder -= total;
      return true;
    }
    return false;
  };
  while (bits < 64) {
    const bool bit = nextBit();
    quotient = (quotient << 1) | (bit ? 1 : 0);
    --exponent;
    if (bits > 0 || bit) ++bits;
  }
  const bool guard = nextBit();
  return RoundNearestEven(quotient, exponent, guard, remainder != 0);
}

// value * 100, rounded back to a 64-bit significand.
Extended TimesHundred(Extended value) {
  const std::uint64_t lo = (value.mantissa & 0xFFFFFFFFu) * 100;
  const std::uint64_t mid = (value.mantissa >> 32) * 100 + (lo >> 32);
  // 128-bit product high:low; at most 71 bits long.
  const std::uint64_t high = mid >> 32;
  const std::uint64_t low = (mid << 32) | (lo & 0xFFFFFFFFu);
  const int shift = BitLength(high);  // 1..7, since mantissa >= 2^63
  const std::uint64_t mantissa = (high << (64 - shift)) | (low >> shift);
  const std::uint64_t dropped = low & ((std::uint64_t{1} << shift) - 1);
  const bool guard = (dropped >> (shift - 1)) & 1;
  const bool sticky = (dropped & ((std::uint64_t{1} << (shift - 1)) - 1)) != 0;
  return RoundNearestEven(mantissa, value.exponent + shift, guard, sticky);
}

}  // namespace

std::int32_t TotalPercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 100;
  if (done == 0) return 0;
  const Extended product = TimesHundred(Divide(done, total));
  // Truncation toward zero to a signed 64-bit integer; x87 stores the "integer indefinite"
  // value 2^63 for anything out of range, whose low 32 bits are 0.
  if (product.exponent >= 0) return 0;
  if (product.exponent <= -64) return 0;
  const std::uint64_t whole = product.mantissa >> -product.exponent;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(whole));
}
