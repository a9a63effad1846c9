// The whole-file helpers of file.h, built on its other calls and so the same
// on every system (posix/file.cpp and win32/file.cpp define those).
#include "platform/file.h"

#include <vector>

#include "platform/error.h"

namespace platform {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data) {
  data->clear();
  File file;
  if (!FileOpen(path, OpenMode::ReadExisting, &file)) return false;
  int64_t size = 0;
  bool ok = FileSize(file, &size);
  if (ok) {
    data->resize(static_cast<size_t>(size));
    ok = FileReadAt(file, 0, data->data(), data->size()) == size;
  }
  FileClose(&file);
  if (!ok) data->clear();
  return ok;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t count) {
  File file;
  if (!FileOpen(path, OpenMode::CreateAlways, &file)) return false;
  bool ok = FileWriteAt(file, 0, data, count) == static_cast<int64_t>(count);
  FileClose(&file);
  return ok;
}

bool FileCopy(const std::string& from, const std::string& to, bool overwrite) {
  // Through the calls of file.h rather than the system's own copy, so that
  // the same faults reach a copy as reach any other write.
  File source;
  if (!FileOpen(from, OpenMode::ReadExisting, &source)) return false;
  File target;
  if (!FileOpen(to, overwrite ? OpenMode::CreateAlways : OpenMode::CreateNew, &target)) {
    int error = LastSystemError();
    FileClose(&source);
    SetLastSystemError(error);
    return false;
  }
  // On the heap: a buffer in thread-local storage would be cleared at the
  // start of every thread of the process, the web interface's one thread
  // per request included.
  std::vector<char> buffer(65536);
  int64_t offset = 0;
  bool ok = true;
  int error = 0;  // the code of the call that failed
  for (;;) {
    int64_t n = FileReadAt(source, offset, buffer.data(), buffer.size());
    if (n < 0) {
      ok = false;
      error = LastSystemError();
      break;
    }
    if (n == 0) break;
    if (FileWriteAt(target, offset, buffer.data(), static_cast<size_t>(n)) != n) {
      ok = false;
      error = LastSystemError();
      break;
    }
    offset += n;
  }
  if (ok && !FileSync(target)) {
    ok = false;
    error = LastSystemError();
  }
  FileClose(&source);
  FileClose(&target);
  if (!ok) {
    FileDelete(to);
    SetLastSystemError(error);
  }
  return ok;
}

}  // namespace platform
