// tsr-tool doctor [--folder DIR] [--json]: runs every check of doctor.h
// against a program folder's settings and the certificate store, one line
// per check (or one JSON object), and exits 1 when any check failed. Each
// check is given up after its time; see docs/tsr-tool.md.
#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "core/text.h"
#include "doctor.h"
#include "link/transport.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "storage/database.h"
#include "storage/settings.h"

namespace tsr_tool {
namespace doctor {

std::string SettingText(const char* name) {
  std::optional<std::wstring> text = storage::GetSettingText(name);
  return text ? core::ToNarrow(*text, core::kCodePageUtf8) : std::string();
}

std::string DateText(int64_t fileTime) {
  platform::CalendarTime utc = platform::UtcFromUnix(platform::UnixFromFileTime(fileTime));
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", utc.year, utc.month, utc.day);
  return text;
}

namespace {

// In the order they run: a later check reads what the earlier ones found.
const Check kChecks[] = {
    {"folder.programs", 5, CheckPrograms},
    {"folder.database", 15, CheckDatabase},
    {"folder.running", 5, CheckRunning},
    {"folder.disk", 5, CheckDiskSpace},
    {"settings.certificate", 20, CheckCertificate},
    {"settings.container", 30, CheckContainer},
    {"settings.exchange_folder", 10, CheckExchangeFolder},
    {"settings.proxy", 5, CheckProxySettings},
    {"certificates.validity", 10, CheckValidity},
    {"certificates.crl", 20, CheckRevocationList},
    {"network.resolve", 20, CheckResolve},
    {"network.connect", 40, CheckConnect},
    {"network.handshake", 60, CheckHandshake},
    {"network.clock", 120, CheckClock},
    {"network.status", 60, CheckServiceStatus},
    {"web.interface", 40, CheckWebInterface},
};

const char* VerdictText(Verdict verdict) {
  return verdict == Verdict::Ok ? "ok" : verdict == Verdict::Warn ? "warn" : "FAIL";
}

// One check's result, shared with the thread that runs it: a thread that
// overruns its time is left behind, and the rest of the checks do not wait
// for it.
struct Pending {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  Finding finding;
};

Finding RunTimed(const Check& check, Doctor& doctor, bool* overran) {
  auto pending = std::make_shared<Pending>();
  std::thread([pending, &check, &doctor] {
    Finding finding;
    try {
      finding = check.run(doctor);
    } catch (const std::exception& error) {
      finding = Fail("Проверка прервалась", error.what());
    }
    std::lock_guard<std::mutex> hold(pending->lock);
    pending->finding = std::move(finding);
    pending->finished = true;
    pending->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> hold(pending->lock);
  if (!pending->done.wait_for(hold, std::chrono::seconds(check.timeoutSeconds), [&] { return pending->finished; })) {
    *overran = true;
    return Fail("Проверка не закончилась за " + std::to_string(check.timeoutSeconds) + " с",
                "timed out; the checks after it were not run");
  }
  return pending->finding;
}

std::string FolderOf(const std::string& dir) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(dir), error);
  return platform::AsFolder((error ? std::filesystem::path(dir) : path).string());
}

}  // namespace
}  // namespace doctor

int RunDoctor(const Command& self, const std::vector<std::string>& args) {
  using namespace doctor;
  std::string dir = ".";
  bool json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--folder" && i + 1 < args.size()) {
      dir = args[++i];
    } else if (args[i] == "--json") {
      json = true;
    } else {
      return UsageError(self, "unexpected argument " + args[i]);
    }
  }
  // What the client's functions would show the user is in the checks'
  // findings; the console is the doctor's.
  platform::ui::SetConsoleEcho(false);
  // Lives to the end of the process: a check that overran may still use
  // it until the process ends without running destructors.
  static Doctor doctorState;
  Doctor* state = &doctorState;
  state->folder = FolderOf(dir);
  serverlink::SetTransportLimits({state->timeoutMs, state->timeoutMs, serverlink::kDefaultTransportLimits.maxAnswerBytes});

  nlohmann::json checks = nlohmann::json::array();
  int failed = 0;
  int warnings = 0;
  bool overran = false;
  for (const Check& check : kChecks) {
    Finding finding = RunTimed(check, *state, &overran);
    if (finding.verdict == Verdict::Fail) ++failed;
    if (finding.verdict == Verdict::Warn) ++warnings;
    if (json) {
      checks.push_back({{"check", check.name}, {"verdict", VerdictText(finding.verdict)},
                        {"message", finding.message}, {"detail", finding.detail}});
    } else {
      std::printf("%-4s %-25s %s%s%s\n", VerdictText(finding.verdict), check.name, finding.message.c_str(),
                  finding.detail.empty() ? "" : " | ", finding.detail.c_str());
      std::fflush(stdout);
    }
    if (overran) break;
  }
  if (json) {
    nlohmann::json answer = {{"folder", state->folder}, {"checks", checks}, {"failed", failed},
                             {"warnings", warnings}, {"ok", failed == 0}};
    std::printf("%s\n", answer.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    std::printf("%d failed, %d warnings\n", failed, warnings);
  }
  std::fflush(stdout);
  int code = failed > 0 ? kExitFailure : kExitOk;
  // A check left behind may still hold the database or a socket.
  if (overran) std::_Exit(code);
  storage::CloseDatabase();
  return code;
}

}  // namespace tsr_tool
