// Reads a fuzzer's bytes as small choices, so a seed file can be written by hand, and the
// failure check every fuzz target uses. A read past the end gives zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

// What a target prints about the current input when a property breaks, to make a kept input
// readable; empty when there is nothing more to say.
inline std::function<void()> gFuzzReport;

// A broken property must stop the run as a crash: libFuzzer then keeps the input that broke
// it, and the seed replay fails its test.
#define FUZZ_CHECK(condition, what)                                                       \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      std::fprintf(stderr, "%s:%d: property broken: %s (%s)\n", __FILE__, __LINE__, what, \
                   #condition);                                                           \
      if (gFuzzReport) gFuzzReport();                                                     \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  bool Bool() { return (Byte() & 1) != 0; }
  // A value from 0 to `count` - 1.
  unsigned Pick(unsigned count) { return count == 0 ? 0 : Byte() % count; }
  std::uint32_t Uint32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return value;
  }
  // A length byte (taken modulo `maxLength` + 1), then that many bytes.
  std::string String(std::size_t maxLength) {
    const std::size_t length = Byte() % (maxLength + 1);
    return Bytes(length);
  }
  std::string Bytes(std::size_t length) {
    const std::size_t take = length < size_ - at_ ? length : size_ - at_;
    std::string text(reinterpret_cast<const char*>(data_ + at_), take);
    at_ += take;
    return text;
  }
  std::string Rest() { return Bytes(size_ - at_); }
  bool AtEnd() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};
