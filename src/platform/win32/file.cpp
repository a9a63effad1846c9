// Files and folders on Windows: CreateFileW with the sharing the program
// always asks for (others may read, write and delete), positioned reads and
// writes, MoveFileExW with the copy fallback, FindFirstFileW for listings.
// Paths arrive as UTF-8 and are converted here. Every call consults the
// fault table first, so that tests can make it fail.
#include "platform/file.h"

#include <windows.h>

#include "platform/error.h"
#include "platform/fault_injection.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

using win32::Wide;

bool Fail() {
  SetLastSystemError(static_cast<int>(GetLastError()));
  return false;
}

HANDLE HandleOf(const File& file) { return reinterpret_cast<HANDLE>(file.handle); }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// One ReadFile or WriteFile at an offset; the count moved, or -1.
int64_t TransferAt(const File& file, int64_t offset, void* buffer, size_t count, bool write) {
  size_t done = 0;
  while (done < count) {
    const size_t left = count - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    OVERLAPPED at{};
    const uint64_t position = static_cast<uint64_t>(offset) + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD moved = 0;
    char* part = static_cast<char*>(buffer) + done;
    BOOL ok = write ? WriteFile(HandleOf(file), part, chunk, &moved, &at)
                    : ReadFile(HandleOf(file), part, chunk, &moved, &at);
    if (!ok) {
      if (!write && GetLastError() == ERROR_HANDLE_EOF) break;
      Fail();
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    if (moved == 0) {
      if (write) {
        Fail();
        return done > 0 ? static_cast<int64_t>(done) : -1;
      }
      break;
    }
    done += moved;
  }
  return static_cast<int64_t>(done);
}

}  // namespace

bool FileOpen(const std::string& path, OpenMode mode, File* file) {
  file->handle = -1;
  if (FaultFires(Syscall::Open, path.c_str())) return false;
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_ALWAYS;
  switch (mode) {
    case OpenMode::ReadExisting:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      break;
    case OpenMode::ReadWriteExisting:
      disposition = OPEN_EXISTING;
      break;
    case OpenMode::OpenAlways:
      break;
    case OpenMode::AppendAlways:
    case OpenMode::AppendPrivate:  // the temporary folder is the user's own on Windows
      access = GENERIC_WRITE;
      break;
    case OpenMode::CreateAlways:
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::CreateNew:
      access = GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
  }
  HANDLE handle = CreateFileW(Wide(path).c_str(), access, kShareAll, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail();
  file->handle = reinterpret_cast<intptr_t>(handle);
  return true;
}

void FileClose(File* file) {
  if (file->handle != -1) CloseHandle(HandleOf(*file));
  file->handle = -1;
}

bool FileSize(const File& file, int64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(HandleOf(file), &value)) return Fail();
  *size = value.QuadPart;
  return true;
}

bool FileDeleted(const File& file) {
  FILE_STANDARD_INFO info{};
  if (!GetFileInformationByHandleEx(HandleOf(file), FileStandardInfo, &info, sizeof(info))) return true;
  return info.DeletePending || info.NumberOfLinks == 0;
}

int64_t FileReadAt(const File& file, int64_t offset, void* buffer, size_t count) {
  if (FaultFires(Syscall::Read)) return -1;
  return TransferAt(file, offset, buffer, count, false);
}

int64_t FileWriteAt(const File& file, int64_t offset, const void* data, size_t count) {
  if (FaultFires(Syscall::Write)) return -1;
  return TransferAt(file, offset, const_cast<void*>(data), count, true);
}

int64_t FileAppend(const File& file, const void* data, size_t count) {
  if (FaultFires(Syscall::Write)) return -1;
  size_t done = 0;
  while (done < count) {
    const size_t left = count - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    // Both halves of the offset all ones: at the end of the file, as it is
    // at the moment of the write, whoever else appends.
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD moved = 0;
    if (!WriteFile(HandleOf(file), static_cast<const char*>(data) + done, chunk, &moved, &atEnd) || moved == 0) {
      Fail();
      return done > 0 ? static_cast<int64_t>(done) : -1;
    }
    done += moved;
  }
  return static_cast<int64_t>(done);
}

bool FileTruncate(const File& file, int64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  if (!SetFileInformationByHandle(HandleOf(file), FileEndOfFileInfo, &end, sizeof(end))) return Fail();
  return true;
}

bool FileSync(const File& file) {
  if (!FlushFileBuffers(HandleOf(file))) return Fail();
  return true;
}

bool FileMove(const std::string& from, const std::string& to) {
  if (FaultFires(Syscall::Rename, from.c_str())) {
    // A move the system would have done by copying: the copy, sync and
    // delete that MOVEFILE_COPY_ALLOWED does, here through our own calls.
    if (ErrorKindOf(LastSystemError()) != ErrorKind::CrossDevice) return false;
    if (!FileCopy(from, to, true)) return false;
    if (!DeleteFileW(Wide(from).c_str())) return Fail();
    return true;
  }
  if (!MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    return Fail();
  }
  return true;
}

bool FileDelete(const std::string& path) {
  if (FaultFires(Syscall::Delete, path.c_str())) return false;
  if (!DeleteFileW(Wide(path).c_str())) return Fail();
  return true;
}

bool FileLink(const std::string& existing, const std::string& link) {
  if (FaultFires(Syscall::Link, link.c_str())) return false;
  if (!CreateHardLinkW(Wide(link).c_str(), Wide(existing).c_str(), nullptr)) return Fail();
  return true;
}

bool FileCopyMode(const std::string& from, const std::string& to) {
  // Windows runs any .exe; what there is to carry over is the read-only bit.
  DWORD source = GetFileAttributesW(Wide(from).c_str());
  DWORD target = GetFileAttributesW(Wide(to).c_str());
  if (source == INVALID_FILE_ATTRIBUTES || target == INVALID_FILE_ATTRIBUTES) return Fail();
  target = (target & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) | (source & FILE_ATTRIBUTE_READONLY);
  if (!SetFileAttributesW(Wide(to).c_str(), target)) return Fail();
  return true;
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FreeDiskSpace(const std::string& folder, uint64_t* bytes) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(Wide(folder).c_str(), &available, nullptr, nullptr)) return false;
  *bytes = available.QuadPart;
  return true;
}

bool FolderCreate(const std::string& path) {
  if (FaultFires(Syscall::MakeFolder, path.c_str())) return false;
  if (!CreateDirectoryW(Wide(path).c_str(), nullptr)) return Fail();
  return true;
}

// A folder under the user's profile is the user's own by its inherited
// access list.
bool FolderCreatePrivate(const std::string& path) { return FolderCreate(path); }

bool ListFolder(const std::string& folder, const std::string& pattern, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Wide(base + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // No match in a folder that is there is an empty listing.
    if (GetLastError() == ERROR_FILE_NOT_FOUND && FolderExists(folder)) return true;
    return Fail();
  }
  do {
    std::string name = win32::Narrow(found.cFileName, wcslen(found.cFileName));
    if (name == "." || name == "..") continue;
    entries->push_back(FolderEntry{name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    SetLastSystemError(static_cast<int>(error));
    return false;
  }
  return true;
}

}  // namespace platform
