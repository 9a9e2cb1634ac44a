// Beam search over each block's codes, per channel, the step index of its header included.
#include "convert/ima_encoder.h"

#include <algorithm>
#include <cmath>

#include "convert/ima_tables.h"

namespace {

struct Node {
  ImaState state;
  std::uint64_t cost = 0;  // squared error so far
  int parent = -1;         // in the previous sample's beam
  int code = 0;
};

// The codes for samples 1.. of `x`, and the step index to start from, that bring the decoded
// samples closest to `x` among the `beam` best partial sequences kept at each sample.
std::vector<std::uint8_t> SearchCodes(const std::vector<int>& x, std::size_t beam,
                                      int& startIndex) {
  // Every sample's kept nodes, one after another; `begins[t]` is where sample t's start.
  std::vector<Node> nodes;
  nodes.reserve(kImaMaxIndex + 1 + x.size() * beam);
  std::vector<std::size_t> begins = {0};
  for (int index = 0; index <= kImaMaxIndex; ++index) nodes.push_back({{x[0], index}});
  std::vector<Node> next;
  for (std::size_t t = 1; t < x.size(); ++t) {
    const std::size_t from = begins.back(), to = nodes.size();
    begins.push_back(to);
    next.clear();
    for (std::size_t p = from; p < to; ++p) {
      // Only the codes around the one nearest the sample, and the smallest step the other way
      // (which lowers the step size), can lead anywhere good; the rest cost the search its time.
      const int predictor = nodes[p].state.predictor;
      const int sign = x[t] >= predictor ? 0 : 8;
      const int step = kImaSteps[static_cast<std::size_t>(nodes[p].state.index)];
      const int nearest = std::min(7, 4 * std::abs(x[t] - predictor) / step);
      const int codes[] = {sign | std::max(0, nearest - 1), sign | nearest,
                           sign | std::min(7, nearest + 1), sign ^ 8};
      for (std::size_t k = 0; k < 4; ++k) {
        const int code = codes[k];
        if (k > 0 && code == codes[k - 1]) continue;
        ImaState state = nodes[p].state;
        const std::int64_t error = ImaStep(state, code) - x[t];
        next.push_back({state, nodes[p].cost + static_cast<std::uint64_t>(error * error),
                        static_cast<int>(p), code});
      }
    }
    const auto cheaper = [](const Node& a, const Node& b) { return a.cost < b.cost; };
    const auto sorted = next.begin() + static_cast<std::ptrdiff_t>(std::min(next.size(), 2 * beam));
    std::partial_sort(next.begin(), sorted, next.end(), cheaper);
    // Two sequences in the same state decode alike from here on: only the cheaper one matters.
    for (auto node = next.begin(); node != sorted && nodes.size() - to < beam; ++node) {
      const bool seen = std::any_of(
          nodes.begin() + static_cast<std::ptrdiff_t>(to), nodes.end(), [&](const Node& k) {
            return k.state.predictor == node->state.predictor && k.state.index == node->state.index;
          });
      if (!seen) nodes.push_back(*node);
    }
  }
  std::vector<std::uint8_t> codes(x.size() - 1);
  std::size_t at = begins.back();  // each sample's nodes are sorted by cost: the first is best
  for (std::size_t t = x.size() - 1; t > 0; --t) {
    codes[t - 1] = static_cast<std::uint8_t>(nodes[at].code);
    at = static_cast<std::size_t>(nodes[at].parent);
  }
  startIndex = nodes[at].state.index;
  return codes;
}

}  // namespace

std::uint32_t ImaBlockCapacity(std::uint16_t channels, std::uint16_t blockAlign) {
  if (channels == 0) return 0;
  return (blockAlign / channels - 4U) * 2U + 1U;
}

std::string CheckImaLayout(const ImaLayout& layout) {
  const std::size_t header = std::size_t{4} * layout.channels;
  if (layout.channels == 0 || layout.blockAlign <= header || layout.blockAlign % header != 0)
    return "blocks of " + std::to_string(layout.blockAlign) + " bytes are no whole number of " +
           std::to_string(header) + "-byte groups after the headers of " +
           std::to_string(layout.channels) + " channels";
  const std::uint32_t capacity = ImaBlockCapacity(layout.channels, layout.blockAlign);
  if (layout.samplesPerBlock == 0 || layout.samplesPerBlock > capacity)
    return std::to_string(layout.samplesPerBlock) + " samples per block where a block holds " +
           std::to_string(capacity);
  return "";
}

ImaEncoder::ImaEncoder(const ImaLayout& layout, int beam)
    : layout_(layout),
      capacity_(ImaBlockCapacity(layout.channels, layout.blockAlign)),
      beam_(std::max(1, beam)) {
  pending_.reserve(static_cast<std::size_t>(layout.samplesPerBlock) * layout.channels);
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
  std::vector<int> x(capacity_);
  for (std::size_t c = 0; c < ch; ++c) {
    // A block is decoded whole: the samples past the sound's end, and past the samples per block
    // the format states, repeat the last one, the cheapest to reach.
    for (std::size_t i = 0; i < capacity_; ++i) x[i] = pending_[std::min(i, frames - 1) * ch + c];
    int startIndex = 0;
    const std::vector<std::uint8_t> codes =
        SearchCodes(x, static_cast<std::size_t>(beam_), startIndex);
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
