// The decoders on samples worked out by hand, whole, a byte at a time and cut short; what is
// refused and how it is named. The fit suite compares every format with sox's and ffmpeg's.
#include "convert/sound_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "fakes/fakes.h"

static SoundFormat Format(std::uint16_t tag, std::uint16_t channels, std::uint16_t align,
                          std::uint16_t bits) {
  return {tag, channels, 8000, align, bits, {}};
}

static std::vector<float> Decode(const SoundFormat& format, const Bytes& data, std::size_t piece,
                                 bool& whole) {
  std::string refusal;
  const auto decoder = MakeDecoder(format, refusal);
  EXPECT_NE(decoder, nullptr) << refusal;
  if (!decoder) return {};
  std::vector<float> out;
  for (std::size_t at = 0; at < data.size(); at += piece)
    decoder->Feed(data.data() + at, std::min(piece, data.size() - at), out);
  whole = decoder->Finish(out);
  return out;
}

TEST(SoundDecoder, DecodesWholeInPiecesAndCut) {
  constexpr float k16 = 1.0F / 32768;
  Bytes floats(8);
  const float values[] = {0.25F, std::numeric_limits<float>::quiet_NaN()};
  std::memcpy(floats.data(), values, 8);
  struct Case {
    const char* name;
    SoundFormat format;  // tag, channels, block align, bits
    Bytes data;
    std::vector<float> expected;
    std::size_t cutKeeps;  // of the expected samples, those a cut last byte leaves
  } const cases[] = {
      {"float 32, NaN silenced", Format(kTagFloat, 1, 4, 32), floats, {0.25, 0}, 1},
      // Headers 1000 and -1000 at the smallest step; codes 7 (+11) and 15 (-11), then zeros.
      {"IMA ADPCM, two channels",
       Format(kTagIma, 2, 16, 4),
       {0xE8, 0x03, 0, 0, 0x18, 0xFC, 0, 0, 0x07, 0, 0, 0, 0x0F, 0, 0, 0},
       {1000 * k16, -1000 * k16, 1011 * k16, -1011 * k16, 1013 * k16, -1009 * k16, 1014 * k16,
        -1008 * k16, 1015 * k16, -1007 * k16, 1016 * k16, -1006 * k16, 1017 * k16, -1005 * k16,
        1018 * k16, -1004 * k16, 1019 * k16, -1003 * k16},
       2},
      // Pair 1 (2, -1) from step 16: older sample 50 first, then 100, then codes +1 and -1.
      {"MS ADPCM", Format(kTagMsAdpcm, 1, 8, 4), {1, 16, 0, 100, 0, 50, 0, 0x1F},
       {50 * k16, 100 * k16, 166 * k16, 216 * k16}, 2},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    bool whole = false;
    EXPECT_EQ(Decode(test.format, test.data, test.data.size(), whole), test.expected);
    EXPECT_TRUE(whole);
    EXPECT_EQ(Decode(test.format, test.data, 1, whole), test.expected) << "a byte at a time";
    const Bytes cut(test.data.begin(), test.data.end() - 1);
    const std::vector<float> kept(test.expected.begin(),
                                  test.expected.begin() + static_cast<long>(test.cutKeeps));
    EXPECT_EQ(Decode(test.format, cut, 3, whole), kept) << "cut by a byte";
    EXPECT_FALSE(whole);
  }
}

TEST(SoundDecoder, RefusesWhatItCannotReadByName) {
  struct Case {
    SoundFormat format;
    const char* refusal;
  } const cases[] = {
      {Format(0x0031, 1, 65, 0), "GSM 6.10 (0x0031) is not read"},
      {Format(kTagPcm, 1, 2, 12), "PCM (0x0001) of 12 bits is not read"},
      {Format(kTagIma, 2, 36, 4), "IMA ADPCM (0x0011) blocks of 36 bytes do not hold 2 channels"},
  };
  for (const Case& test : cases) {
    std::string refusal;
    EXPECT_EQ(MakeDecoder(test.format, refusal), nullptr) << test.refusal;
    EXPECT_EQ(refusal, test.refusal);
  }
}
