// The channel stage's mixes, the resampler's length, fidelity and refusals when fed in pieces,
// and the stages' pieces bounded whatever the ratio of the rates.
#include "sound/stages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

// Front left alone in 5.1 (its mask or none), and the low-frequency channel alone.
TEST(Stages, MixesChannelsBySpeakerWithoutClipping) {
  const std::vector<float> frontLeft = {1, 0, 0, 0, 0, 0}, bass = {0, 0, 0, 1, 0, 0};
  struct Case {
    const char* name;
    std::uint16_t from;
    std::uint32_t mask;
    std::uint16_t to;
    std::vector<float> in, out;
  } const cases[] = {
      {"mono to stereo", 1, 0, 2, {0.5, -1}, {0.5, 0.5, -1, -1}},
      {"stereo to mono", 2, 0, 1, {1, 1, 0.5, -0.25}, {1, 0.125}},
      {"a centre to both sides", 3, 0, 2, {1, 1, 1, 1, 0, 0.5}, {1, 1, 0.79289F, 0.20711F}},
      {"5.1's front left to its side", 6, 0x3F, 2, frontLeft, {0.41421F, 0}},
      {"5.1 named by no mask", 6, 0, 2, frontLeft, {0.41421F, 0}},
      {"5.1's front left to mono", 6, 0x3F, 1, frontLeft, {0.20711F}},
      {"the low frequencies nowhere", 6, 0x3F, 2, bass, {0, 0}},
      {"a side left to its side", 4, 0x603, 2, {0, 0, 1, 0}, {0.41421F, 0}},
      {"a missing channel gets the mean", 2, 0, 3, {0.2F, 0.4F}, {0.2F, 0.4F, 0.3F}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<float> out = {9};  // appended to, never replaced
    ChannelMix(test.from, test.mask, test.to)
        .Apply(test.in.data(), test.in.size() / test.from, out);
    ASSERT_EQ(out.size(), 1 + test.out.size());
    for (std::size_t i = 0; i < test.out.size(); ++i) EXPECT_NEAR(out[1 + i], test.out[i], 1e-5);
  }
}

TEST(Stages, ResamplesAStreamToItsLengthAndKeepsItsTones) {
  constexpr double kPi = 3.14159265358979323846;
  struct Case {
    std::uint32_t from, to;
    std::size_t frames, piece;
    double floorDb;  // of the tone against its ideal samples, ends left out: 151+ dB, HQ's 135
  } const cases[] = {{44100, 22050, 44100, 777, 145},
                     {48000, 11025, 24000, 4096, 145},
                     {11025, 44100, 11025, 1000, 145},
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
    const TakeSound append = [&out](const float* frames, std::size_t count) {
      out.insert(out.end(), frames, frames + 2 * count);
      return true;
    };
    for (std::size_t at = 0; at < test.frames; at += test.piece) {
      const std::size_t count = std::min(test.piece, test.frames - at);
      ASSERT_TRUE(resampler.Process(in.data() + 2 * at, count, false, append));
    }
    ASSERT_TRUE(resampler.Process(nullptr, 0, true, append));
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

TEST(Stages, RefusesRatesTooFarApartAndTooManyChannels) {
  Resampler resampler(1, 1000, 384000);
  EXPECT_EQ(resampler.Error(), "sample rates 1000 and 384000 Hz are too far apart");
  const float frame = 0;
  EXPECT_FALSE(resampler.Process(&frame, 1, true, [](const float*, std::size_t) { return true; }));
  EXPECT_EQ(Stages(65, 0, 8000, 1, 8000).Error(), "65 channels are not mixed (1 to 64 are)");
}

// A second of a 200 Hz sound becomes 44100 frames, handed on a few thousand at a time.
TEST(Stages, HandOnBoundedPiecesWhateverTheRatio) {
  for (const auto& [from, to] : {std::pair{200u, 44100u}, std::pair{192000u, 11025u}}) {
    const std::vector<float> second(2 * from, 0.25F);
    for (const bool inOneCall : {false, true}) {  // the end told with the input, or after it
      SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to) + (inOneCall ? ", one" : ""));
      Stages stages(2, 0, from, 1, to);
      double largest = 0, total = 0, sum = 0;
      const TakeSound take = [&](const float* piece, std::size_t count) {
        largest = std::max<double>(largest, count);
        total += count;
        sum = std::accumulate(piece, piece + count, sum);
        return true;
      };
      ASSERT_TRUE(stages.Process(second.data(), from, inOneCall, take));
      ASSERT_TRUE(inOneCall || stages.Process(nullptr, 0, true, take));
      EXPECT_EQ(total, to);
      EXPECT_NEAR(sum / to, 0.25, 0.01) << "the sound, not the end held";
      EXPECT_LE(largest, 8192u);
    }
  }
}
