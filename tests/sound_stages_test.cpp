// The channel stage's mixes, and the resampler's length, fidelity and refusals when fed in pieces.
#include "convert/sound_stages.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(SoundStages, MapsChannelsWithoutClipping) {
  struct Case {
    const char* name;
    std::uint16_t from, to;
    std::vector<float> in, out;
  } const cases[] = {
      {"mono to stereo", 1, 2, {0.5, -1}, {0.5, 0.5, -1, -1}},
      {"stereo to mono", 2, 1, {1, 1, 0.5, -0.25}, {1, 0.125}},
      {"the third channel shared by both", 3, 2, {1, 1, 1, 1, 0, 0.5}, {1, 1, 0.75, 0.25}},
      {"a missing channel gets the mean", 2, 3, {0.2F, 0.4F}, {0.2F, 0.4F, 0.3F}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<float> out = {9};  // appended to, never replaced
    MapChannels(test.in.data(), test.in.size() / test.from, test.from, test.to, out);
    ASSERT_EQ(out.size(), 1 + test.out.size());
    for (std::size_t i = 0; i < test.out.size(); ++i) EXPECT_FLOAT_EQ(out[1 + i], test.out[i]);
  }
}

TEST(SoundStages, ResamplesAStreamToItsLengthAndKeepsItsTones) {
  constexpr double kPi = 3.14159265358979323846;
  struct Case {
    std::uint32_t from, to;
    std::size_t frames, piece;
    double floorDb;  // of the tone against its ideal samples, the ends left out
  } const cases[] = {{44100, 22050, 44100, 777, 90},
                     {48000, 11025, 24000, 4096, 90},
                     {11025, 44100, 11025, 1000, 90},
                     {22050, 22050, 5000, 333, 999}};
  for (const Case& test : cases) {
    SCOPED_TRACE(std::to_string(test.from) + " to " + std::to_string(test.to));
    const auto tone = [&](std::uint32_t rate, std::size_t frames) {
      std::vector<float> out;  // 1 kHz on the left, 2.5 kHz on the right
      for (std::size_t i = 0; i < frames; ++i)
        for (const double hz : {1000.0, 2500.0})
          out.push_back(static_cast<float>(0.5 * std::sin(2 * kPi * hz * i / rate)));
      return out;
    };
    const std::vector<float> in = tone(test.from, test.frames);
    Resampler resampler(2, test.from, test.to);
    ASSERT_EQ(resampler.Error(), "");
    std::vector<float> out;
    for (std::size_t at = 0; at < test.frames; at += test.piece) {
      const std::size_t count = std::min(test.piece, test.frames - at);
      ASSERT_TRUE(resampler.Process(in.data() + 2 * at, count, false, out));
    }
    ASSERT_TRUE(resampler.Process(nullptr, 0, true, out));
    const auto frames =
        static_cast<std::size_t>(std::lround(1.0 * test.frames * test.to / test.from));
    ASSERT_EQ(out.size(), 2 * frames);
    const std::vector<float> ideal = tone(test.to, frames);
    double signal = 0, noise = 0;
    for (std::size_t i = frames / 10 * 2; i < frames / 10 * 18; ++i) {
      signal += ideal[i] * ideal[i];
      noise += (ideal[i] - out[i]) * (ideal[i] - out[i]);
    }
    EXPECT_GE(noise == 0 ? 999 : 10 * std::log10(signal / noise), test.floorDb);
  }
}

TEST(SoundStages, RefusesRatesTooFarApart) {
  Resampler resampler(1, 1000, 384000);
  EXPECT_EQ(resampler.Error(), "sample rates 1000 and 384000 Hz are too far apart");
  std::vector<float> out;
  const float frame = 0;
  EXPECT_FALSE(resampler.Process(&frame, 1, true, out));
}
