// Fitting a .wav to its .med: both files' chunks are walked, then one pass copies the .med's
// chunks in their order, streams the sound through the decoder, the channel and rate stages and
// the encoder into the data chunk, and fills in the sizes once the sound's length is known.
#include "convert/fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "convert/ima_encoder.h"
#include "convert/sound_decoder.h"
#include "convert/sound_stages.h"
#include "convert/wave_format.h"

namespace {

// A real file has a handful of chunks; one of a million empty ones is not walked to its end.
constexpr std::size_t kMaxChunks = 256;
// Every real format chunk fits, MS ADPCM's predictor pairs included.
constexpr std::uint32_t kMaxFormatBytes = 4096;
// What a RIFF size and the seam's 32-bit offsets can state, as for every other output.
constexpr std::uint64_t kMaxOutputBytes = 0x7FFFFFFF;
constexpr std::uint32_t kSizeUnset = 0xFFFFFFFF;
// Loop and cue chunks are rewritten a piece at a time; a piece holds whole 4-byte fields.
constexpr std::uint32_t kPointPieceBytes = 4080;

struct Chunk {
  std::string id;
  std::uint32_t at = 0;    // its body's offset
  std::uint32_t size = 0;  // the bytes of its body that the file holds
  bool cut = false;        // its size says more than that
};

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void PutLe32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// One file opened for reading, read by offset, with the chunks after its RIFF header.
class Input {
 public:
  Input(FileSystem& fs, const std::string& path) : fs_(fs), file_(fs.OpenRead(path)) {
    // The seam seeks to 32-bit offsets: anything beyond reads as missing.
    if (file_ != kInvalidFile) size_ = std::min<std::uint64_t>(fs.Size(file_), kSizeUnset);
  }
  ~Input() {
    if (file_ != kInvalidFile) fs_.Close(file_);
  }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  FileHandle File() const { return file_; }
  // Moves to `offset` of the file; false when it lies past the end or the seek failed.
  bool Seek(std::uint64_t offset) {
    return file_ != kInvalidFile && offset <= size_ &&
           fs_.SeekSet(file_, static_cast<std::uint32_t>(offset));
  }
  // Reads up to `count` bytes at the position; returns how many (0 at the end or on a failure).
  std::uint32_t ReadNext(std::uint8_t* buffer, std::uint32_t count) {
    return fs_.Read(file_, buffer, count);
  }
  // Reads exactly `count` bytes at `offset`; false when the file does not hold them all.
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::uint32_t count) {
    if (count > size_ - std::min(offset, size_) || !Seek(offset)) return false;
    while (count > 0) {
      const std::uint32_t got = fs_.Read(file_, buffer, count);
      if (got == 0) return false;
      buffer += got;
      count -= got;
    }
    return true;
  }
  // Walks the chunks to the end of the file, never reading outside it; false when it is no
  // RIFF/WAVE file or a header could not be read.
  bool Walk() {
    std::array<std::uint8_t, 12> head{};
    if (!ReadAt(0, head.data(), 12) || !std::equal(head.begin(), head.begin() + 4, "RIFF") ||
        !std::equal(head.begin() + 8, head.end(), "WAVE"))
      return false;
    const std::uint32_t riffSize = Le32(head.data() + 4);
    for (std::uint64_t offset = 12; chunks.size() < kMaxChunks && offset + 8 <= size_;) {
      std::array<std::uint8_t, 8> header{};
      if (!ReadAt(offset, header.data(), 8)) return false;
      Chunk chunk{std::string(header.begin(), header.begin() + 4),
                  static_cast<std::uint32_t>(offset + 8)};
      std::uint64_t declared = Le32(header.data() + 4);
      // A writer that could not seek back leaves the data running to the end of the file.
      if (chunk.id == "data" &&
          (declared == kSizeUnset || (declared == 0 && (riffSize == 0 || riffSize == kSizeUnset))))
        declared = size_ - chunk.at;
      chunk.size = static_cast<std::uint32_t>(std::min(declared, size_ - chunk.at));
      chunk.cut = declared > chunk.size;
      chunks.push_back(chunk);
      offset = chunk.at + declared + (declared & 1);
    }
    return true;
  }
  const Chunk* Find(const std::string& id) const {
    const auto at = std::find_if(chunks.begin(), chunks.end(),
                                 [&id](const Chunk& chunk) { return chunk.id == id; });
    return at != chunks.end() ? &*at : nullptr;
  }

  std::vector<Chunk> chunks;

 private:
  FileSystem& fs_;
  FileHandle file_;
  std::uint64_t size_ = 0;
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
    std::array<std::uint8_t, 8> header{};
    std::copy(id.begin(), id.begin() + 4, header.begin());
    PutLe32(header.data() + 4, size);
    Put(header.data(), header.size());
  }
  // Copies `count` bytes of `in` from `offset`, through the seam's own copy.
  void Copy(Input& in, std::uint32_t offset, std::uint32_t count, const std::string& readError) {
    if (!Ok() || count == 0 || !Room(count)) return;
    if (!in.Seek(offset)) return Fail(readError);
    const CopyCount copied = fs_.CopyBody(in.File(), file_, count);
    written_ += copied.written;
    if (copied.written != copied.read) return Fail(kWriteError);
    if (copied.read != count) Fail(readError);
  }
  // A chunk as it is, with the pad byte an odd size needs.
  void CopyChunk(Input& in, const Chunk& chunk, const std::string& readError) {
    PutHeader(chunk.id, chunk.size);
    Copy(in, chunk.at, chunk.size, readError);
    Pad(chunk.size);
  }
  void Pad(std::uint32_t size) {
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

  bool Room(std::size_t count) {
    if (written_ + count <= kMaxOutputBytes) return true;
    Fail("the fitted file would pass 2 GiB");
    return false;
  }

  FileSystem& fs_;
  FileHandle file_;
  std::uint64_t written_ = 0;
  std::string error_;
};

const char kWavReadError[] = "the .wav could not be read";
const char kMedReadError[] = "the .med it replaces could not be read";

bool IsPoints(const std::string& id) {
  return id == "smpl" || id == "cue ";
}

// Whether the 4-byte field at `offset` of a loop or cue chunk's body is a sample position, when
// the chunk states `count` loops or points: a loop's start and end, a point's position and its
// offset in its block.
bool IsPosition(const std::string& id, std::uint32_t offset, std::uint32_t count) {
  const std::uint32_t first = id == "smpl" ? 36 : 4, record = 24;
  if (offset < first || (offset - first) / record >= count) return false;
  const std::uint32_t field = (offset - first) % record;
  return id == "smpl" ? field == 8 || field == 12 : field == 4 || field == 20;
}

// Writes the loop or cue chunk `chunk` of `in` with its sample positions times `ratio` (a loop
// chunk's sample period then that of `rate`); returns its largest position.
std::uint64_t CopyPoints(Input& in, const Chunk& chunk, double ratio, std::uint32_t rate,
                         const std::string& readError, Output& out) {
  out.PutHeader(chunk.id, chunk.size);
  const std::uint32_t countAt = chunk.id == "smpl" ? 28 : 0;
  std::uint32_t count = 0;
  std::uint64_t last = 0;
  std::array<std::uint8_t, kPointPieceBytes> piece{};
  for (std::uint32_t done = 0; done < chunk.size && out.Ok();) {
    const std::uint32_t n = std::min(kPointPieceBytes, chunk.size - done);
    if (!in.ReadAt(chunk.at + done, piece.data(), n)) {
      out.Fail(readError);
      break;
    }
    for (std::uint32_t i = 0; i + 4 <= n; i += 4) {
      std::uint8_t* field = piece.data() + i;
      if (done + i == countAt) count = Le32(field);
      if (IsPosition(chunk.id, done + i, count)) {
        const double scaled = std::round(Le32(field) * ratio);
        const auto position = static_cast<std::uint32_t>(std::min(scaled, 4294967295.0));
        PutLe32(field, position);
        last = std::max<std::uint64_t>(last, position);
      } else if (chunk.id == "smpl" && done + i == 8 && ratio != 1) {
        PutLe32(field, static_cast<std::uint32_t>(std::lround(1e9 / rate)));  // nanoseconds
      }
    }
    out.Put(piece.data(), n);
    done += n;
  }
  out.Pad(chunk.size);
  return last;
}

// What fitting needs of both files: the .wav's decoder and data, the .med's layout.
struct Prepared {
  SoundFormat sound;
  std::unique_ptr<SoundDecoder> decoder;
  const Chunk* data = nullptr;
  ImaLayout layout;
  std::uint32_t rate = 0;
};

// Walks the .wav in `wav` and reads its format; false with `refusal` when it cannot be fitted
// to `med`.
bool Prepare(Input& wav, const WaveFormat& med, Prepared& p, std::string& refusal) {
  refusal = kWavReadError;
  if (!wav.Walk()) return false;
  const Chunk* format = wav.Find("fmt ");
  p.data = wav.Find("data");
  refusal = format == nullptr ? "it has no format chunk" : "it has no data chunk";
  if (format == nullptr || p.data == nullptr) return false;
  std::array<std::uint8_t, kMaxFormatBytes> body{};
  const std::uint32_t size = std::min(format->size, kMaxFormatBytes);
  refusal = kWavReadError;
  if (!wav.ReadAt(format->at, body.data(), size)) return false;
  refusal = "its format chunk states more than it holds";
  if (!ParseFormatChunk(body.data(), size, p.sound)) return false;
  p.decoder = MakeDecoder(p.sound, refusal);
  if (!p.decoder) return false;
  p.rate = med.sampleRate;
  p.layout = {med.channels, med.blockAlign,
              med.samplesPerBlock != 0
                  ? med.samplesPerBlock
                  : static_cast<std::uint16_t>(ImaBlockCapacity(med.channels, med.blockAlign))};
  refusal = CheckImaLayout(p.layout);
  return refusal.empty();
}

std::string ChannelWords(unsigned channels) {
  return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
}

// Streams the .wav's data through the stages into `out`; returns the frames written and sets
// `cut` when the data ended early.
std::uint64_t EncodeData(Input& wav, Prepared& p, Output& out, bool& cut) {
  Stages stages(p.sound.channels, p.sound.sampleRate, p.layout.channels, p.rate);
  if (!stages.Error().empty()) {
    out.Fail(stages.Error());
    return 0;
  }
  ImaEncoder encoder(p.layout);
  std::vector<std::uint8_t> blocks;
  std::uint64_t frames = 0;
  const auto stage = [&](const float* in, std::size_t count, bool last) {
    const std::vector<float>* sound = stages.Process(in, count, last);
    if (sound == nullptr) {
      out.Fail(stages.Error());
      return false;
    }
    encoder.Encode(sound->data(), sound->size() / p.layout.channels, blocks);
    if (last) frames = encoder.Finish(blocks);
    out.Put(blocks.data(), blocks.size());
    blocks.clear();
    return out.Ok();
  };
  // The data's bytes are in the file, so a read that gives none before their end failed.
  bool readFailed = !wav.Seek(p.data->at);
  const DecodeResult decoded = DecodeData(
      *p.decoder, p.sound.channels, readFailed ? 0 : p.data->size,
      [&](std::uint8_t* buffer, std::size_t count) {
        const std::uint32_t got = wav.ReadNext(buffer, static_cast<std::uint32_t>(count));
        readFailed = readFailed || got == 0;
        return std::size_t{got};
      },
      [&](const float* in, std::size_t count) { return stage(in, count, false); });
  if (readFailed) out.Fail(kWavReadError);
  if (!decoded.stopped && out.Ok()) stage(nullptr, 0, true);
  cut = decoded.shortData || p.data->cut;
  return frames;
}

std::string PointsNote(std::uint64_t last, std::uint64_t frames) {
  return "a loop or cue point at sample " + std::to_string(last) +
         " lies past the end of the fitted sound, " + std::to_string(frames) + " samples long";
}

}  // namespace

FitPlan PlanFit(FileSystem& fs, const std::string& wavPath, const std::string& medPath) {
  FitPlan plan;
  const WaveFormat wav = ReadWaveFormat(fs, wavPath), med = ReadWaveFormat(fs, medPath);
  const FitVerdict verdict = CompareWithMed(wav, med).verdict;
  // Only a sound .med says what the game plays; without one nothing is invented.
  if ((verdict != FitVerdict::Differs && verdict != FitVerdict::WavBroken) ||
      med.problem != WaveProblem::None || PlayProblem(med, true) != WaveProblem::None)
    return plan;
  plan.fit = true;
  const std::string name = FormatName(wav);
  plan.from = name.substr(0, name.find(" (0x")) + " " + std::to_string(wav.bitsPerSample) +
              "-bit " + std::to_string(wav.sampleRate) + " Hz " + ChannelWords(wav.channels);
  if (IsImaAdpcmTag(wav.tag)) plan.from += ", " + std::to_string(wav.blockAlign) + "-byte blocks";
  plan.to = "IMA ADPCM " + std::to_string(med.sampleRate) + " Hz " + ChannelWords(med.channels) +
            ", " + std::to_string(med.blockAlign) + "-byte blocks";
  Input in(fs, wavPath);
  Prepared prepared;
  if (!Prepare(in, med, prepared, plan.refusal) && !wav.hasFormat) plan.from = "?";
  return plan;
}

FitResult WriteFit(FileSystem& fs, const std::string& wavPath, const std::string& medPath,
                   FileHandle file) {
  FitResult result;
  Input wav(fs, wavPath), med(fs, medPath);
  Prepared p;
  if (!Prepare(wav, ReadWaveFormat(fs, medPath), p, result.error)) return result;
  if (!med.Walk() || med.Find("data") == nullptr) {
    result.error = kMedReadError;
    return result;
  }
  Output out(fs, file);
  const std::uint8_t riff[] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  out.Put(riff, sizeof riff);
  // The .wav's loop and cue points, where it has any, stand for the .med's.
  const bool wavPoints = wav.Find("smpl") != nullptr || wav.Find("cue ") != nullptr;
  const double ratio = static_cast<double>(p.rate) / p.sound.sampleRate;
  std::uint64_t dataAt = 0, dataBytes = 0, factAt = 0, frames = 0, last = 0;
  bool anyPoint = false, cut = false;
  const auto points = [&](Input& in, const Chunk& chunk, bool scaled) {
    last = std::max(last, CopyPoints(in, chunk, scaled ? ratio : 1.0, p.rate,
                                     scaled ? kWavReadError : kMedReadError, out));
    anyPoint = true;
  };
  for (const Chunk& chunk : med.chunks) {
    if (chunk.id == "data" && dataAt == 0) {
      out.PutHeader("data", 0);
      dataAt = out.Written();
      frames = EncodeData(wav, p, out, cut);
      dataBytes = out.Written() - dataAt;
      // The .wav's own chunks the .med has none of follow the sound; a float sound's peak
      // levels no longer describe it.
      for (const Chunk& own : wav.chunks) {
        if (med.Find(own.id) != nullptr || own.id == "fmt " || own.id == "fact" ||
            own.id == "data" || own.id == "PEAK")
          continue;
        if (IsPoints(own.id)) {
          points(wav, own, true);
        } else {
          out.CopyChunk(wav, own, kWavReadError);
        }
      }
    } else if (chunk.id == "fact" && factAt == 0 && chunk.size >= 4) {
      out.PutHeader("fact", chunk.size);
      factAt = out.Written();
      const std::array<std::uint8_t, 4> count{};
      out.Put(count.data(), count.size());
      out.Copy(med, chunk.at + 4, chunk.size - 4, kMedReadError);
      out.Pad(chunk.size);
    } else if (IsPoints(chunk.id)) {
      const Chunk* own = wav.Find(chunk.id);
      if (!wavPoints) points(med, chunk, false);
      if (own != nullptr) points(wav, *own, true);
    } else {
      out.CopyChunk(med, chunk, kMedReadError);
    }
  }
  // The sizes are known only now; nothing is written after them.
  const std::uint64_t end = out.Written();
  out.Patch(dataAt - 4, static_cast<std::uint32_t>(dataBytes));
  if (factAt != 0) out.Patch(factAt, static_cast<std::uint32_t>(frames));
  out.Patch(4, static_cast<std::uint32_t>(end - 8));
  result.error = out.Error();
  result.bytes = end;
  if (cut) result.notes.emplace_back("its data is cut short; the sound it holds was fitted");
  if (anyPoint && last >= frames) result.notes.push_back(PointsNote(last, frames));
  return result;
}
