// Files and folders on Linux: ordinary POSIX files. Every call consults the
// fault table first, so that tests can make it fail.
#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/fault_injection.h"

namespace platform {

namespace {

bool Fail() {
  SetLastSystemError(errno);
  return false;
}

int FdOf(const File& file) { return static_cast<int>(file.handle); }

}  // namespace

bool FileOpen(const std::string& path, OpenMode mode, File* file) {
  file->handle = -1;
  if (FaultFires(Syscall::Open, path.c_str())) return false;
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::ReadExisting:
      flags |= O_RDONLY;
      break;
    case OpenMode::ReadWriteExisting:
      flags |= O_RDWR;
      break;
    case OpenMode::OpenAlways:
      flags |= O_RDWR | O_CREAT;
      break;
    case OpenMode::AppendAlways:
      flags |= O_WRONLY | O_CREAT | O_APPEND;
      break;
    case OpenMode::AppendPrivate:
      flags |= O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
      break;
    case OpenMode::CreateAlways:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case OpenMode::CreateNew:
      flags |= O_WRONLY | O_CREAT | O_EXCL;
      break;
  }
  int fd;
  do {
    fd = open(path.c_str(), flags, mode == OpenMode::AppendPrivate ? 0600 : 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail();
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return Fail();
  }
  file->handle = fd;
  return true;
}

void FileClose(File* file) {
  if (file->handle >= 0) close(FdOf(*file));
  file->handle = -1;
}

bool FileSize(const File& file, int64_t* size) {
  struct stat st;
  if (fstat(FdOf(file), &st) != 0) return Fail();
  *size = st.st_size;
  return true;
}

bool FileDeleted(const File& file) {
  struct stat st;
  if (fstat(FdOf(file), &st) != 0) return true;
  return st.st_nlink == 0;
}

int64_t FileReadAt(const File& file, int64_t offset, void* buffer, size_t count) {
  if (FaultFires(Syscall::Read)) return -1;
  size_t done = 0;
  while (done < count) {
    ssize_t n = pread(FdOf(file), static_cast<char*>(buffer) + done, count - done,
                      static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Fail();
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t FileWriteAt(const File& file, int64_t offset, const void* data, size_t count) {
  if (FaultFires(Syscall::Write)) return -1;
  size_t done = 0;
  while (done < count) {
    ssize_t n = pwrite(FdOf(file), static_cast<const char*>(data) + done, count - done,
                       static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail();
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t FileAppend(const File& file, const void* data, size_t count) {
  if (FaultFires(Syscall::Write)) return -1;
  size_t done = 0;
  while (done < count) {
    ssize_t n = write(FdOf(file), static_cast<const char*>(data) + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail();
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool FileTruncate(const File& file, int64_t size) {
  if (ftruncate(FdOf(file), static_cast<off_t>(size)) != 0) return Fail();
  return true;
}

bool FileSync(const File& file) {
  if (fsync(FdOf(file)) != 0) return Fail();
  return true;
}

bool FileMove(const std::string& from, const std::string& to) {
  bool renamed = !FaultFires(Syscall::Rename, from.c_str()) && rename(from.c_str(), to.c_str()) == 0;
  if (renamed) return true;
  if (errno != EXDEV) return Fail();
  // Another file system: copy, sync, then remove the source.
  if (!FileCopy(from, to, true)) return false;
  if (unlink(from.c_str()) != 0) return Fail();
  return true;
}

bool FileDelete(const std::string& path) {
  if (FaultFires(Syscall::Delete, path.c_str())) return false;
  if (unlink(path.c_str()) != 0) return Fail();
  return true;
}

bool FileLink(const std::string& existing, const std::string& link) {
  if (FaultFires(Syscall::Link, link.c_str())) return false;
  if (::link(existing.c_str(), link.c_str()) != 0) return Fail();
  return true;
}

bool FileCopyMode(const std::string& from, const std::string& to) {
  struct stat st;
  if (stat(from.c_str(), &st) != 0 || chmod(to.c_str(), st.st_mode & 07777) != 0) return Fail();
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FreeDiskSpace(const std::string& folder, uint64_t* bytes) {
  struct statvfs volume;
  if (statvfs(folder.c_str(), &volume) != 0) return false;
  *bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
  return true;
}

namespace {

bool MakeFolder(const std::string& path, mode_t mode) {
  if (FaultFires(Syscall::MakeFolder, path.c_str())) return false;
  if (mkdir(path.c_str(), mode) != 0) return Fail();
  return true;
}

}  // namespace

bool FolderCreate(const std::string& path) { return MakeFolder(path, 0777); }

bool FolderCreatePrivate(const std::string& path) { return MakeFolder(path, 0700); }

bool ListFolder(const std::string& folder, const std::string& pattern, std::vector<FolderEntry>* entries) {
  entries->clear();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return Fail();
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (fnmatch(pattern.c_str(), name.c_str(), 0) != 0) continue;
    struct stat st;
    bool isFolder = stat((base + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries->push_back(FolderEntry{name, isFolder});
  }
  closedir(dir);
  return true;
}

}  // namespace platform
