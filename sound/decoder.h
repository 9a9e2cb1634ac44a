// Turns the data of a RIFF/WAVE file in any of the common sound formats into float frames, piece
// by piece, holding at most one block of the file at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sound/wave.h"

class SoundDecoder {
 public:
  virtual ~SoundDecoder() = default;
  // Appends the frames that `size` more data bytes complete to `frames`, interleaved; samples
  // of the integer formats lie in [-1, 1), float ones as stored, but infinities and NaN
  // become 0 and doubles beyond a float's range its largest.
  virtual void Feed(const std::uint8_t* data, std::size_t size, std::vector<float>& frames) = 0;
  // At the end of the data, appends what a last, shorter block holds; false when the data
  // stopped inside a frame, a block's header or one of its groups.
  virtual bool Finish(std::vector<float>& frames) = 0;
};

// A decoder for `format`, or null with `refusal` saying why, e.g. "GSM 6.10 (0x0031) is not
// read" or "block align 30 does not fit IMA ADPCM for 2 channels".
std::unique_ptr<SoundDecoder> MakeDecoder(const WaveFormat& format, std::string& refusal);

struct DecodedLength {
  std::uint64_t frames = 0;  // per channel
  bool whole = true;         // false when the bytes end inside a frame, header or group
};
// What the decoder makes of the first `bytes` of the data: ADPCM blocks of the samples the
// format states, the last one to the length a fact chunk gives where it ends inside that block.
// Zero frames for a format no decoder reads.
DecodedLength DecodedFrames(const WaveFormat& format, std::uint64_t bytes);

// Reads up to `count` more bytes of the data into `buffer`; returns how many (0 at its end).
using ReadMore = std::function<std::size_t(std::uint8_t* buffer, std::size_t count)>;
// Takes `count` decoded frames; false stops the decoding.
using TakeFrames = std::function<bool(const float* frames, std::size_t count)>;

struct DecodeResult {
  std::uint64_t frames = 0;  // handed to the taker
  bool shortData = false;    // fewer bytes than `dataSize`, or a cut block or frame
  bool stopped = false;      // the taker asked to stop
};
// Feeds `decoder` of `format` the `dataSize` bytes `read` gives, in pieces, handing each piece's
// frames on, at most the DecodedFrames of `dataSize`.
DecodeResult DecodeData(SoundDecoder& decoder, const WaveFormat& format, std::uint64_t dataSize,
                        const ReadMore& read, const TakeFrames& take);
