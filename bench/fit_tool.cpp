// The re-encoding stages on files, for the tests and benchmarks that compare them with sox and
// ffmpeg:
//   fit_tool decode IN.wav OUT.f32              our decoders; prints "CHANNELS RATE FRAMES SHORT"
//   fit_tool fit IN.wav OUT.wav CH RATE ALIGN [PATHS]   IMA ADPCM of that layout; prints frames
//   fit_tool stages IN.wav OUT.wav CH RATE      the float sound --fit encodes; prints frames
//   fit_tool snr REF.f32 TEST.f32 CHANNELS      prints "DB REF_FRAMES TEST_FRAMES"
//   fit_tool resample                           libsoxr's recipes: quality and speed
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "sound/decoder.h"
#include "sound/ima.h"
#include "sound/ima_encoder.h"
#include "sound/riff.h"
#include "sound/stages.h"
#include "sound/wave.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes bytes(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}
void Put(Bytes& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
int Fail(const std::string& why) {
  std::cerr << "fit_tool: " << why << "\n";
  return 2;
}

// Decodes a whole WAVE file, handing frames to `take`.
bool Decode(const std::string& path, WaveFormat& format, const TakeFrames& take,
            DecodeResult& result) {
  const Bytes file = ReadAll(path);
  const ReadAt readAt = [&file](std::uint64_t offset, void* buffer, std::uint32_t count) {
    const auto n = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(count, file.size() - std::min<std::uint64_t>(offset, file.size())));
    if (n > 0) std::memcpy(buffer, file.data() + offset, n);
    return n;
  };
  const RiffWalk walk = WalkRiff(file.size(), readAt);
  format = ReadWave(walk, readAt);
  if (!format.hasFormat || walk.Find("data") == nullptr)
    return Fail(path + ": no format or data chunk") == 0;
  std::string refusal;
  const auto decoder = MakeDecoder(format, refusal);
  if (!decoder) return Fail(refusal) == 0;
  std::size_t read = format.dataAt;
  result = DecodeData(
      *decoder, format, format.dataInFile,
      [&](std::uint8_t* buffer, std::size_t count) {
        count = std::min(count, file.size() - read);
        std::memcpy(buffer, file.data() + read, count);
        read += count;
        return count;
      },
      take);
  return true;
}

int DecodeCommand(const std::string& in, const std::string& outPath) {
  std::ofstream out(outPath, std::ios::binary);
  WaveFormat format;
  DecodeResult result;
  if (!Decode(
          in, format,
          [&](const float* frames, std::size_t count) {
            out.write(reinterpret_cast<const char*>(frames),
                      static_cast<std::streamsize>(count * format.channels * sizeof(float)));
            return true;
          },
          result))
    return 2;
  std::cout << format.channels << " " << format.sampleRate << " " << result.frames << " "
            << (result.shortData ? "short" : "whole") << "\n";
  return 0;
}

// The start of a WAVE file whose data chunk, `dataSize` bytes, follows: its format chunk (`extra`
// after the common 16 bytes) and a fact chunk.
Bytes WaveHeader(std::uint32_t formatTag, std::uint16_t channels, std::uint32_t rate,
                 std::uint32_t byteRate, std::uint16_t blockAlign, std::uint16_t bits,
                 const Bytes& extra, std::uint32_t frames, std::uint32_t dataSize) {
  Bytes format;
  Put(format, formatTag | static_cast<std::uint32_t>(channels) << 16, 4);
  Put(format, rate, 4);
  Put(format, byteRate, 4);
  Put(format, blockAlign | static_cast<std::uint32_t>(bits) << 16, 4);
  format.insert(format.end(), extra.begin(), extra.end());
  Bytes file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  const auto chunk = [&file](const char* id, const Bytes& body, std::uint32_t size) {
    const Bytes header = ChunkHeader(id, size);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), body.begin(), body.end());
  };
  Bytes count;
  Put(count, frames, 4);
  chunk("fmt ", format, static_cast<std::uint32_t>(format.size()));
  chunk("fact", count, 4);
  chunk("data", {}, dataSize);
  PutLe32(file.data() + 4, static_cast<std::uint32_t>(file.size() - 8 + dataSize));
  return file;
}

void Write(std::ofstream& out, const Bytes& bytes) {
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// Runs the channel and rate stages of --fit over `in`, handing the float frames to `take`.
bool RunStages(const std::string& in, std::uint16_t channels, std::uint32_t rate,
               const std::function<void(const float*, std::size_t)>& take) {
  std::unique_ptr<Stages> stages;  // made once the format is read
  WaveFormat format;
  DecodeResult result;
  const auto stage = [&](const float* frames, std::size_t count, bool last) {
    if (!stages)
      stages = std::make_unique<Stages>(format.channels, format.channelMask, format.sampleRate,
                                        channels, rate);
    return stages->Process(frames, count, last, [&](const float* sound, std::size_t n) {
      take(sound, n);
      return true;
    });
  };
  if (!Decode(
          in, format, [&](const float* f, std::size_t n) { return stage(f, n, false); }, result))
    return false;
  if (!stage(nullptr, 0, true)) return Fail(stages->Error()) == 0;
  return true;
}

int FitCommand(const std::string& in, const std::string& outPath, const ImaLayout& layout,
               std::uint32_t rate, int paths) {
  if (const std::string why = CheckImaLayout(layout); !why.empty()) return Fail(why);
  ImaEncoder encoder(layout, paths);
  Bytes blocks;
  if (!RunStages(in, layout.channels, rate, [&](const float* frames, std::size_t count) {
        encoder.Encode(frames, count, blocks);
      }))
    return 2;
  const std::uint64_t frames = encoder.Finish(blocks);
  const std::uint32_t perBlock = ImaCapacity(layout.channels, layout.blockAlign);
  Bytes extra;
  Put(extra, 2U | perBlock << 16, 4);
  std::ofstream out(outPath, std::ios::binary);
  Write(out,
        WaveHeader(kWavFormatTag, layout.channels, rate,
                   static_cast<std::uint32_t>(std::uint64_t{rate} * layout.blockAlign / perBlock),
                   layout.blockAlign, 4, extra, static_cast<std::uint32_t>(frames),
                   static_cast<std::uint32_t>(blocks.size())));
  Write(out, blocks);
  std::cout << frames << "\n";
  return 0;
}

int StagesCommand(const std::string& in, const std::string& outPath, std::uint16_t channels,
                  std::uint32_t rate) {
  // Streamed, its sizes filled in at the end, so that timing it times the stages.
  std::ofstream out(outPath, std::ios::binary);
  const auto header = [&](std::uint64_t frames) {
    return WaveHeader(kTagFloat, channels, rate, rate * 4U * channels,
                      static_cast<std::uint16_t>(4 * channels), 32, {0, 0},
                      static_cast<std::uint32_t>(frames),
                      static_cast<std::uint32_t>(frames * channels * sizeof(float)));
  };
  Write(out, header(0));
  std::uint64_t frames = 0;
  if (!RunStages(in, channels, rate, [&](const float* samples, std::size_t count) {
        out.write(reinterpret_cast<const char*>(samples),
                  static_cast<std::streamsize>(count * channels * sizeof(float)));
        frames += count;
      }))
    return 2;
  out.seekp(0);
  Write(out, header(frames));
  std::cout << frames << "\n";
  return 0;
}

std::vector<float> ReadFloats(const std::string& path) {
  const Bytes bytes = ReadAll(path);
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

double SnrDb(const float* ref, const float* test, std::size_t n) {
  std::array<double, 2> sums{};  // of the reference's squares, of the differences' squares
  for (std::size_t i = 0; i < n; ++i) {
    const double value = ref[i], error = value - test[i];
    sums[0] += value * value;
    sums[1] += error * error;
  }
  return sums[1] == 0 ? 999.0 : 10 * std::log10(sums[0] / sums[1]);
}

int SnrCommand(const std::string& refPath, const std::string& testPath, int channels) {
  const std::vector<float> ref = ReadFloats(refPath), test = ReadFloats(testPath);
  std::printf("%.2f %zu %zu\n", SnrDb(ref.data(), test.data(), std::min(ref.size(), test.size())),
              ref.size() / channels, test.size() / channels);
  return 0;
}

// Tones below the lower rate's band edge, which must come through, and one above it, which must
// go: the figures are the passed tones' SNR against their ideal samples and how far the
// rejected one is pushed down.
int ResampleCommand() {
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> rates = {
      {48000, 44100}, {44100, 22050}, {48000, 11025}};
  const std::vector<std::pair<ResampleQuality, const char*>> qualities = {
      {ResampleQuality::VeryHigh, "SOXR_VHQ"},
      {ResampleQuality::High, "SOXR_HQ"},
      {ResampleQuality::Medium, "SOXR_MQ"},
      {ResampleQuality::Low, "SOXR_LQ"}};
  std::printf("%-20s %-13s %9s %11s %12s\n", "converter", "rates", "SNR dB", "alias dB",
              "x realtime");
  constexpr double kPi = 3.14159265358979323846;
  for (const auto& [from, to] : rates) {
    const std::size_t frames = from * 20;  // 20 seconds, stereo
    const std::vector<double> passed = {to * 0.02, to * 0.11, to * 0.29, to * 0.41};
    const double stopped = to * 0.5 + (from * 0.5 - to * 0.5) * 0.4;
    const auto make = [&](std::uint32_t rate, std::size_t n, bool withStopped) {
      std::vector<float> out;
      for (std::size_t i = 0; i < n; ++i) {
        double v = 0;
        for (const double f : passed) v += 0.2 * std::sin(2 * kPi * f * i / rate);
        if (withStopped) v += 0.2 * std::sin(2 * kPi * stopped * i / rate);
        out.push_back(static_cast<float>(v));
        out.push_back(static_cast<float>(v));
      }
      return out;
    };
    const std::vector<float> input = make(from, frames, false);
    const std::vector<float> alias = make(from, frames, true);
    for (const auto& [quality, name] : qualities) {
      std::vector<float> out, aliasOut;
      const auto into = [](std::vector<float>& sink) {
        return [&sink](const float* piece, std::size_t count) {
          sink.insert(sink.end(), piece, piece + 2 * count);
          return true;
        };
      };
      const auto start = std::chrono::steady_clock::now();
      Resampler(2, from, to, quality).Process(input.data(), frames, true, into(out));
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      Resampler(2, from, to, quality).Process(alias.data(), frames, true, into(aliasOut));
      const std::vector<float> ideal = make(to, out.size() / 2, false);
      const std::size_t edge = to * 2;  // both ends' filter transients left out
      const std::size_t n = out.size() - 2 * edge;
      const double snr = SnrDb(ideal.data() + edge, out.data() + edge, n);
      const double aliasDb = SnrDb(out.data() + edge, aliasOut.data() + edge, n);
      std::printf("%-20s %5u->%-6u %9.1f %11.1f %12.0f\n", name, from, to, snr, aliasDb,
                  20.0 / seconds);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "decode") return DecodeCommand(args[1], args[2]);
  if ((args.size() == 6 || args.size() == 7) && args[0] == "fit") {
    const auto channels = static_cast<std::uint16_t>(std::stoul(args[3]));
    const auto align = static_cast<std::uint16_t>(std::stoul(args[5]));
    // Every sample a block holds, stated in the header: a layout whose count a format chunk
    // cannot state is refused.
    const ImaLayout layout{channels, align, 0};
    return FitCommand(args[1], args[2], layout, static_cast<std::uint32_t>(std::stoul(args[4])),
                      args.size() == 7 ? std::stoi(args[6]) : ImaEncoder::kDefaultPaths);
  }
  if (args.size() == 5 && args[0] == "stages")
    return StagesCommand(args[1], args[2], static_cast<std::uint16_t>(std::stoul(args[3])),
                         static_cast<std::uint32_t>(std::stoul(args[4])));
  if (args.size() == 4 && args[0] == "snr") return SnrCommand(args[1], args[2], std::stoi(args[3]));
  if (args.size() == 1 && args[0] == "resample") return ResampleCommand();
  return Fail("usage: see the top of bench/fit_tool.cpp");
}
