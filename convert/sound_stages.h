// The stages between a decoded sound and its encoding: to the target's channels, then to its
// sample rate, each fed piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Appends `count` interleaved frames of `from` channels as frames of `to` channels: one channel
// is copied to all; a missing channel gets the mean of all; output channel k of fewer is the
// mean of input channel k and every input channel past the last output one, so nothing clips.
void MapChannels(const float* frames, std::size_t count, std::uint16_t from, std::uint16_t to,
                 std::vector<float>& out);

// libsamplerate's converters, best first.
enum class ResampleQuality { Best = 0, Medium = 1, Fastest = 2, Linear = 4 };

// Converts a stream of interleaved frames from one sample rate to another.
class Resampler {
 public:
  Resampler(std::uint16_t channels, std::uint32_t fromRate, std::uint32_t toRate,
            ResampleQuality quality = ResampleQuality::Medium);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Why the converter could not be made (rates more than 256 times apart, no memory); empty
  // when it works.
  const std::string& Error() const { return error_; }
  // Appends the output that `count` more frames give; with `last`, the rest too, bringing the
  // whole output to the input's length times the rates' ratio, rounded. False on a failure.
  bool Process(const float* frames, std::size_t count, bool last, std::vector<float>& out);

 private:
  std::uint16_t channels_;
  double ratio_;
  void* state_ = nullptr;  // libsamplerate's, kept out of this header
  std::uint64_t framesIn_ = 0, framesOut_ = 0;
  std::string error_;
};

// The channel stage, then the rate stage, as one stream: what a sound of one layout becomes in
// another.
class Stages {
 public:
  Stages(std::uint16_t fromChannels, std::uint32_t fromRate, std::uint16_t toChannels,
         std::uint32_t toRate);
  // Why the stages cannot run (the resampler's reason); empty when they can.
  const std::string& Error() const { return resampler_.Error(); }
  // The interleaved frames of the target's channels and rate that `count` more frames give, with
  // `last` the rest too; valid until the next call, null on a failure.
  const std::vector<float>* Process(const float* frames, std::size_t count, bool last);

 private:
  std::uint16_t fromChannels_, toChannels_;
  Resampler resampler_;
  std::vector<float> mapped_, resampled_;
};
