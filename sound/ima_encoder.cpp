// A search over each block's codes, per channel, the step index of its header included, for the
// two ways players work out a code's change.
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
  std::int16_t predictor;
  std::int16_t multiplied;  // the predictor of a player that multiplies
  std::uint8_t index;
  std::uint8_t parent;  // its place among the previous sample's kept paths
  std::uint8_t code;
};
constexpr std::uint64_t kNoPath = UINT64_MAX;

// The place of a word's lowest set bit; every compiler that builds the program has the builtin.
int LowestBit(std::uint64_t bits) {
  return __builtin_ctzll(bits);
}

// Below this step index a path keeps a runner-up at its index. There every small code leads to
// the index below, so the paths of a quiet sound crowd into a few indexes, and one path each
// leaves the search next to none: a -48 dBFS tone came out 3.5 dB worse. Above it the
// runner-ups only cost time.
constexpr std::uint8_t kRunnerUpsBelow = 20;

// The kept paths' order: by cost, then step index, then best before runner-up, a total order, so
// that every build keeps the same paths and writes the same bytes.
constexpr std::uint64_t Rank(std::uint64_t cost, std::size_t index) {
  return cost << 8 | index;
}

// The rank below which `count` ranks keep only the `room` lowest; every rank is below kNoPath.
std::uint64_t Bar(std::uint64_t* ranks, std::size_t count, std::size_t room) {
  if (count <= room) return kNoPath;
  std::nth_element(ranks, ranks + room, ranks + count);
  return ranks[room];
}

// The codes for samples 1.. of `x`, and the step index to start from, that bring the decoded
// samples closest to `x` among the `paths` partial sequences kept at each sample: the cheapest
// sequence at each step index (a Viterbi search over the indexes, pruned to the cheapest).
void SearchCodes(const std::vector<int>& x, std::size_t paths, std::vector<std::uint8_t>& codes,
                 std::vector<std::uint8_t>& trail, int& startIndex) {
  std::array<Path, kSteps> best, runnerUp;  // the next sample's paths, by step index
  for (std::size_t i = 0; i < kSteps; ++i) best[i].cost = runnerUp[i].cost = kNoPath;
  std::array<Path, 2 * kSteps> kept[2];
  Path* now = kept[0].data();
  Path* next = kept[1].data();
  // The first sample's paths, one per step index, in index order.
  std::size_t nowCount = kSteps;
  const auto first = static_cast<std::int16_t>(x[0]);
  for (std::size_t i = 0; i < kSteps; ++i)
    now[i] = {0, first, first, static_cast<std::uint8_t>(i), 0, 0};
  const std::size_t width = std::max(paths, kSteps);
  trail.resize(x.size() * 2 * width);
  std::array<std::uint64_t, kSteps> ranks{};
  std::array<std::uint8_t, kSteps> indexes{};
  for (std::size_t t = 1; t < x.size(); ++t) {
    const int target = x[t];
    std::array<std::uint64_t, 2> reached{};  // the step indexes reached, a bit each
    std::size_t runnerUps = 0;
    for (std::size_t p = 0; p < nowCount; ++p) {
      const Path& from = now[p];
      // The nearest code's magnitude, four times the distance in steps, by a multiplication
      // rather than a division, and the next larger code: the one that overshoots but grows the
      // step sooner. The code below the nearest seldom led anywhere closer.
      const int between = (from.predictor + from.multiplied) / 2;
      const int sign = target >= between ? 0 : 8;
      const auto distance = static_cast<std::uint32_t>(std::abs(target - between));
      const int nearest =
          std::min(7, static_cast<int>(distance * kMoves.quarter[from.index] >> 16));
      const int* differences = kMoves.difference[from.index].data();
      const int* multiplied = kMoves.multiplied[from.index].data();
      const std::uint8_t* toIndex = kMoves.index[from.index].data();
      // Where the largest code runs into full scale, its overshoot costs nothing and the step
      // grows fastest.
      const int largest = from.predictor + (sign != 0 ? -differences[7] : differences[7]);
      const bool clips = nearest < 6 && (largest > 32767 || largest < -32768);
      const int tries[3] = {nearest, nearest + 1, 7};
      const int count = clips ? 3 : nearest < 7 ? 2 : 1;
      for (int k = 0; k < count; ++k) {
        const int magnitude = tries[k];
        const int change = differences[magnitude], otherChange = multiplied[magnitude];
        const int predictor =
            std::clamp(from.predictor + (sign != 0 ? -change : change), -32768, 32767);
        const int other =
            std::clamp(from.multiplied + (sign != 0 ? -otherChange : otherChange), -32768, 32767);
        const std::int64_t error = predictor - target, otherError = other - target;
        const std::uint64_t cost = from.cost + static_cast<std::uint64_t>(error * error) +
                                   static_cast<std::uint64_t>(otherError * otherError);
        const std::uint8_t index = toIndex[magnitude];
        Path& held = best[index];
        if (cost >= held.cost && index >= kRunnerUpsBelow) continue;
        const Path path{cost,
                        static_cast<std::int16_t>(predictor),
                        static_cast<std::int16_t>(other),
                        index,
                        static_cast<std::uint8_t>(p),
                        static_cast<std::uint8_t>(sign | magnitude)};
        const bool same = held.predictor == path.predictor && held.multiplied == path.multiplied;
        if (cost < held.cost) {
          reached[index >> 6] |= 1ULL << (index & 63);
          if (held.cost != kNoPath && index < kRunnerUpsBelow && !same) {
            runnerUps += runnerUp[index].cost == kNoPath ? 1 : 0;
            runnerUp[index] = held;
          }
          held = path;
        } else if (!same && cost < runnerUp[index].cost) {
          runnerUps += runnerUp[index].cost == kNoPath ? 1 : 0;
          runnerUp[index] = path;
        }
      }
    }
    // The reached indexes in order: the cheapest paths at them, then runner-ups in the room left,
    // ranked only where they do not all fit.
    std::size_t reachedCount = 0;
    for (std::size_t word = 0; word < reached.size(); ++word)
      for (std::uint64_t bits = reached[word]; bits != 0; bits &= bits - 1)
        indexes[reachedCount++] = static_cast<std::uint8_t>(64 * word + LowestBit(bits));
    std::uint64_t bestBar = kNoPath, runnerUpBar = kNoPath;
    if (reachedCount > paths) {
      for (std::size_t k = 0; k < reachedCount; ++k)
        ranks[k] = Rank(best[indexes[k]].cost, indexes[k]);
      bestBar = Bar(ranks.data(), reachedCount, paths);
    }
    const std::size_t room = reachedCount < paths ? paths - reachedCount : 0;
    if (runnerUps > room) {
      std::size_t ranked = 0;
      for (std::size_t k = 0; k < reachedCount; ++k)
        if (runnerUp[indexes[k]].cost != kNoPath)
          ranks[ranked++] = Rank(runnerUp[indexes[k]].cost, indexes[k]);
      runnerUpBar = Bar(ranks.data(), ranked, room);
    }
    std::size_t nextCount = 0;
    std::uint8_t* steps = trail.data() + 2 * t * width;
    const auto keep = [&](Path& path, std::uint64_t bar) {
      if (path.cost == kNoPath) return;  // a step index without a runner-up
      if (bar == kNoPath || Rank(path.cost, path.index) < bar) {
        steps[2 * nextCount] = path.parent;
        steps[2 * nextCount + 1] = path.code;
        next[nextCount++] = path;
      }
      path.cost = kNoPath;
    };
    for (std::size_t k = 0; k < reachedCount; ++k) {
      keep(best[indexes[k]], bestBar);
      if (indexes[k] < kRunnerUpsBelow) keep(runnerUp[indexes[k]], runnerUpBar);
    }
    std::swap(now, next);
    nowCount = nextCount;
  }
  std::size_t at = 0;  // the cheapest path of the last sample
  for (std::size_t k = 1; k < nowCount; ++k)
    if (now[k].cost < now[at].cost) at = k;
  codes.resize(x.size() - 1);
  for (std::size_t t = x.size() - 1; t > 0; --t) {
    codes[t - 1] = trail[2 * (t * width + at) + 1];
    at = trail[2 * (t * width + at)];
  }
  // The first sample's paths are in step index order.
  startIndex = static_cast<int>(at);
}

}  // namespace

std::string CheckImaLayout(const ImaLayout& layout) {
  return ImaFaultText(layout.channels, layout.blockAlign, 4, layout.samplesPerBlock);
}

ImaEncoder::ImaEncoder(const ImaLayout& layout, int paths)
    : layout_(layout),
      capacity_(ImaCapacity(layout.channels, layout.blockAlign)),
      paths_(static_cast<std::size_t>(std::clamp(paths, 1, kMaxPaths))) {
  layout_.samplesPerBlock =
      ImaBlockSamples(layout.channels, layout.blockAlign, layout.samplesPerBlock);
  pending_.reserve(static_cast<std::size_t>(layout_.samplesPerBlock) * layout.channels);
}

void ImaEncoder::Encode(const float* frames, std::size_t count, std::vector<std::uint8_t>& out) {
  const std::size_t blockSamples =
      static_cast<std::size_t>(layout_.samplesPerBlock) * layout_.channels;
  for (std::size_t i = 0; i < count * layout_.channels; ++i) {
    // Rounded half away from zero, as lround would, without its call for every sample;
    // each branch adds the half to a value that is not negative, so truncation rounds.
    const float scaled = std::clamp(frames[i], -1.0F, 1.0F) * 32768.0F;
    const float magnitude = std::fabs(scaled) + 0.5F;
    const int rounded = static_cast<int>(std::floor(magnitude)) * (scaled < 0 ? -1 : 1);
    pending_.push_back(static_cast<std::int16_t>(std::min(rounded, 32767)));
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
    SearchCodes(x, paths_, codes, trail_, startIndex);
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
