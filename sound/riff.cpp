// The chunk walk. Every offset and size is taken as a 64-bit value and checked against the file
// before anything is read there, so no header, however hostile, leads a read outside the file;
// and nothing after the RIFF (a tag some editors append) is ever taken for a chunk.
#include "sound/riff.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMaxChunks = 256;

bool IdIs(const std::uint8_t* bytes, const char* id) {
  return std::memcmp(bytes, id, 4) == 0;
}

}  // namespace

const Chunk* RiffWalk::Find(const char* id) const {
  const auto at = std::find_if(chunks.begin(), chunks.end(),
                               [id](const Chunk& chunk) { return chunk.id == id; });
  return at != chunks.end() ? &*at : nullptr;
}

bool RiffSizeUnset(std::uint32_t riffSize) {
  return riffSize == 0 || riffSize == kSizeUnset;
}

// A data size of 0 is an empty chunk unless the RIFF size around it was never filled in either.
bool DataSizeUnset(std::uint32_t riffSize, std::uint32_t dataSize) {
  return dataSize == kSizeUnset || (dataSize == 0 && RiffSizeUnset(riffSize));
}

RiffWalk WalkRiff(std::uint64_t fileSize, const ReadAt& readAt) {
  RiffWalk walk;
  walk.fileSize = fileSize;
  const auto read = [&](std::uint64_t offset, std::uint8_t* buffer, std::uint32_t count) {
    if (offset > fileSize || count > fileSize - offset) return false;
    if (readAt(offset, buffer, count) == count) return true;
    walk.readFailed = true;
    return false;
  };
  std::uint8_t head[kRiffHeaderBytes];
  if (!read(0, head, kRiffHeaderBytes) || !IdIs(head, "RIFF") || !IdIs(head + 8, "WAVE"))
    return walk;
  walk.riffWave = true;
  walk.riffSize = Le32(head + 4);
  walk.riffEnd = RiffSizeUnset(walk.riffSize)
                     ? fileSize
                     : std::min<std::uint64_t>(std::uint64_t{8} + walk.riffSize, fileSize);
  std::uint64_t offset = kRiffHeaderBytes;
  for (int count = 0; count < kMaxChunks && offset + kChunkHeaderBytes <= fileSize; ++count) {
    const bool inside = offset < walk.riffEnd;
    // Past the RIFF the walk only looks for the chunks a decoder needs, to name what is missing.
    if (!inside && walk.Find("fmt ") != nullptr && walk.Find("data") != nullptr) break;
    std::uint8_t header[kChunkHeaderBytes];
    if (!read(offset, header, kChunkHeaderBytes)) return walk;
    Chunk chunk{std::string(header, header + 4), offset + kChunkHeaderBytes, Le32(header + 4)};
    std::uint64_t span = chunk.size;
    chunk.unsetSize = chunk.id == "data" && DataSizeUnset(walk.riffSize, chunk.size);
    if (chunk.unsetSize) span = std::max(walk.riffEnd, chunk.at) - chunk.at;
    chunk.held = std::min(span, fileSize - std::min(chunk.at, fileSize));
    if (inside) {
      walk.chunks.push_back(chunk);
    } else if (chunk.id == "fmt " || chunk.id == "data") {
      walk.soundChunkBeyond = true;
    }
    offset = chunk.at + span + (span & 1);
  }
  return walk;
}

std::vector<std::uint8_t> ChunkHeader(const std::string& id, std::uint32_t size) {
  std::vector<std::uint8_t> header(id.begin(), id.begin() + 4);
  header.resize(kChunkHeaderBytes);
  PutLe32(header.data() + 4, size);
  return header;
}
