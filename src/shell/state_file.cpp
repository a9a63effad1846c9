// "state.txt" (see state_file.h). Written by the start-up and by the
// exchange-folder heartbeat; read by a second client at start.
#include "shell/state_file.h"

#include "core/client_state.h"
#include "core/log.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"

namespace shell {

namespace {

void PutLittleEndian(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool WriteStateFile(uint32_t handle, const std::string& folder) {
  platform::File file;
  if (!platform::FileOpen(folder + "state.txt", platform::OpenMode::OpenAlways, &file)) {
    core::LogError("Не удалось открыть файл", platform::LastSystemError());
    return false;
  }
  uint8_t record[kStateRecordLong];
  PutLittleEndian(record, static_cast<uint32_t>(platform::UnixNow()));
  record[4] = core::FolderBusy() ? 1 : 0;
  record[5] = core::MoveBusy() ? 1 : 0;
  record[6] = static_cast<uint8_t>(core::GetClientState());
  PutLittleEndian(record + 7, handle);
  size_t size = handle != 0 ? kStateRecordLong : kStateRecordShort;
  bool ok = platform::FileWriteAt(file, 0, record, size) == static_cast<int64_t>(size);
  if (!ok) core::LogError("Не удалось записать файл", platform::LastSystemError());
  platform::FileClose(&file);
  return ok;
}

uint32_t ReadStateFile(const std::string& folder) {
  platform::File file;
  if (!platform::FileOpen(folder + "state.txt", platform::OpenMode::ReadExisting, &file)) {
    core::LogError("Не удалось открыть файл", platform::LastSystemError());
    return 0;
  }
  uint32_t handle = 0;
  int64_t size = 0;
  uint8_t record[kStateRecordLong];
  if (platform::FileSize(file, &size) && size == static_cast<int64_t>(kStateRecordLong) &&
      platform::FileReadAt(file, 0, record, sizeof(record)) == static_cast<int64_t>(sizeof(record))) {
    for (int i = 0; i < 4; ++i) handle |= uint32_t{record[7 + i]} << (8 * i);
  }
  platform::FileClose(&file);
  return handle;
}

}  // namespace shell
