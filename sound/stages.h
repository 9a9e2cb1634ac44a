// The stages between a decoded sound and its encoding: to the target's channels, then to its
// sample rate, each fed and drained in pieces of bounded size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The most channels a sound may have on either side of the stages.
inline constexpr std::uint16_t kMaxStageChannels = 64;

// Mixes frames of one channel layout into another. One channel is copied to all. Into one or two
// channels, each source channel goes by its speaker, as players mix: front ones to their side,
// a centre one to both at -3 dB, back and side ones to their side at -3 dB, a back centre one to
// both at -6 dB, the low-frequency one nowhere; mono is the mean of the two sides; the weights
// are scaled down together where they could clip. Into more channels, each channel the source
// has is copied and a missing one gets the mean of all.
class ChannelMix {
 public:
  // `mask`: the source's speakers, one bit each in the extensible format's order; 0 takes the
  // usual layout for `from` channels.
  ChannelMix(std::uint16_t from, std::uint32_t mask, std::uint16_t to);
  // Appends `count` interleaved frames of the source as frames of the target.
  void Apply(const float* frames, std::size_t count, std::vector<float>& out) const;

 private:
  std::uint16_t from_, to_;
  std::vector<float> weights_;  // to_ rows of from_
};

// libsoxr's recipes, best first, each linear in phase with its own passband; --fit's is VeryHigh.
enum class ResampleQuality { VeryHigh, High, Medium, Low };

// The frames a stream of `frames` at `fromRate` comes to at `toRate`.
std::uint64_t ResampledLength(std::uint64_t frames, std::uint32_t fromRate, std::uint32_t toRate);

// Takes `count` interleaved frames; false stops the stream.
using TakeSound = std::function<bool(const float* frames, std::size_t count)>;

// Converts a stream of interleaved frames from one sample rate to another.
class Resampler {
 public:
  Resampler(std::uint16_t channels, std::uint32_t fromRate, std::uint32_t toRate,
            ResampleQuality quality = ResampleQuality::VeryHigh);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Why the converter could not be made (rates more than 256 times apart, no memory); empty
  // when it works.
  const std::string& Error() const { return error_; }
  // Hands `take` the output that `count` more frames give, in pieces of at most 4096 frames;
  // with `last`, the rest too, bringing the whole output to ResampledLength of the input. False
  // on a failure or when `take` stopped the stream.
  bool Process(const float* frames, std::size_t count, bool last, const TakeSound& take);

 private:
  // Hands on `count` frames of `piece`, none past the length the input so far comes to.
  bool HandOn(const float* piece, std::size_t count, const TakeSound& take);

  std::uint16_t channels_;
  std::uint32_t fromRate_, toRate_;
  void* state_ = nullptr;  // libsoxr's, kept out of this header
  std::uint64_t framesIn_ = 0, framesOut_ = 0;
  std::vector<float> room_, lastFrame_;
  std::string error_;
};

// The channel stage, then the rate stage, as one stream: what a sound of one layout becomes in
// another, handed on in pieces of at most a few thousand frames whatever the rates' ratio.
class Stages {
 public:
  Stages(std::uint16_t fromChannels, std::uint32_t fromMask, std::uint32_t fromRate,
         std::uint16_t toChannels, std::uint32_t toRate);
  // Why the stages cannot run (too many channels, the resampler's reason); empty when they can.
  const std::string& Error() const { return error_; }
  // Hands `take` what `count` more frames give, with `last` the rest too; false on a failure
  // (then Error says why) or when `take` stopped the stream.
  bool Process(const float* frames, std::size_t count, bool last, const TakeSound& take);

 private:
  std::uint16_t fromChannels_;
  double ratio_;
  ChannelMix mix_;
  Resampler resampler_;
  std::vector<float> mixed_;
  std::string error_;
};
