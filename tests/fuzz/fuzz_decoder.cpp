// Fuzzes the decoders: a format chunk of the first byte's length, a piece size, then the data.
#include <cmath>

#include "fuzz/check.h"
#include "sound/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size < 2U + data[0]) return 0;
  WaveFormat format;
  std::string refusal;
  if (!ParseFormatChunk(data + 1, data[0], format)) return 0;
  const std::size_t piece = data[1 + data[0]] + 1U, at = 2U + data[0];
  std::vector<float> whole, pieces;
  bool ended = false;
  for (std::vector<float>* out : {&whole, &pieces}) {
    const auto decoder = MakeDecoder(format, refusal);
    if (!decoder) return 0;
    const std::size_t step = out == &whole ? size : piece;
    for (std::size_t from = at; from < size; from += step)
      decoder->Feed(data + from, std::min(step, size - from), *out);
    ended = decoder->Finish(*out);
  }
  Check(whole.size() == pieces.size() && std::equal(whole.begin(), whole.end(), pieces.begin()),
        "the pieces the data comes in change nothing");
  format.hasFact = false;
  const DecodedLength length = DecodedFrames(format, size - at);
  Check(whole.size() == length.frames * format.channels && ended == length.whole,
        "the decoder gives what the count says");
  Check(whole.size() <= 2 * (size - at) + 2U * format.channels, "no more samples than nibbles");
  for (const float sample : whole)
    Check(std::isfinite(sample) && (format.tag == kTagFloat || std::fabs(sample) <= 1),
          "samples are numbers within full scale");
  return 0;
}
