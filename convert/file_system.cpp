// The body copy every file system can do with its own Read and Write.
#include "convert/file_system.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

// Under Wine every ReadFile and WriteFile is a trip through ntdll, so small pieces cost calls;
// past about 1 MiB a larger piece gains nothing and only takes memory. The buffer is the file's
// own and goes before the next file starts; a small file takes only what it needs.
constexpr std::uint32_t kCopyBufferBytes = 1u << 20;

}  // namespace

CopyCount FileSystem::CopyBody(FileHandle from, FileHandle to, std::uint32_t count) {
  CopyCount done;
  if (count == 0) return done;
  const std::uint32_t bufferBytes = std::min(count, kCopyBufferBytes);
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[bufferBytes]);
  // Without memory for the buffer nothing is read, and the file fails as unreadable.
  if (!buffer) return done;
  while (done.read < count) {
    const std::uint32_t got = Read(from, buffer.get(), std::min(count - done.read, bufferBytes));
    if (got == 0) break;
    done.read += got;
    const std::uint32_t put = Write(to, buffer.get(), got);
    done.written += put;
    if (put != got) break;
  }
  return done;
}
