// The channel stage and the resampling stage, over libsamplerate's streaming calls.
#include "convert/sound_stages.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>

void MapChannels(const float* frames, std::size_t count, std::uint16_t from, std::uint16_t to,
                 std::vector<float>& out) {
  for (std::size_t f = 0; f < count; ++f, frames += from) {
    float sum = 0;
    for (std::size_t c = 0; c < from; ++c) sum += frames[c];
    float shared = 0;
    for (std::size_t c = to; c < from; ++c) shared += frames[c];
    for (std::size_t k = 0; k < to; ++k) {
      if (from == 1) {
        out.push_back(frames[0]);
      } else if (k >= from) {
        out.push_back(sum / static_cast<float>(from));
      } else {
        const std::size_t mixed = from > to ? from - to + 1 : 1;
        out.push_back((frames[k] + shared) / static_cast<float>(mixed));
      }
    }
  }
}

Resampler::Resampler(std::uint16_t channels, std::uint32_t fromRate, std::uint32_t toRate,
                     ResampleQuality quality)
    : channels_(channels), ratio_(static_cast<double>(toRate) / fromRate) {
  if (fromRate == toRate) return;
  if (src_is_valid_ratio(ratio_) == 0) {
    error_ = "sample rates " + std::to_string(fromRate) + " and " + std::to_string(toRate) +
             " Hz are too far apart";
    return;
  }
  int code = 0;
  state_ = src_new(static_cast<int>(quality), channels, &code);
  if (state_ == nullptr) error_ = src_strerror(code);
}

Resampler::~Resampler() {
  if (state_ != nullptr) src_delete(static_cast<SRC_STATE*>(state_));
}

bool Resampler::Process(const float* frames, std::size_t count, bool last,
                        std::vector<float>& out) {
  if (!error_.empty()) return false;
  framesIn_ += count;
  if (state_ == nullptr) {  // the same rate: nothing to do
    out.insert(out.end(), frames, frames + count * channels_);
    return true;
  }
  // The length a whole stream comes to; the converter's own end may differ by a frame or two.
  const auto wanted =
      static_cast<std::uint64_t>(std::llround(static_cast<double>(framesIn_) * ratio_));
  constexpr long kRoom = 4096;
  const std::size_t start = out.size();
  static const float kNothing = 0;
  SRC_DATA data{};
  data.data_in = frames != nullptr ? frames : &kNothing;
  data.input_frames = static_cast<long>(count);
  data.src_ratio = ratio_;
  data.end_of_input = last ? 1 : 0;
  for (;;) {
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(kRoom) * channels_);
    data.data_out = out.data() + at;
    data.output_frames = kRoom;
    const int code = src_process(static_cast<SRC_STATE*>(state_), &data);
    out.resize(at + static_cast<std::size_t>(data.output_frames_gen) * channels_);
    if (code != 0) {
      error_ = src_strerror(code);
      return false;
    }
    framesOut_ += static_cast<std::uint64_t>(data.output_frames_gen);
    data.data_in += data.input_frames_used * channels_;
    data.input_frames -= data.input_frames_used;
    if (data.input_frames == 0 && data.output_frames_gen == 0) break;
    if (data.input_frames == 0 && !last) break;
  }
  if (!last) return true;
  // Trimmed within this call's output, or made up with its last frame.
  const std::size_t mine = (out.size() - start) / channels_;
  if (framesOut_ > wanted) {
    out.resize(out.size() - std::min<std::size_t>(framesOut_ - wanted, mine) * channels_);
  }
  for (; framesOut_ < wanted; ++framesOut_) {
    const bool any = out.size() >= channels_;
    const std::size_t from = any ? out.size() - channels_ : 0;
    for (std::size_t c = 0; c < channels_; ++c) out.push_back(any ? out[from + c] : 0.0F);
  }
  framesOut_ = wanted;
  return true;
}

Stages::Stages(std::uint16_t fromChannels, std::uint32_t fromRate, std::uint16_t toChannels,
               std::uint32_t toRate)
    : fromChannels_(fromChannels),
      toChannels_(toChannels),
      resampler_(toChannels, fromRate, toRate) {}

const std::vector<float>* Stages::Process(const float* frames, std::size_t count, bool last) {
  mapped_.clear();
  resampled_.clear();
  MapChannels(frames, count, fromChannels_, toChannels_, mapped_);
  return resampler_.Process(mapped_.data(), count, last, resampled_) ? &resampled_ : nullptr;
}
