// The per-file verdict compares formats through the sound-format module, and bytes only to tell
// an untouched round trip; the destination checks let a dry run fail where the run would.
#include "cli/verdict.h"

#include <algorithm>
#include <vector>

#include "convert/batch.h"
#include "convert/sound_rules.h"
#include "convert/wave_format.h"

namespace {

constexpr std::uint32_t kCompareBytes = 64 * 1024;
constexpr int kProbeAttempts = 100;

// True when converting `source` would write exactly the bytes of `output`: the same size, the
// same bytes but the format tag, and there the tag the conversion turns the source's into.
bool ConversionIsOutput(FileSystem& fs, const std::string& source, const std::string& output) {
  const FileHandle from = fs.OpenRead(source);
  if (from == kInvalidFile) return false;
  const FileHandle to = fs.OpenRead(output);
  const std::uint64_t size = fs.Size(from);
  bool same = to != kInvalidFile && size == fs.Size(to) && size >= kFormatTagOffset + 2;
  std::vector<std::uint8_t> a(kCompareBytes), b(kCompareBytes);
  for (std::uint64_t offset = 0; same && offset < size;) {
    const std::uint32_t got = fs.Read(from, a.data(), kCompareBytes);
    // A read that fails or comes back short leaves the two not known to be the same.
    same = got != 0 && fs.Read(to, b.data(), got) == got;
    if (same && offset <= kFormatTagOffset && kFormatTagOffset + 2 <= offset + got) {
      const std::size_t at = kFormatTagOffset - offset;
      const std::uint16_t tag = ToggleFormatTag(static_cast<std::uint16_t>(a[at] | a[at + 1] << 8));
      a[at] = static_cast<std::uint8_t>(tag & 0xFF);
      a[at + 1] = static_cast<std::uint8_t>(tag >> 8);
    }
    same = same && std::equal(a.begin(), a.begin() + got, b.begin());
    offset += got;
  }
  fs.Close(from);
  if (to != kInvalidFile) fs.Close(to);
  return same;
}

}  // namespace

Verdict JudgeConversion(FileSystem& fs, const std::string& folder, const std::string& name,
                        const std::string& outFolder, const std::string& outName,
                        const LeadByteSet& leadBytes) {
  const bool isMed = IsMedName(name, leadBytes);
  const WaveFormat source = ReadWaveFormat(fs, folder + name);
  const WaveFormat output = ReadWaveFormat(fs, outFolder + outName);
  Verdict verdict;
  if (output.problem == WaveProblem::Missing) {
    verdict.standing = Standing::New;
  } else if (output.fileSize == source.fileSize &&
             ConversionIsOutput(fs, folder + name, outFolder + outName)) {
    // What the game had, back unedited, whatever its format: never a reason to refuse it.
    verdict.standing = Standing::Unchanged;
    return verdict;
  } else {
    verdict.standing = Standing::Fits;
  }
  // A source that cannot be opened or read is the batch's to report, as it fails.
  if (source.problem == WaveProblem::Missing || source.problem == WaveProblem::Unreadable)
    return verdict;
  if (isMed) {
    const std::string problem = ProblemText(PlayProblem(source, true), source);
    if (!problem.empty()) verdict.reason = name + ": " + problem;
  } else {
    const Fit fit = CompareWithMed(source, output);
    verdict.reason = FitText(fit, name, source, outName, output);
    if (fit.verdict == FitVerdict::MedBroken) verdict.standing = Standing::Unknown;
  }
  return verdict;
}

std::string Counted(std::uint64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string DestProblem(FileSystem& fs, const std::string& sourceFolder,
                        const std::string& destFolder, const FileList& list) {
  // A file of a name nobody uses, made and removed at once, is what the batch's temporary
  // files need; a name taken already says nothing, so the next is tried.
  CreateResult made = CreateResult::AlreadyExists;
  for (int i = 0; i < kProbeAttempts && made == CreateResult::AlreadyExists; ++i) {
    const std::string probe = destFolder + "~check" + std::to_string(i) + ".tmp";
    const NewFile file = fs.CreateNew(probe);
    made = file.result;
    if (made != CreateResult::Created) continue;
    fs.Close(file.file);
    fs.Remove(probe);
  }
  if (made == CreateResult::Failed) return "no file can be created in it";
  const std::uint64_t bytes = ListedBytes(fs, sourceFolder, list);
  if (NotEnoughSpace(fs, destFolder, bytes)) {
    return "its volume has too little free space for the " + Counted(bytes, "byte") + " listed";
  }
  return "";
}
