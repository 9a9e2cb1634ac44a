// Fuzzes the whole fit on the in-memory disk: a hostile .wav and a hostile .med, the first two
// bytes telling where the one ends and the other starts; each Check names a property it keeps.
#include "fakes/fakes.h"
#include "fuzz/check.h"
#include "sound/fit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t split = std::min<std::size_t>(size - 2, data[0] | data[1] << 8);
  FakeFileSystem fs;
  fs.entries["D:\\a.wav"] = Bytes(data + 2, data + 2 + split);
  fs.entries["E:\\a.med"] = Bytes(data + 2 + split, data + size);
  const auto before = fs.entries;
  const FitPlan plan = PlanFit(fs, "D:\\a.wav", "E:\\a.med");
  Check(fs.open.empty() && fs.entries == before, "a plan reads, and closes what it opens");
  if (plan.way == FitWay::None || !plan.refusal.empty()) return 0;
  const NewFile out = fs.CreateNew("E:\\~1.tmp");
  const FitResult result = WriteFit(fs, plan.way, "D:\\a.wav", "E:\\a.med", out.file);
  fs.Close(out.file);
  Check(fs.open.empty(), "the fit closes what it opens");
  Check(fs.readsPastEnd == 0, "no read starts past the end of a file");
  if (!result.error.empty()) return 0;
  Check(result.bytes == fs.entries["E:\\~1.tmp"].size(), "the size told is the size written");
  const WaveFormat med = ReadWave(fs, "E:\\a.med"), fitted = ReadWave(fs, "E:\\~1.tmp");
  Check(PlayProblem(fitted, true) == WaveProblem::None, "the fitted .med plays");
  Check(fitted.channels == med.channels && fitted.sampleRate == med.sampleRate &&
            fitted.blockAlign == med.blockAlign,
        "it plays as the .med it replaces");
  return 0;
}
