// The decoders on samples worked out by hand, whole, a byte at a time and cut short; the format
// chunk's reading; what is refused and how it is named.
#include "convert/sound_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "fakes/fakes.h"

static Bytes FloatBytes(float a, float b) {
  Bytes out(8);
  std::memcpy(out.data(), &a, 4);
  std::memcpy(out.data() + 4, &b, 4);
  return out;
}
static Bytes DoubleBytes(double value) {
  Bytes out(8);
  std::memcpy(out.data(), &value, 8);
  return out;
}

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

TEST(SoundDecoder, DecodesEachFormatWholeInPiecesAndCut) {
  constexpr float k16 = 1.0F / 32768;
  struct Case {
    const char* name;
    SoundFormat format;  // tag, channels, rate, block align, bits
    Bytes data;
    std::vector<float> expected;
    std::size_t cutKeeps;  // of the expected samples, those a cut last byte leaves
  } const cases[] = {
      {"PCM 8 is unsigned",
       Format(kTagPcm, 2, 2, 8),
       {0x00, 0x80, 0xFF, 0x80},
       {-1, 0, 127 / 128.0F, 0},
       2},
      {"PCM 16", Format(kTagPcm, 2, 4, 16), {0x00, 0x80, 0xFF, 0x7F}, {-1, 32767 * k16}, 0},
      {"PCM 24 carries its sign",
       Format(kTagPcm, 1, 3, 24),
       {0, 0, 0x80, 0, 0, 0x40},
       {-1, 0.5},
       1},
      {"PCM 32", Format(kTagPcm, 1, 4, 32), {0, 0, 0, 0xC0}, {-0.5}, 0},
      {"float 32, NaN silenced",
       Format(kTagFloat, 1, 4, 32),
       FloatBytes(0.25F, std::numeric_limits<float>::quiet_NaN()),
       {0.25, 0},
       1},
      {"float 64", Format(kTagFloat, 1, 8, 64), DoubleBytes(-0.75), {-0.75}, 0},
      {"A-law",
       Format(kTagALaw, 2, 2, 8),
       {0xD5, 0x55, 0x2A, 0xD5},
       {8 * k16, -8 * k16, -32256 * k16, 8 * k16},
       2},
      {"u-law",
       Format(kTagMuLaw, 2, 2, 8),
       {0xFF, 0x00, 0x80, 0xFF},
       {0, -32124 * k16, 32124 * k16, 0},
       2},
      // Headers 1000 and -1000 at the smallest step; codes 7 (+11) and 15 (-11), then zeros.
      {"IMA ADPCM, two channels",
       Format(kTagIma, 2, 16, 4),
       {0xE8, 0x03, 0, 0, 0x18, 0xFC, 0, 0, 0x07, 0, 0, 0, 0x0F, 0, 0, 0},
       {1000 * k16, -1000 * k16, 1011 * k16, -1011 * k16, 1013 * k16, -1009 * k16, 1014 * k16,
        -1008 * k16, 1015 * k16, -1007 * k16, 1016 * k16, -1006 * k16, 1017 * k16, -1005 * k16,
        1018 * k16, -1004 * k16, 1019 * k16, -1003 * k16},
       2},
      // Pair 1 (2, -1) from step 16: older sample 50 first, then 100, then codes +1 and -1.
      {"MS ADPCM",
       Format(kTagMsAdpcm, 1, 8, 4),
       {1, 16, 0, 100, 0, 50, 0, 0x1F},
       {50 * k16, 100 * k16, 166 * k16, 216 * k16},
       2},
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

TEST(SoundDecoder, ReadsTheFormatChunk) {
  const auto body = [](std::uint16_t tag, Bytes extension) {
    extension.insert(extension.begin(), 16, 0);
    return Poke(Poke(extension, 0, tag, 2), 2, 1, 2);
  };
  const Bytes guid = {0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  Bytes extensible = {22, 0, 24, 0, 4, 0, 0, 0, 3, 0, 0, 0};  // floats in front centre
  extensible.insert(extensible.end(), guid.begin(), guid.end());
  Bytes foreign = extensible;
  foreign.back() = 0x72;
  struct Case {
    const char* name;
    Bytes body;
    bool read;
    std::uint16_t tag;
    std::vector<std::int16_t> coefficients;
  } const cases[] = {
      {"the plain 16 bytes", body(kTagPcm, {}), true, kTagPcm, {}},
      {"under 16 bytes", Bytes(15), false, 0, {}},
      {"an extension said longer than held", body(kTagIma, {4, 0, 1, 0}), false, 0, {}},
      {"extensible float", body(kTagExtensible, extensible), true, kTagFloat, {}},
      {"extensible of no known family", body(kTagExtensible, foreign), true, kTagExtensible, {}},
      {"MS ADPCM's own pairs",
       body(kTagMsAdpcm, {8, 0, 0xF4, 1, 1, 0, 0, 1, 0x80, 0xFF}),
       true,
       kTagMsAdpcm,
       {256, -128}},
      {"MS ADPCM listing more pairs than held",
       body(kTagMsAdpcm, {8, 0, 0xF4, 1, 2, 0, 0, 1, 0, 0}),
       false,
       0,
       {}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SoundFormat format;
    ASSERT_EQ(ParseFormatChunk(test.body.data(), test.body.size(), format), test.read);
    if (!test.read) continue;
    EXPECT_EQ(format.tag, test.tag);
    EXPECT_EQ(format.channels, 1);
    EXPECT_EQ(format.coefficients, test.coefficients);
  }
}

TEST(SoundDecoder, RefusesWhatItCannotReadByName) {
  struct Case {
    SoundFormat format;
    const char* refusal;
  } const cases[] = {
      {Format(0x0031, 1, 65, 0), "GSM 6.10 (0x0031) is not read"},
      {Format(0x1234, 1, 1, 8), "format 0x1234 is not read"},
      {Format(kTagPcm, 1, 2, 12), "PCM (0x0001) of 12 bits is not read"},
      {Format(kTagFloat, 0, 4, 32),
       "IEEE float (0x0003) with no channels or no sample rate is "
       "not read"},
      {Format(kTagIma, 2, 36, 4), "IMA ADPCM (0x0011) blocks of 36 bytes do not hold 2 channels"},
      {Format(kTagMsAdpcm, 3, 256, 4),
       "MS ADPCM (0x0002) blocks of 256 bytes do not hold 3 channels"},
  };
  for (const Case& test : cases) {
    std::string refusal;
    EXPECT_EQ(MakeDecoder(test.format, refusal), nullptr) << test.refusal;
    EXPECT_EQ(refusal, test.refusal);
  }
}

TEST(SoundDecoder, DataShorterThanSaidDecodesWhatItHolds) {
  std::string refusal;
  const auto decoder = MakeDecoder(Format(kTagPcm, 2, 4, 16), refusal);
  Bytes data(4 * 100001 + 2, 0x40);  // frames past one read piece, and half a frame
  std::size_t at = 0, taken = 0;
  const DecodeResult result = DecodeData(
      *decoder, 2, data.size() + 1000,
      [&](std::uint8_t* buffer, std::size_t count) {
        count = std::min(count, data.size() - at);
        std::copy_n(data.begin() + static_cast<long>(at), count, buffer);
        at += count;
        return count;
      },
      [&](const float* frames, std::size_t count) {
        EXPECT_EQ(frames[2 * count - 1], 0x4040 / 32768.0F);
        taken += count;
        return true;
      });
  EXPECT_EQ(result.frames, 100001U);
  EXPECT_EQ(taken, 100001U);
  EXPECT_TRUE(result.shortData);
  EXPECT_FALSE(result.stopped);
}
