// The block rule of IMA ADPCM, in one place for the checks, the decoder and the encoder.
#include "sound/ima.h"

namespace {

constexpr std::uint32_t kGroupBytes = 4;  // per channel: the block header, then each group
// A format chunk states samples per block in 16 bits.
constexpr std::uint32_t kMostStatedSamples = 65535;

}  // namespace

std::uint32_t ImaCapacity(std::uint16_t channels, std::uint32_t blockAlign) {
  const std::uint32_t groupBytes = kGroupBytes * channels;
  if (channels == 0 || blockAlign < groupBytes || blockAlign % groupBytes != 0) return 0;
  return static_cast<std::uint32_t>(ImaSamplesIn(channels, blockAlign));
}

std::uint64_t ImaSamplesIn(std::uint16_t channels, std::uint64_t bytes) {
  const std::uint64_t groupBytes = std::uint64_t{kGroupBytes} * channels;
  return channels == 0 || bytes < groupBytes ? 0 : (bytes - groupBytes) / groupBytes * 8 + 1;
}

std::uint32_t ImaBlockSamples(std::uint16_t channels, std::uint32_t blockAlign,
                              std::uint32_t statedSamples) {
  return statedSamples != 0 ? statedSamples : ImaCapacity(channels, blockAlign);
}

std::uint64_t ImaFrames(std::uint16_t channels, std::uint32_t blockAlign,
                        std::uint32_t statedSamples, std::uint64_t bytes) {
  if (blockAlign == 0) return 0;
  const std::uint64_t perBlock = ImaBlockSamples(channels, blockAlign, statedSamples);
  const std::uint64_t rest = ImaSamplesIn(channels, bytes % blockAlign);
  return bytes / blockAlign * perBlock + std::min(rest, perBlock);
}

ImaFault ImaLayoutFault(std::uint16_t channels, std::uint32_t blockAlign, std::uint16_t bits,
                        std::uint32_t statedSamples) {
  const std::uint32_t capacity = ImaCapacity(channels, blockAlign);
  if (capacity == 0) return ImaFault::BlockAlign;
  if (bits != 4) return ImaFault::Bits;
  if (statedSamples > capacity) return ImaFault::StatedSamples;
  if (statedSamples == 0 && capacity > kMostStatedSamples) return ImaFault::TooManySamples;
  return ImaFault::None;
}

std::string ImaFaultText(std::uint16_t channels, std::uint32_t blockAlign, std::uint16_t bits,
                         std::uint32_t statedSamples) {
  const std::string align = "block align " + std::to_string(blockAlign);
  switch (ImaLayoutFault(channels, blockAlign, bits, statedSamples)) {
    case ImaFault::None:
      return "";
    case ImaFault::BlockAlign:
      return align + " does not fit IMA ADPCM for " + std::to_string(channels) +
             (channels == 1 ? " channel" : " channels");
    case ImaFault::Bits:
      return std::to_string(bits) + " bits per sample, not IMA ADPCM's 4";
    case ImaFault::StatedSamples:
      return std::to_string(statedSamples) + " samples per block do not fit " + align;
    case ImaFault::TooManySamples:
      return align + " holds " + std::to_string(ImaCapacity(channels, blockAlign)) +
             " samples per channel, more than a format chunk can state (" +
             std::to_string(kMostStatedSamples) + ")";
  }
  return "";
}
