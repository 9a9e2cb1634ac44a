// POSIX calls behind the file system seam: readdir for searches and sub-folders, stat for
// folders' identities, statvfs for free space, exclusive creation for temporary files and rename
// for the atomic replace.
#include "convert/file_system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "convert/wildcard.h"

std::string ToPosix(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

namespace {

int ToFd(FileHandle file) {
  return static_cast<int>(file);
}

FoundFile Found(const std::string& name, const struct stat& info) {
  const bool folder = S_ISDIR(info.st_mode);
#ifdef __APPLE__
  const timespec& changed = info.st_mtimespec;
#else
  const timespec& changed = info.st_mtim;
#endif
  return {name, folder ? 0 : static_cast<std::uint64_t>(info.st_size),
          static_cast<std::uint64_t>(changed.tv_sec) * 1000000000U +
              static_cast<std::uint64_t>(changed.tv_nsec),
          folder};
}

}  // namespace

std::vector<FoundFile> PosixFileSystem::FindFiles(const std::string& pattern) {
  std::vector<FoundFile> found;
  const std::string path = ToPosix(pattern);
  const std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? path : path.substr(slash + 1);
  // The batch looks up every listed name before it starts; listing the whole folder for each
  // of them would make a large folder cost the square of its size. A name without wildcards
  // that exists as written is the one file a case-insensitive volume would find.
  if (namePattern.find_first_of("*?") == std::string::npos && !namePattern.empty()) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
      found.push_back(Found(namePattern, info));
      return found;
    }
  }
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return found;
  const int dirFd = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!WildcardMatch(namePattern, name)) continue;
    struct stat info {};
    if (fstatat(dirFd, entry->d_name, &info, 0) != 0) info = {};
    found.push_back(Found(name, info));
  }
  closedir(dir);
  return found;
}

std::string PosixFileSystem::VolumeRoot(const std::string& folder) {
  return folder;
}

DiskSpace PosixFileSystem::DiskFree(const std::string& root) {
  DiskSpace space;
  struct statvfs info {};
  if (statvfs(ToPosix(root).c_str(), &info) != 0) return space;
  space.sectorsPerCluster = 1;
  space.bytesPerSector = info.f_frsize;
  space.freeClusters = info.f_bavail;
  space.totalClusters = info.f_blocks;
  return space;
}

FileHandle PosixFileSystem::OpenRead(const std::string& path) {
  const int fd = open(ToPosix(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Failed(errno);
    return kInvalidFile;
  }
  // A folder cannot be opened as a file, as on Windows.
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    Failed(S_ISDIR(info.st_mode) ? EISDIR : errno);
    close(fd);
    return kInvalidFile;
  }
  return fd;
}

NewFile PosixFileSystem::CreateNew(const std::string& path) {
  const int fd = open(ToPosix(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) return {CreateResult::Created, fd};
  if (errno == EEXIST) return {CreateResult::AlreadyExists, kInvalidFile};
  Failed(errno);
  return {};
}

std::uint64_t PosixFileSystem::Size(FileHandle file) {
  struct stat info {};
  if (fstat(ToFd(file), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

bool PosixFileSystem::SeekSet(FileHandle file, std::uint32_t offset) {
  return lseek(ToFd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::uint32_t PosixFileSystem::Read(FileHandle file, void* buffer, std::uint32_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t got = read(ToFd(file), bytes + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Failed(errno);
    if (got <= 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return done;
}

std::uint32_t PosixFileSystem::Write(FileHandle file, const void* buffer, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t put = write(ToFd(file), bytes + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) Failed(errno);
    if (put <= 0) break;
    done += static_cast<std::uint32_t>(put);
  }
  return done;
}

CopyCount PosixFileSystem::CopyBody(FileHandle from, FileHandle to, std::uint32_t count) {
  CopyCount done;
#ifdef __linux__
  // The kernel copies file to file without the bytes passing through this process, and shares
  // the blocks where the file system can. Where it refuses (two file systems, no support, an
  // old kernel) or fails, the rest goes through the buffer: that also tells a failed read from a
  // failed write, which the kernel's one error number cannot, and finds a source cut short.
  while (done.read < count) {
    const ssize_t moved =
        copy_file_range(ToFd(from), nullptr, ToFd(to), nullptr, count - done.read, 0);
    if (moved < 0 && errno == EINTR) continue;
    if (moved <= 0) break;
    done.read += static_cast<std::uint32_t>(moved);
    done.written += static_cast<std::uint32_t>(moved);
  }
#endif
  // Elsewhere (macOS: its whole-file copies cannot stop at the size the header was checked
  // against) every byte goes through the buffer.
  const CopyCount rest = FileSystem::CopyBody(from, to, count - done.read);
  return {done.read + rest.read, done.written + rest.written};
}

bool PosixFileSystem::Close(FileHandle file) {
  if (close(ToFd(file)) == 0) return true;
  Failed(errno);
  return false;
}

bool PosixFileSystem::Replace(const std::string& from, const std::string& to) {
  const std::string source = ToPosix(from);
  const std::string target = ToPosix(to);
#ifdef RENAME_NOREPLACE
  // Most outputs are new, and a rename that may not replace anything settles them without a
  // look-up of the name first; an existing name, or a file system without this kind of rename,
  // takes the road below.
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
#elif defined(RENAME_EXCL)
  // macOS's rename that may not replace anything, to the same end.
  if (renamex_np(source.c_str(), target.c_str(), RENAME_EXCL) == 0) return true;
#endif
  // rename() would replace a file without write permission; refuse it as Windows refuses to
  // replace a read-only file.
  struct stat info {};
  if (stat(target.c_str(), &info) == 0 && (info.st_mode & 0222) == 0) {
    Failed(EACCES);
    return false;
  }
  if (std::rename(source.c_str(), target.c_str()) == 0) return true;
  Failed(errno);
  return false;
}

bool PosixFileSystem::Remove(const std::string& path) {
  if (unlink(ToPosix(path).c_str()) == 0) return true;
  Failed(errno);
  return false;
}

PathKind PosixFileSystem::KindOfPath(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(ToPosix(path).c_str(), &info) != 0) return PathKind::Missing;
  return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::Other;
}

std::string PosixFileSystem::FolderIdentity(const std::string& folder) {
  struct stat info {};
  if (stat(ToPosix(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

std::vector<std::string> PosixFileSystem::SubfolderNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(ToPosix(folder).c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The listing tells most entries' kind itself, which a watch asks of a whole tree every
    // second; not following links keeps a link back up the tree from becoming an endless walk.
    struct stat info {};
    const bool isFolder = entry->d_type == DT_UNKNOWN ? fstatat(dirfd(dir), entry->d_name, &info,
                                                                AT_SYMLINK_NOFOLLOW) == 0 &&
                                                            S_ISDIR(info.st_mode)
                                                      : entry->d_type == DT_DIR;
    if (isFolder) names.push_back(name);
  }
  closedir(dir);
  return names;
}

bool PosixFileSystem::MakeFolder(const std::string& folder) {
  if (mkdir(ToPosix(folder).c_str(), 0777) == 0) return true;
  const int error = errno;
  if (error == EEXIST && KindOfPath(folder) == PathKind::Folder) return true;
  Failed(error);
  return false;
}

LeadByteSet PosixFileSystem::LeadBytes() {
  return {};
}

std::string PosixFileSystem::TakeErrorText() {
  const int error = error_;
  error_ = 0;
  return error != 0 ? std::strerror(error) : "";
}

void PosixFileSystem::Failed(int code) {
  if (error_ == 0) error_ = code;
}
