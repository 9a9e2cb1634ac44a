// Beam search over each block's codes, per channel, the step index of its header included, for
// the two ways players work out a code's change.
#include "sound/ima_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "sound/ima.h"

namespace {

// What one code does from each step index, worked out once: the difference it adds or takes away
// and the step index it leads to.
//
// Players work out the difference in one of two ways: as the reference decoder does, adding the
// step's halves (ours, sox), or by one multiplication, (2 * magnitude + 1) * step / 8 rounded down
// (ffmpeg). The two differ by a level or two per sample, which adds up over a block: a search for
// one alone lets the other drift, up to 6 dB worse over a 2041-sample block. So every path tracks
// both players' samples and costs the errors of both.
constexpr std::size_t kSteps = kImaSteps.size();
struct Moves {
  std::array<std::array<int, 8>, kSteps> difference{};
  std::array<std::array<int, 8>, kSteps> multiplied{};
  std::array<std::array<std::uint8_t, 8>, kSteps> index{};
  std::array<std::uint32_t, kSteps> quarter{};  // 4 / step, in 16.16 fixed point
  constexpr Moves() {
    for (std::size_t i = 0; i < kSteps; ++i) {
      for (std::size_t code = 0; code < 8; ++code) {
        difference[i][code] = ImaDifference(kImaSteps[i], static_cast<int>(code));
        multiplied[i][code] = static_cast<int>(2 * code + 1) * kImaSteps[i] >> 3;
        index[i][code] = static_cast<std::uint8_t>(
            std::clamp(static_cast<int>(i) + kImaIndexMoves[code], 0, kImaMaxIndex));
      }
      quarter[i] = (4U << 16) / static_cast<std::uint32_t>(kImaSteps[i]);
    }
  }
};
constexpr Moves kMoves;

// A partial code sequence: where it leaves both kinds of player, what it has cost, how it got
// there.
struct Path {
  std::uint64_t cost;  // squared errors so far, of both players
  std::int32_t predictor;
  std::int32_t multiplied;  // the predictor of a player that multiplies
  std::uint8_t index;
  std::uint8_t parent;  // its place among the previous sample's kept paths
  std::uint8_t code;
};

// At most this many kept paths share a step index, so that the search keeps sequences whose
// step sizes differ, not only near copies of the best one.
constexpr int kPerIndex = 2;

static_assert(ImaEncoder::kMaxBeam <= static_cast<int>(kSteps),
              "every search keeps at most as many paths as its first sample has");

// The kept paths of one sample, cheapest first, at most `beam` of them.
class Kept {
 public:
  explicit Kept(std::size_t beam) : beam_(beam) {}
  void Clear() {
    size_ = 0;
    bar_ = UINT64_MAX;
  }
  std::size_t Size() const { return size_; }
  const Path& operator[](std::size_t k) const { return paths_[k]; }
  // The cost a new path must come under to be kept.
  std::uint64_t Bar() const { return bar_; }

  void Offer(const Path& path) {
    if (path.cost >= Bar()) return;
    // A kept path in the same state decodes alike from here on, and a step index already kept
    // kPerIndex times gives up its costliest: either way one path goes.
    std::size_t same = size_, sharing = 0, costliest = size_;
    for (std::size_t k = 0; k < size_; ++k) {
      if (paths_[k].index != path.index) continue;
      ++sharing;
      costliest = k;
      if (paths_[k].predictor == path.predictor && paths_[k].multiplied == path.multiplied)
        same = k;
    }
    std::size_t gone = size_;
    if (same < size_) {
      if (paths_[same].cost <= path.cost) return;
      gone = same;
    } else if (sharing >= kPerIndex) {
      if (paths_[costliest].cost <= path.cost) return;
      gone = costliest;
    } else if (size_ == beam_) {
      gone = size_ - 1;
    }
    if (gone == size_) ++size_;
    std::size_t at = gone;
    for (; at > 0 && paths_[at - 1].cost > path.cost; --at) paths_[at] = paths_[at - 1];
    for (; at + 1 < size_ && paths_[at + 1].cost < path.cost; ++at) paths_[at] = paths_[at + 1];
    paths_[at] = path;
    if (size_ == beam_) bar_ = paths_[size_ - 1].cost;
  }

 private:
  std::array<Path, kSteps> paths_{};
  std::size_t beam_;
  std::size_t size_ = 0;
  std::uint64_t bar_ = UINT64_MAX;
};

// The codes for samples 1.. of `x`, and the step index to start from, that bring the decoded
// samples closest to `x` among the `beam` best partial sequences kept at each sample.
void SearchCodes(const std::vector<int>& x, std::size_t beam, std::vector<std::uint8_t>& codes,
                 std::vector<std::uint8_t>& trail, int& startIndex) {
  // The first sample's paths, one per step index, and two sets of `beam` taking turns after it.
  Kept first(kSteps), even(beam), odd(beam);
  for (std::size_t index = 0; index < kSteps; ++index)
    first.Offer({0, x[0], x[0], static_cast<std::uint8_t>(index), 0, 0});
  Kept* now = &first;
  trail.resize(x.size() * 2 * beam);
  for (std::size_t t = 1; t < x.size(); ++t) {
    Kept& next = t % 2 == 0 ? even : odd;
    next.Clear();
    const int target = x[t];
    for (std::size_t p = 0; p < now->Size() && (*now)[p].cost < next.Bar(); ++p) {
      const Path& from = (*now)[p];
      // The nearest code's magnitude, four times the distance in steps, by a multiplication
      // rather than a division: within one of the exact one, which the codes tried around it
      // make up for.
      const int between = (from.predictor + from.multiplied) / 2;
      const int sign = target >= between ? 0 : 8;
      const auto distance = static_cast<std::uint32_t>(std::abs(target - between));
      const int nearest =
          std::min(7, static_cast<int>(distance * kMoves.quarter[from.index] >> 16));
      // The codes around the nearest one, and the largest where it runs into full scale: there
      // its overshoot costs nothing and the step grows fastest. Others were tried and never
      // found a closer sequence.
      const auto& differences = kMoves.difference[from.index];
      const auto& multiplied = kMoves.multiplied[from.index];
      const auto& indexes = kMoves.index[from.index];
      std::array<int, 4> tried{};
      std::size_t count = 0;
      for (int magnitude = std::max(0, nearest - 1); magnitude <= std::min(7, nearest + 1);)
        tried[count++] = magnitude++;
      const int largest = from.predictor + (sign != 0 ? -differences[7] : differences[7]);
      if (nearest + 1 < 7 && (largest > 32767 || largest < -32768)) tried[count++] = 7;
      for (std::size_t k = 0; k < count; ++k) {
        const auto magnitude = static_cast<std::size_t>(tried[k]);
        const int code = sign | tried[k];
        const auto move = [&](int predictor, int difference) {
          return std::clamp(predictor + (sign != 0 ? -difference : difference), -32768, 32767);
        };
        const int predictor = move(from.predictor, differences[magnitude]);
        const int other = move(from.multiplied, multiplied[magnitude]);
        const std::int64_t error = predictor - target, otherError = other - target;
        const std::uint64_t cost = from.cost + static_cast<std::uint64_t>(error * error) +
                                   static_cast<std::uint64_t>(otherError * otherError);
        next.Offer({cost, predictor, other, indexes[static_cast<std::size_t>(tried[k])],
                    static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(code)});
      }
    }
    for (std::size_t k = 0; k < next.Size(); ++k) {
      trail[2 * (t * beam + k)] = next[k].parent;
      trail[2 * (t * beam + k) + 1] = next[k].code;
    }
    now = &next;
  }
  codes.resize(x.size() - 1);
  std::size_t at = 0;  // the cheapest path of the last sample
  for (std::size_t t = x.size() - 1; t > 0; --t) {
    codes[t - 1] = trail[2 * (t * beam + at) + 1];
    at = trail[2 * (t * beam + at)];
  }
  // The first sample's paths were offered in step index order and none was refused.
  startIndex = static_cast<int>(at);
}

}  // namespace

std::string CheckImaLayout(const ImaLayout& layout) {
  return ImaFaultText(ImaLayoutFault(layout.channels, layout.blockAlign, 4, layout.samplesPerBlock),
                      layout.channels, layout.blockAlign, 4, layout.samplesPerBlock);
}

ImaEncoder::ImaEncoder(const ImaLayout& layout, int beam)
    : layout_(layout),
      capacity_(ImaCapacity(layout.channels, layout.blockAlign)),
      beam_(std::clamp(beam, 1, kMaxBeam)) {
  layout_.samplesPerBlock =
      ImaBlockSamples(layout.channels, layout.blockAlign, layout.samplesPerBlock);
  pending_.reserve(static_cast<std::size_t>(layout_.samplesPerBlock) * layout.channels);
}

void ImaEncoder::Encode(const float* frames, std::size_t count, std::vector<std::uint8_t>& out) {
  const std::size_t blockSamples =
      static_cast<std::size_t>(layout_.samplesPerBlock) * layout_.channels;
  for (std::size_t i = 0; i < count * layout_.channels; ++i) {
    const float clipped = std::clamp(frames[i], -1.0F, 1.0F);
    pending_.push_back(
        static_cast<std::int16_t>(std::clamp(std::lround(clipped * 32768.0F), -32768L, 32767L)));
    if (pending_.size() == blockSamples) EncodeBlock(out);
  }
  frames_ += count;
}

std::uint64_t ImaEncoder::Finish(std::vector<std::uint8_t>& out) {
  if (!pending_.empty()) EncodeBlock(out);
  return frames_;
}

void ImaEncoder::EncodeBlock(std::vector<std::uint8_t>& out) {
  const std::size_t ch = layout_.channels, frames = pending_.size() / ch;
  const std::size_t at = out.size();
  out.resize(at + layout_.blockAlign);
  std::uint8_t* block = out.data() + at;
  std::vector<int>& x = samples_;
  x.resize(capacity_);
  for (std::size_t c = 0; c < ch; ++c) {
    // A block is decoded whole: the samples past the sound's end, and past the samples per block
    // the format states, repeat the last one, the cheapest to reach.
    for (std::size_t i = 0; i < capacity_; ++i) x[i] = pending_[std::min(i, frames - 1) * ch + c];
    int startIndex = 0;
    std::vector<std::uint8_t>& codes = codes_;
    SearchCodes(x, static_cast<std::size_t>(beam_), codes, trail_, startIndex);
    const auto first = static_cast<std::uint16_t>(x[0]);
    block[4 * c] = static_cast<std::uint8_t>(first & 0xFF);
    block[4 * c + 1] = static_cast<std::uint8_t>(first >> 8);
    block[4 * c + 2] = static_cast<std::uint8_t>(startIndex);
    for (std::size_t i = 0; i < codes.size(); ++i) {
      std::uint8_t& byte = block[4 * ch * (1 + i / 8) + 4 * c + i % 8 / 2];
      byte = static_cast<std::uint8_t>(byte | codes[i] << (i % 2 * 4));
    }
  }
  pending_.clear();
}
