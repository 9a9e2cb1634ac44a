// Fitting a .wav to its .med: both files' chunks are walked, then one pass copies the .med's
// chunks in their order, puts the sound into the data chunk (its blocks as they are, or streamed
// through the decoder, the channel and rate stages and the encoder) and fills in the sizes once
// the sound's length is known.
#include "sound/fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "sound/decoder.h"
#include "sound/ima.h"
#include "sound/ima_encoder.h"
#include "sound/stages.h"
#include "sound/wave.h"

namespace {

// What a RIFF size and the seam's 32-bit offsets can state, as for every other output.
constexpr std::uint64_t kMaxOutputBytes = 0x7FFFFFFF;
// A loop chunk's loops and a cue chunk's points: their records, and the fields before them.
constexpr std::uint32_t kPointRecordBytes = 24;
constexpr std::uint32_t kPointRecordsAtOnce = 170;

const char kWavReadError[] = "the .wav could not be read";
const char kMedReadError[] = "the .med it replaces could not be read";
const char kCutNote[] = "its data is cut short; the sound it holds was fitted";

// One file opened for reading, its chunks walked and its format read.
class Source {
 public:
  Source(FileSystem& fs, const std::string& path) : fs_(fs), file_(fs.OpenRead(path)) {
    if (file_ == kInvalidFile) return;
    read = FileReader(fs, file_);
    walk = WalkRiff(fs.Size(file_), read);
    format = ReadWave(walk, read);
  }
  ~Source() {
    if (file_ != kInvalidFile) fs_.Close(file_);
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  // The file was opened and every header in it read.
  bool Read() const { return file_ != kInvalidFile && walk.riffWave && !walk.readFailed; }
  FileHandle File() const { return file_; }
  bool HasPoints() const { return walk.Find("smpl") != nullptr || walk.Find("cue ") != nullptr; }

  ReadAt read;
  RiffWalk walk;
  WaveFormat format;

 private:
  FileSystem& fs_;
  FileHandle file_;
};

// The output, written in order; the first failure is kept and every later write skipped.
class Output {
 public:
  Output(FileSystem& fs, FileHandle file) : fs_(fs), file_(file) {}

  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  std::uint64_t Written() const { return written_; }
  void Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }
  void Put(const std::uint8_t* bytes, std::size_t count) {
    if (!Ok() || !Room(count)) return;
    while (count > 0) {
      const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(count, 1u << 20));
      if (fs_.Write(file_, bytes, piece) != piece) return Fail(kWriteError);
      bytes += piece;
      count -= piece;
      written_ += piece;
    }
  }
  void PutHeader(const std::string& id, std::uint32_t size) {
    const std::vector<std::uint8_t> header = ChunkHeader(id, size);
    Put(header.data(), header.size());
  }
  // Copies `count` bytes of `in` from `offset`, through the seam's own copy.
  void Copy(const Source& in, std::uint64_t offset, std::uint64_t count,
            const std::string& readError) {
    if (!Ok() || count == 0 || !Room(count)) return;
    if (!fs_.SeekSet(in.File(), static_cast<std::uint32_t>(offset))) return Fail(readError);
    const CopyCount copied = fs_.CopyBody(in.File(), file_, static_cast<std::uint32_t>(count));
    written_ += copied.written;
    if (copied.written != copied.read) return Fail(kWriteError);
    if (copied.read != count) Fail(readError);
  }
  // A chunk as the file holds it, with the pad byte an odd size needs.
  void CopyChunk(const Source& in, const Chunk& chunk, const std::string& readError) {
    const auto size = static_cast<std::uint32_t>(chunk.held);
    PutHeader(chunk.id, size);
    Copy(in, chunk.at, size, readError);
    Pad(size);
  }
  void Pad(std::uint64_t size) {
    const std::uint8_t zero = 0;
    if ((size & 1) != 0) Put(&zero, 1);
  }
  // Writes `value` over the four bytes at `offset`; only once everything else is written.
  void Patch(std::uint64_t offset, std::uint32_t value) {
    std::array<std::uint8_t, 4> bytes{};
    PutLe32(bytes.data(), value);
    if (Ok() && (!fs_.SeekSet(file_, static_cast<std::uint32_t>(offset)) ||
                 fs_.Write(file_, bytes.data(), 4) != 4))
      Fail(kWriteError);
  }

 private:
  static constexpr char kWriteError[] = "the fitted file could not be written";

  bool Room(std::uint64_t count) {
    if (written_ + count <= kMaxOutputBytes) return true;
    Fail("the fitted file would pass 2 GiB");
    return false;
  }

  FileSystem& fs_;
  FileHandle file_;
  std::uint64_t written_ = 0;
  std::string error_;
};

bool IsPoints(const std::string& id) {
  return id == "smpl" || id == "cue ";
}

// How the .wav's sample positions move into the fitted sound: by the ratio of the rates, and from
// the .wav's blocks into the .med's, where a cue point names its block.
struct Scale {
  double ratio = 1;
  std::uint32_t rate = 0;  // the new sample rate, for a loop chunk's sample period
  std::uint64_t fromBlockBytes = 1, fromBlockFrames = 1, toBlockBytes = 1, toBlockFrames = 1;

  static std::uint32_t Clamped(double position) {
    return static_cast<std::uint32_t>(std::clamp(position, 0.0, 4294967295.0));
  }
  std::uint32_t Position(std::uint32_t position) const {
    return Clamped(std::round(position * ratio));
  }
  // A loop's end is its last sample: the loop's length, not that sample's place, scales.
  std::uint32_t LastSample(std::uint32_t last) const {
    return Clamped(std::round((last + 1.0) * ratio) - 1);
  }
};

// Copies the loop or cue chunk `chunk` of `in` into `out`, its positions moved by `scale`, or,
// without a scale, as it is; with no `out`, only reads it. Returns the largest position at or
// past `frames` (a loop's end past the last sample, a cue past the end), or -1 when none is.
std::int64_t CopyPoints(const Source& in, const Chunk& chunk, const Scale* scale,
                        std::uint64_t frames, Output* out) {
  const bool loops = chunk.id == "smpl";
  const auto size = static_cast<std::uint32_t>(chunk.held);
  const std::uint32_t head = loops ? 36 : 4, countAt = loops ? 28 : 0;
  if (out != nullptr) out->PutHeader(chunk.id, size);
  std::int64_t past = -1;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> piece;
  for (std::uint32_t done = 0; done < size;) {
    const std::uint32_t n =
        std::min(size - done, done < head ? head : kPointRecordBytes * kPointRecordsAtOnce);
    piece.resize(n);
    if (in.read(chunk.at + done, piece.data(), n) != n) {
      if (out != nullptr) out->Fail(scale != nullptr ? kWavReadError : kMedReadError);
      return past;
    }
    if (done == 0 && n >= head) {
      count = Le32(piece.data() + countAt);
      if (loops && scale != nullptr && scale->ratio != 1)
        PutLe32(piece.data() + 8, static_cast<std::uint32_t>(std::lround(1e9 / scale->rate)));
    }
    for (std::uint32_t at = done < head ? head : 0; at + kPointRecordBytes <= n;
         at += kPointRecordBytes) {
      const std::uint32_t record = (done + at - head) / kPointRecordBytes;
      if (done + at < head || record >= count) break;
      std::uint8_t* fields = piece.data() + at;
      if (loops) {
        if (scale != nullptr) {
          PutLe32(fields + 8, scale->Position(Le32(fields + 8)));
          PutLe32(fields + 12, scale->LastSample(Le32(fields + 12)));
        }
        for (const std::uint32_t field : {8U, 12U})
          if (Le32(fields + field) >= frames)
            past = std::max<std::int64_t>(past, Le32(fields + field));
        continue;
      }
      if (scale != nullptr) {
        PutLe32(fields + 4, scale->Position(Le32(fields + 4)));
        // A point in the data names the block it lies in, by its bytes, and its sample there.
        if (std::equal(fields + 8, fields + 12, "data")) {
          const std::uint64_t sample =
              Le32(fields + 16) / scale->fromBlockBytes * scale->fromBlockFrames +
              Le32(fields + 20);
          const std::uint64_t moved = scale->Position(
              static_cast<std::uint32_t>(std::min<std::uint64_t>(sample, 0xFFFFFFFF)));
          PutLe32(fields + 16,
                  static_cast<std::uint32_t>(std::min<std::uint64_t>(
                      moved / scale->toBlockFrames * scale->toBlockBytes, 0xFFFFFFFF)));
          PutLe32(fields + 20, static_cast<std::uint32_t>(moved % scale->toBlockFrames));
        }
      }
      if (Le32(fields + 4) > frames) past = std::max<std::int64_t>(past, Le32(fields + 4));
    }
    if (out != nullptr) out->Put(piece.data(), n);
    done += n;
  }
  if (out != nullptr) out->Pad(size);
  return past;
}

// Everything a fit of one .wav to one .med needs, read from both files.
struct Job {
  Job(FileSystem& fs, const std::string& wavPath, const std::string& medPath)
      : wav(fs, wavPath), med(fs, medPath) {}

  // The .wav's data, already in the .med's layout, needs no decoding: only its chunks move.
  bool InLayout() const {
    const WaveFormat& w = wav.format;
    const WaveFormat& m = med.format;
    return w.hasFormat && IsImaAdpcmTag(w.tag) &&
           ImaLayoutFault(w.channels, w.blockAlign, w.bitsPerSample, w.samplesPerBlock) ==
               ImaFault::None &&
           w.channels == m.channels && w.sampleRate == m.sampleRate &&
           w.blockAlign == m.blockAlign &&
           ImaBlockSamples(w.channels, w.blockAlign, w.samplesPerBlock) == Layout().samplesPerBlock;
  }
  ImaLayout Layout() const {
    const WaveFormat& m = med.format;
    return {m.channels, m.blockAlign, ImaBlockSamples(m.channels, m.blockAlign, m.samplesPerBlock)};
  }
  // The .wav's data bytes that go into the .med as they are: whole blocks and groups only.
  std::uint64_t RelayoutBytes() const {
    const std::uint64_t align = wav.format.blockAlign, group = 4ULL * wav.format.channels;
    const std::uint64_t held = wav.format.dataInFile, rest = held % align;
    return held - rest + (rest < group ? 0 : rest - (rest - group) % group);
  }
  // The frames the .wav's data decodes to, and whether it ends inside a frame or block.
  DecodedLength Decoded(FitWay way) const {
    return DecodedFrames(wav.format,
                         way == FitWay::Relayout ? RelayoutBytes() : wav.format.dataInFile);
  }
  Scale ScaleOf() const {
    Scale scale;
    const WaveFormat& w = wav.format;
    scale.ratio = static_cast<double>(med.format.sampleRate) / w.sampleRate;
    scale.rate = med.format.sampleRate;
    // A block of ADPCM holds many frames, one of any other format one; a fact chunk's length
    // tells nothing of a block's.
    WaveFormat whole = w;
    whole.hasFact = false;
    const bool blocks = IsImaAdpcmTag(SoundTag(w)) || SoundTag(w) == kTagMsAdpcm;
    scale.fromBlockBytes = std::max<std::uint64_t>(1, w.blockAlign);
    scale.fromBlockFrames =
        blocks ? std::max<std::uint64_t>(1, DecodedFrames(whole, w.blockAlign).frames) : 1;
    scale.toBlockBytes = med.format.blockAlign;
    scale.toBlockFrames = Layout().samplesPerBlock;
    return scale;
  }
  // The largest loop or cue point past the end of a sound of `frames`, or -1: the .wav's moved,
  // or where it has none, the .med's as they are.
  std::int64_t PointsPast(std::uint64_t frames) const {
    const Scale scale = ScaleOf();
    const Source& from = wav.HasPoints() ? wav : med;
    std::int64_t past = -1;
    for (const Chunk& chunk : from.walk.chunks)
      if (IsPoints(chunk.id))
        past = std::max(past,
                        CopyPoints(from, chunk, &from == &wav ? &scale : nullptr, frames, nullptr));
    return past;
  }

  Source wav, med;
};

std::string PointsNote(std::int64_t past, std::uint64_t frames) {
  return "a loop or cue point at sample " + std::to_string(past) +
         " lies past the end of the fitted sound, " + std::to_string(frames) + " samples long";
}

// True when the .wav's format chunk, first in its file, is the .med's byte for byte once its tag
// is toggled: then the conversion's own copy writes the .med's format chunk.
bool FormatChunksMatch(const Job& job) {
  const Chunk* wav = job.wav.walk.Find("fmt ");
  const Chunk* med = job.med.walk.Find("fmt ");
  if (wav == nullptr || med == nullptr || wav->at != kFormatTagOffset || wav->held != med->held ||
      wav->held > kMaxFormatBytes)
    return false;
  std::vector<std::uint8_t> a(wav->held), b(med->held);
  const auto size = static_cast<std::uint32_t>(a.size());
  if (job.wav.read(wav->at, a.data(), size) != size ||
      job.med.read(med->at, b.data(), size) != size)
    return false;
  PutLe16(a.data(), ToggleFormatTag(Le16(a.data())));
  return a == b;
}

// Streams the .wav's data through the stages into `out`; returns the frames written.
std::uint64_t EncodeData(FileSystem& fs, Job& job, Output& out) {
  const WaveFormat& w = job.wav.format;
  const ImaLayout layout = job.Layout();
  std::string refusal;
  const std::unique_ptr<SoundDecoder> decoder = MakeDecoder(w, refusal);
  Stages stages(w.channels, w.channelMask, w.sampleRate, layout.channels,
                job.med.format.sampleRate);
  if (!decoder || !stages.Error().empty()) {
    out.Fail(decoder ? stages.Error() : refusal);
    return 0;
  }
  ImaEncoder encoder(layout);
  std::vector<std::uint8_t> blocks;
  const TakeSound encode = [&](const float* sound, std::size_t count) {
    encoder.Encode(sound, count, blocks);
    out.Put(blocks.data(), blocks.size());
    blocks.clear();
    return out.Ok();
  };
  // The data's bytes are in the file, so a read that gives none before their end failed.
  bool readFailed = !fs.SeekSet(job.wav.File(), static_cast<std::uint32_t>(w.dataAt));
  const DecodeResult decoded = DecodeData(
      *decoder, w, readFailed ? 0 : w.dataInFile,
      [&](std::uint8_t* buffer, std::size_t count) {
        const std::uint32_t got =
            fs.Read(job.wav.File(), buffer, static_cast<std::uint32_t>(count));
        readFailed = readFailed || got == 0;
        return std::size_t{got};
      },
      [&](const float* frames, std::size_t count) {
        return stages.Process(frames, count, false, encode);
      });
  if (readFailed) out.Fail(kWavReadError);
  if (!decoded.stopped && out.Ok()) stages.Process(nullptr, 0, true, encode);
  if (out.Ok() && !stages.Error().empty()) out.Fail(stages.Error());
  if (!out.Ok()) return 0;
  const std::uint64_t frames = encoder.Finish(blocks);
  out.Put(blocks.data(), blocks.size());
  return frames;
}

}  // namespace

FitPlan PlanFit(FileSystem& fs, const std::string& wavPath, const std::string& medPath) {
  FitPlan plan;
  const Job job(fs, wavPath, medPath);
  const WaveFormat& wav = job.wav.format;
  const WaveFormat& med = job.med.format;
  // Only a .med that plays says what the game plays; without one nothing is invented.
  if (!job.med.Read() || PlayProblem(med, true) != WaveProblem::None) return plan;
  const MatchVerdict verdict = CompareWithMed(wav, med).verdict;
  // Already what the game plays, it is converted as it is; unless it holds no sound to play.
  if (verdict == MatchVerdict::Matches && FormatChunksMatch(job) && SampleFrames(wav) != 0)
    return plan;
  plan.way = job.InLayout() ? FitWay::Relayout : FitWay::Encode;
  plan.from = wav.hasFormat ? SoundWords(wav) : "?";
  if (wav.hasFormat && IsImaAdpcmTag(wav.tag))
    plan.from += ", " + std::to_string(wav.blockAlign) + "-byte blocks";
  plan.to = "IMA ADPCM " + std::to_string(med.sampleRate) + " Hz " + ChannelWords(med.channels) +
            ", " + std::to_string(med.blockAlign) + "-byte blocks";
  // What the walk could not find, nothing can decode.
  switch (wav.problem) {
    case WaveProblem::Missing:
    case WaveProblem::Unreadable:
      plan.refusal = kWavReadError;
      return plan;
    case WaveProblem::NotRiffWave:
    case WaveProblem::NoFormatChunk:
    case WaveProblem::ShortFormatChunk:
    case WaveProblem::NoDataChunk:
      plan.refusal = ProblemText(wav.problem, wav);
      return plan;
    case WaveProblem::RiffTooSmall:
      if (job.wav.walk.Find("data") == nullptr || job.wav.walk.Find("fmt ") == nullptr) {
        plan.refusal = ProblemText(wav.problem, wav);
        return plan;
      }
      break;
    default:
      break;
  }
  if (plan.way == FitWay::Encode) {
    const Stages stages(wav.channels, wav.channelMask, wav.sampleRate, med.channels,
                        med.sampleRate);
    if (!MakeDecoder(wav, plan.refusal)) return plan;
    plan.refusal = stages.Error();
    if (!plan.refusal.empty()) return plan;
  }
  const DecodedLength decoded = job.Decoded(plan.way);
  if (decoded.frames == 0) {
    plan.refusal = "it holds no sound";
    return plan;
  }
  if (wav.dataInFile < wav.dataSize || !DecodedFrames(wav, wav.dataInFile).whole)
    plan.notes.emplace_back(kCutNote);
  const std::uint64_t frames =
      plan.way == FitWay::Relayout
          ? decoded.frames
          : ResampledLength(decoded.frames, wav.sampleRate, med.sampleRate);
  const std::int64_t past = job.PointsPast(frames);
  if (past >= 0) plan.notes.push_back(PointsNote(past, frames));
  return plan;
}

FitResult WriteFit(FileSystem& fs, FitWay way, const std::string& wavPath,
                   const std::string& medPath, FileHandle file) {
  FitResult result;
  Job job(fs, wavPath, medPath);
  if (!job.wav.Read() || job.wav.walk.Find("data") == nullptr) {
    result.error = kWavReadError;
    return result;
  }
  if (!job.med.Read() || job.med.walk.Find("data") == nullptr) {
    result.error = kMedReadError;
    return result;
  }
  Output out(fs, file);
  const std::uint8_t riff[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  out.Put(riff, sizeof riff);
  const bool wavPoints = job.wav.HasPoints();
  const Scale scale = job.ScaleOf();
  std::uint64_t dataAt = 0, dataBytes = 0, factAt = 0, frames = 0;
  const auto points = [&](const Source& in, const Chunk& chunk) {
    CopyPoints(in, chunk, &in == &job.wav ? &scale : nullptr, 0, &out);
  };
  for (const Chunk& chunk : job.med.walk.chunks) {
    if (chunk.id == "data" && dataAt == 0) {
      out.PutHeader("data", 0);
      dataAt = out.Written();
      if (way == FitWay::Relayout) {
        dataBytes = job.RelayoutBytes();
        out.Copy(job.wav, job.wav.format.dataAt, dataBytes, kWavReadError);
        frames = job.Decoded(way).frames;
      } else {
        frames = EncodeData(fs, job, out);
        dataBytes = out.Written() - dataAt;
      }
      out.Pad(dataBytes);
      // The .wav's own chunks the .med has none of follow the sound; a float sound's peak
      // levels no longer describe it.
      for (const Chunk& own : job.wav.walk.chunks) {
        if (job.med.walk.Find(own.id.c_str()) != nullptr || own.id == "fmt " || own.id == "fact" ||
            own.id == "data" || own.id == "PEAK")
          continue;
        if (IsPoints(own.id)) {
          points(job.wav, own);
        } else {
          out.CopyChunk(job.wav, own, kWavReadError);
        }
      }
    } else if (chunk.id == "fact" && factAt == 0 && chunk.held >= 4) {
      out.PutHeader("fact", static_cast<std::uint32_t>(chunk.held));
      factAt = out.Written();
      const std::array<std::uint8_t, 4> count{};
      out.Put(count.data(), count.size());
      out.Copy(job.med, chunk.at + 4, chunk.held - 4, kMedReadError);
      out.Pad(chunk.held);
    } else if (IsPoints(chunk.id)) {
      const Chunk* own = job.wav.walk.Find(chunk.id.c_str());
      if (!wavPoints) points(job.med, chunk);
      if (own != nullptr) points(job.wav, *own);
    } else {
      out.CopyChunk(job.med, chunk, kMedReadError);
    }
  }
  // The sizes are known only now; nothing is written after them.
  const std::uint64_t end = out.Written();
  out.Patch(dataAt - 4, static_cast<std::uint32_t>(dataBytes));
  if (factAt != 0) out.Patch(factAt, static_cast<std::uint32_t>(frames));
  out.Patch(4, static_cast<std::uint32_t>(end - 8));
  result.error = out.Error();
  result.bytes = end;
  return result;
}
