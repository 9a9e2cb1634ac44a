// Turns the data of a RIFF/WAVE file in any of the common sound formats into float frames, piece
// by piece, holding at most one block of the file at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What a decoder needs of a format chunk.
struct SoundFormat {
  std::uint16_t tag = 0;  // of an extensible format, its sub-format's tag
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bitsPerSample = 0;
  std::vector<std::int16_t> coefficients;  // MS ADPCM's predictor pairs, flattened
};

constexpr std::uint16_t kTagPcm = 0x0001, kTagMsAdpcm = 0x0002, kTagFloat = 0x0003,
                        kTagALaw = 0x0006, kTagMuLaw = 0x0007, kTagIma = 0x0011,
                        kTagExtensible = 0xFFFE;

// Reads a format chunk's `size`-byte body; false when it is under 16 bytes or its extension
// says more than it holds. An extensible format with an unknown sub-format keeps tag 0xFFFE.
bool ParseFormatChunk(const std::uint8_t* body, std::size_t size, SoundFormat& format);

// The format's name and tag for the user, e.g. "GSM 6.10 (0x0031)".
std::string TagText(std::uint16_t tag);

class SoundDecoder {
 public:
  virtual ~SoundDecoder() = default;
  // Appends the frames that `size` more data bytes complete to `frames`, interleaved; samples
  // of the integer formats lie in [-1, 1), float ones as stored, but infinities and NaN
  // become 0 and doubles beyond a float's range its largest.
  virtual void Feed(const std::uint8_t* data, std::size_t size, std::vector<float>& frames) = 0;
  // At the end of the data, appends what a partial block holds; false when the data stopped
  // inside a block or frame.
  virtual bool Finish(std::vector<float>& frames) = 0;
};

// A decoder for `format`, or null with `refusal` saying why, e.g. "GSM 6.10 (0x0031) is not
// read" or "IMA ADPCM blocks of 30 bytes do not hold 2 channels".
std::unique_ptr<SoundDecoder> MakeDecoder(const SoundFormat& format, std::string& refusal);

// Reads up to `count` more bytes of the data into `buffer`; returns how many (0 at its end).
using ReadMore = std::function<std::size_t(std::uint8_t* buffer, std::size_t count)>;
// Takes `count` decoded frames; false stops the decoding.
using TakeFrames = std::function<bool(const float* frames, std::size_t count)>;

struct DecodeResult {
  std::uint64_t frames = 0;  // handed to the taker
  bool shortData = false;    // fewer bytes than `dataSize`, or a cut block or frame
  bool stopped = false;      // the taker asked to stop
};
// Feeds `decoder` the `dataSize` bytes `read` gives, in pieces, handing each piece's frames on.
DecodeResult DecodeData(SoundDecoder& decoder, std::uint16_t channels, std::uint64_t dataSize,
                        const ReadMore& read, const TakeFrames& take);
