// The channel stage and the resampling stage, over libsoxr's streaming calls.
#include "sound/stages.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr float kHalfPower = 0.70710678F;  // -3 dB
// Each speaker of an extensible format's channel mask, in bit order: its weights into the left
// and the right side.
constexpr float kSides[][2] = {
    {1, 0},                    // front left
    {0, 1},                    // front right
    {kHalfPower, kHalfPower},  // front centre
    {0, 0},                    // low frequency
    {kHalfPower, 0},           // back left
    {0, kHalfPower},           // back right
    {1, 0},                    // front left of centre
    {0, 1},                    // front right of centre
    {0.5F, 0.5F},              // back centre
    {kHalfPower, 0},           // side left
    {0, kHalfPower},           // side right
    {kHalfPower, kHalfPower},  // top centre
    {1, 0},                    // top front left
    {kHalfPower, kHalfPower},  // top front centre
    {0, 1},                    // top front right
    {kHalfPower, 0},           // top back left
    {0.5F, 0.5F},              // top back centre
    {0, kHalfPower},           // top back right
};
constexpr int kSpeakers = sizeof kSides / sizeof kSides[0];
// The speakers a file of 1 to 8 channels has when it names none.
constexpr std::uint32_t kUsualMasks[] = {0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};
// Each piece of output the resampler makes is about this many frames.
constexpr double kPieceFrames = 4096;

}  // namespace

ChannelMix::ChannelMix(std::uint16_t from, std::uint32_t mask, std::uint16_t to)
    : from_(from), to_(to), weights_(std::size_t{from} * to, 0.0F) {
  const auto weight = [this](std::size_t row, std::size_t column) -> float& {
    return weights_[row * from_ + column];
  };
  if (from == 0 || to == 0) return;  // the stages refuse it
  if (from == 1 || from == to || to > 2) {
    for (std::size_t k = 0; k < to; ++k) {
      for (std::size_t c = 0; c < from; ++c) {
        // A missing channel is the mean of all; a source with more shares its extra ones.
        const bool own = from == 1 || c == k;
        const bool shared = k < from && c >= to;
        const auto sharers = static_cast<float>(from > to ? from - to + 1 : 1);
        weight(k, c) = k >= from       ? 1.0F / static_cast<float>(from)
                       : own || shared ? 1.0F / sharers
                                       : 0.0F;
      }
    }
    return;
  }
  if (mask == 0 && from <= 8) mask = kUsualMasks[from - 1];
  // Each channel takes the next speaker the mask names; one past them all is a centre one.
  int bit = 0;
  for (std::size_t c = 0; c < from; ++c) {
    while (bit < kSpeakers && (mask >> bit & 1U) == 0) ++bit;
    const float* sides = bit < kSpeakers ? kSides[bit] : kSides[2];
    ++bit;
    if (to == 2) {
      weight(0, c) = sides[0];
      weight(1, c) = sides[1];
    } else {
      weight(0, c) = (sides[0] + sides[1]) / 2;
    }
  }
  float loudest = 1;
  for (std::size_t k = 0; k < to; ++k) {
    float sum = 0;
    for (std::size_t c = 0; c < from; ++c) sum += weight(k, c);
    loudest = std::max(loudest, sum);
  }
  for (float& w : weights_) w /= loudest;
}

void ChannelMix::Apply(const float* frames, std::size_t count, std::vector<float>& out) const {
  const std::size_t at = out.size();
  out.resize(at + count * to_);
  float* mixed = out.data() + at;
  for (std::size_t f = 0; f < count; ++f, frames += from_) {
    for (std::size_t k = 0; k < to_; ++k) {
      float sum = 0;
      for (std::size_t c = 0; c < from_; ++c) sum += weights_[k * from_ + c] * frames[c];
      *mixed++ = sum;
    }
  }
}

std::uint64_t ResampledLength(std::uint64_t frames, std::uint32_t fromRate, std::uint32_t toRate) {
  if (fromRate == toRate || fromRate == 0) return frames;
  return static_cast<std::uint64_t>(
      std::llround(static_cast<double>(frames) * toRate / static_cast<double>(fromRate)));
}

Resampler::Resampler(std::uint16_t channels, std::uint32_t fromRate, std::uint32_t toRate,
                     ResampleQuality quality)
    : channels_(channels), fromRate_(fromRate), toRate_(toRate) {
  if (fromRate == toRate) return;
  // libsoxr takes any ratio, but raising the rate its buffers grow with the ratio (20 MB at
  // 65536 times); within 256 times either way they stay under a megabyte.
  constexpr double kFarthest = 256;
  if (fromRate == 0 || toRate == 0 || toRate / kFarthest > fromRate ||
      fromRate / kFarthest > toRate) {
    error_ = "sample rates " + std::to_string(fromRate) + " and " + std::to_string(toRate) +
             " Hz are too far apart";
    return;
  }
  static constexpr unsigned long kRecipes[] = {SOXR_VHQ, SOXR_HQ, SOXR_MQ, SOXR_LQ};
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t recipe = soxr_quality_spec(kRecipes[static_cast<int>(quality)], 0);
  const soxr_runtime_spec_t oneThread = soxr_runtime_spec(1);
  soxr_error_t why = nullptr;
  state_ = soxr_create(fromRate, toRate, channels, &why, &io, &recipe, &oneThread);
  if (state_ == nullptr) error_ = why != nullptr ? why : "no memory for the resampler";
}

Resampler::~Resampler() {
  if (state_ != nullptr) soxr_delete(static_cast<soxr_t>(state_));
}

bool Resampler::HandOn(const float* piece, std::size_t count, const TakeSound& take) {
  const std::uint64_t most = ResampledLength(framesIn_, fromRate_, toRate_) - framesOut_;
  count = static_cast<std::size_t>(std::min<std::uint64_t>(count, most));
  if (count == 0) return true;
  framesOut_ += count;
  lastFrame_.assign(piece + (count - 1) * channels_, piece + count * channels_);
  return take(piece, count);
}

bool Resampler::Process(const float* frames, std::size_t count, bool last, const TakeSound& take) {
  if (!error_.empty()) return false;
  framesIn_ += count;
  if (state_ == nullptr) return HandOn(frames, count, take);  // the same rate: nothing to do
  constexpr std::size_t kRoom = 4096;
  room_.resize(kRoom * channels_);
  // libsoxr takes a null input for the end of the stream: an empty piece points at nothing.
  static const float kNothing = 0;
  const float* in = count > 0 ? frames : &kNothing;
  std::size_t left = count;
  // Each call takes only the input whose output fits the room; draining until the room is no
  // longer filled keeps nothing piling up inside. Then, with `last`, the end is asked for until
  // nothing comes, whether or not this call brought input.
  for (bool end = false;;) {
    std::size_t used = 0, made = 0;
    const soxr_error_t why = soxr_process(static_cast<soxr_t>(state_), end ? nullptr : in, left,
                                          &used, room_.data(), kRoom, &made);
    if (why != nullptr) {
      error_ = why;
      return false;
    }
    if (!HandOn(room_.data(), made, take)) return false;
    in += used * channels_;
    left -= used;
    if (end ? made == 0 : left == 0 && made < kRoom) {
      if (!last || end) break;
      end = true;
    }
  }
  if (!last) return true;
  // The converter's own end may fall a frame or two short of the length; the last frame is
  // held for the rest.
  lastFrame_.resize(channels_);
  for (const std::uint64_t wanted = ResampledLength(framesIn_, fromRate_, toRate_);
       framesOut_ < wanted;) {
    room_.clear();
    for (std::uint64_t f = framesOut_; f < wanted && room_.size() < kRoom * channels_; ++f)
      room_.insert(room_.end(), lastFrame_.begin(), lastFrame_.end());
    if (!HandOn(room_.data(), room_.size() / channels_, take)) return false;
  }
  return true;
}

Stages::Stages(std::uint16_t fromChannels, std::uint32_t fromMask, std::uint32_t fromRate,
               std::uint16_t toChannels, std::uint32_t toRate)
    : fromChannels_(fromChannels),
      ratio_(fromRate == 0 ? 1 : static_cast<double>(toRate) / fromRate),
      mix_(std::min(fromChannels, kMaxStageChannels), fromMask,
           std::min(toChannels, kMaxStageChannels)),
      resampler_(std::min(toChannels, kMaxStageChannels), fromRate, toRate) {
  for (const std::uint16_t channels : {fromChannels, toChannels}) {
    if (channels == 0 || channels > kMaxStageChannels)
      error_ = std::to_string(channels) + " channels are not mixed (1 to " +
               std::to_string(kMaxStageChannels) + " are)";
  }
  if (error_.empty()) error_ = resampler_.Error();
}

bool Stages::Process(const float* frames, std::size_t count, bool last, const TakeSound& take) {
  if (!error_.empty()) return false;
  // However far apart the rates, no piece of output grows past a few thousand frames.
  const auto piece = static_cast<std::size_t>(std::max(1.0, kPieceFrames / std::max(1.0, ratio_)));
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(piece, count - at);
    const bool end = last && at + n == count;
    mixed_.clear();
    mix_.Apply(frames + at * fromChannels_, n, mixed_);
    if (!resampler_.Process(mixed_.data(), n, end, take)) {
      error_ = resampler_.Error();
      return false;
    }
    at += n;
  } while (at < count);
  return true;
}
