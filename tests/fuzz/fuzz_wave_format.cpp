// Fuzzes the chunk walk, the input being the whole file; each Check names a property it keeps.
#include <cmath>

#include "convert/wave_format.h"
#include "fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int reads = 0;
  const WaveFormat format =
      ParseWaveFormat(size, [&](std::uint64_t offset, void* buffer, std::uint32_t count) {
        Check(offset <= size && count <= size - offset, "every read is inside the file");
        ++reads;
        std::copy_n(data + offset, count, static_cast<std::uint8_t*>(buffer));
        return count;
      });
  // The RIFF header, then per chunk its header and at most the format's body once.
  Check(reads <= 1 + 256 + 1, "the walk is bounded");
  Check(format.dataInFile <= size, "the data held is within the file");
  const double seconds = DurationSeconds(format);
  Check(std::isfinite(seconds), "a length is a number");
  if (format.problem == WaveProblem::None) {
    Check(format.hasFormat && format.dataInFile == format.dataSize, "a sound file holds its data");
    Check(seconds >= 0 || !(IsImaAdpcmTag(format.tag) || format.tag == 1),
          "a sound IMA ADPCM or PCM file has a length");
  }
  return 0;
}
