// Fuzzes the chunk walk, the input being the whole file; each Check names a property it keeps.
#include <cmath>

#include "fuzz/check.h"
#include "sound/wave.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int reads = 0;
  const ReadAt readAt = [&](std::uint64_t offset, void* buffer, std::uint32_t count) {
    Check(offset <= size && count <= size - offset, "every read is inside the file");
    ++reads;
    std::copy_n(data + offset, count, static_cast<std::uint8_t*>(buffer));
    return count;
  };
  const RiffWalk walk = WalkRiff(size, readAt);
  const WaveFormat format = ReadWave(walk, readAt);
  // The RIFF header, then per chunk its header, the format's body and the fact's count once.
  Check(reads <= 1 + 256 + 2, "the walk is bounded");
  for (const Chunk& chunk : walk.chunks)
    Check(chunk.at - 8 < walk.riffEnd, "no chunk is taken from after the RIFF");
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
