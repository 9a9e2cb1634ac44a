// buffer-copy: copies every file of a folder with one read into a whole-file buffer and one
// write, the least any converter built on such a buffer can do; the benchmark's yardstick
// between a plain copy, which may never bring the bytes into the process, and the converter.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

namespace {

bool ReadAll(int fd, char* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = read(fd, buffer + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const char* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = write(fd, buffer + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: buffer-copy SOURCE DEST\n");
    return 2;
  }
  const std::string source = argv[1];
  const std::string dest = argv[2];
  DIR* dir = opendir(source.c_str());
  if (dir == nullptr) {
    std::perror(source.c_str());
    return 1;
  }
  // One buffer for the whole run, grown for a larger file, as the converter keeps its own.
  std::unique_ptr<char[]> buffer;
  std::size_t bufferSize = 0;
  int failures = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string from = source + "/" + name;
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (in < 0 || fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
      if (in >= 0) close(in);
      continue;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > bufferSize) {
      buffer.reset();
      bufferSize = 0;
      buffer.reset(new (std::nothrow) char[size]);
      if (!buffer) {
        std::fprintf(stderr, "%s: too large to hold\n", from.c_str());
        close(in);
        failures++;
        continue;
      }
      bufferSize = size;
    }
    const std::string to = dest + "/" + name;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const bool copied =
        out >= 0 && ReadAll(in, buffer.get(), size) && WriteAll(out, buffer.get(), size);
    close(in);
    if (out >= 0 && close(out) != 0) failures++;
    if (!copied) {
      std::perror(to.c_str());
      failures++;
    }
  }
  closedir(dir);
  return failures == 0 ? 0 : 1;
}
