// An IMA ADPCM encoder that writes exactly the block layout of a given sound file, searching each
// block for the codes that come closest to the sound rather than taking one code at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ImaLayout {
  std::uint16_t channels = 0;
  std::uint16_t blockAlign = 0;       // bytes per block, headers included
  std::uint32_t samplesPerBlock = 0;  // per channel; 0: all a block holds
};

// Why `layout` cannot be written, by the rule every IMA ADPCM block keeps; empty when it can.
std::string CheckImaLayout(const ImaLayout& layout);

class ImaEncoder {
 public:
  // How many partial code sequences each block's search keeps at each sample: more come closer
  // and take longer. The default is the most that keeps --fit as fast as sox's own conversion.
  static constexpr int kDefaultPaths = 24;
  static constexpr int kMaxPaths = 178;  // the best and the runner-up at each of 89 step indexes

  // `layout` must pass CheckImaLayout; `paths` is brought within 1 to kMaxPaths.
  explicit ImaEncoder(const ImaLayout& layout, int paths = kDefaultPaths);
  // Appends the blocks that `count` more interleaved frames complete; samples are in [-1, 1]
  // and clipped beyond it.
  void Encode(const float* frames, std::size_t count, std::vector<std::uint8_t>& out);
  // Appends the last block, if frames are waiting, its missing ones repeating the last frame;
  // returns how many frames were given in all, the count a fact chunk states.
  std::uint64_t Finish(std::vector<std::uint8_t>& out);

 private:
  void EncodeBlock(std::vector<std::uint8_t>& out);

  ImaLayout layout_;
  std::uint32_t capacity_;
  std::size_t paths_;
  std::vector<std::int16_t> pending_;        // interleaved frames of the block being filled
  std::vector<int> samples_;                 // one channel of it, as the search reads it
  std::vector<std::uint8_t> codes_, trail_;  // the search's result and its working memory
  std::uint64_t frames_ = 0;
};
