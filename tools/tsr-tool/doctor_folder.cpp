// tsr-tool doctor, the program folder: both programs present, "TS.db" opens
// with the client's schema (its settings are loaded for the later checks),
// whether a client holds the folder's single-instance lock, free space.
#include <string>

#include "doctor.h"
#include "platform/file.h"
#include "platform/instance_lock.h"
#include "storage/database.h"
#include "storage/settings.h"

namespace tsr_tool::doctor {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kDiskFailBelow = 50 * kMiB;   // a day's documents no longer fit
constexpr uint64_t kDiskWarnBelow = 500 * kMiB;

bool ProgramPresent(const std::string& folder, const std::string& name) {
  return platform::FileExists(folder + name) || platform::FileExists(folder + name + ".exe");
}

}  // namespace

Finding CheckPrograms(Doctor& doctor) {
  std::string missing;
  for (const char* name : {"Tessarin", "TSR_Update"}) {
    if (!ProgramPresent(doctor.folder, name)) missing += missing.empty() ? name : std::string(", ") + name;
  }
  if (missing.empty()) return Ok("Программы Tessarin и TSR_Update на месте", doctor.folder);
  return Fail("Нет программы " + missing + " в папке программы: переустановите клиент",
              "missing in " + doctor.folder + ": " + missing);
}

Finding CheckDatabase(Doctor& doctor) {
  std::string path = doctor.folder + "TS.db";
  if (!platform::FileExists(path)) {
    return Fail("Нет базы TS.db: клиент ни разу не запускался в этой папке", path + " does not exist");
  }
  // No script: the client's statements are prepared against the tables as
  // they are, which fails unless the schema is the client's.
  if (!storage::OpenDatabase(path, "")) {
    return Fail("База TS.db не открывается или не от этого клиента: обратитесь в техподдержку",
                path + ": open or statement preparation failed (see the Error log)");
  }
  storage::LoadSettings();
  doctor.settings = true;
  return Ok("База TS.db открывается, схема клиента",
            std::to_string(storage::SettingsSnapshot().size()) + " settings");
}

Finding CheckRunning(Doctor& doctor) {
  if (platform::InstanceLockHeld(doctor.folder)) return Ok("Клиент запущен", "instance lock held");
  return Warn("Клиент не запущен в этой папке: запустите Tessarin", "instance lock free");
}

Finding CheckDiskSpace(Doctor& doctor) {
  uint64_t bytes = 0;
  if (!platform::FreeDiskSpace(doctor.folder, &bytes)) {
    return Warn("Не удалось узнать свободное место на диске", "FreeDiskSpace failed");
  }
  std::string detail = std::to_string(bytes / kMiB) + " MiB free";
  if (bytes < kDiskFailBelow) return Fail("На диске почти нет места: освободите место", detail);
  if (bytes < kDiskWarnBelow) return Warn("На диске мало места: освободите место", detail);
  return Ok("Свободного места на диске достаточно", detail);
}

}  // namespace tsr_tool::doctor
