// The update procedure with stand-in clients that write the start marker
// (or do not) and leave a trace of which one ran: small scripts on Linux,
// copies of a small program on Windows (stand_in_client.cpp).
#include "updater/updater.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/log.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadText;
using test_support::WriteText;

// The client's executable in its folder: "Tessarin", "Tessarin.exe".
const std::string kClient = std::string("Tessarin") + platform::kExecutableSuffix;

// The line that names a stand-in client inside its file.
std::string Mark(const std::string& name) { return "stand-in client " + name + " "; }

bool IsClient(const std::string& path, const std::string& name) {
  return ReadText(path).find(Mark(name)) != std::string::npos;
}

// A stand-in client: records its name in "ran" and, when `starts`, writes
// the start marker as a real client does. One that `holds` is the old
// client of OldClient below instead.
#ifdef _WIN32
void PutClient(const std::string& path, const std::string& name, bool starts, bool holds = false) {
  fs::copy_file(test_support::BuiltProgram("tests/updater/updater_stand_in.exe"), path,
                fs::copy_options::overwrite_existing);
  std::ofstream(path, std::ios::binary | std::ios::app)
      << "\n" << Mark(name) << (holds ? "h" : starts ? "s" : "-") << "\n";
}
#else
void PutClient(const std::string& path, const std::string& name, bool starts) {
  WriteText(path, "#!/bin/sh\n# " + Mark(name) + "\ncd \"$(dirname \"$0\")\"\necho " + name + " >> ran\n" +
                      (starts ? "printf 1234567 > state.txt\n" : ""));
  fs::permissions(path, fs::perms::owner_all);
}
#endif

// The stand-in writes "ran" right after it starts; wait for that.
std::string WaitForRun(const std::string& folder, size_t lines) {
  for (int i = 0; i < 500; ++i) {
    std::string ran = ReadText(folder + "ran");
    if (static_cast<size_t>(std::count(ran.begin(), ran.end(), '\n')) >= lines) return ran;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ReadText(folder + "ran");
}

// The old client, still ending: its executable "current" is in the folder,
// and it holds the instance lock until End(). On Windows it is that very
// executable, running; on Linux a child of the test.
struct OldClient {
  explicit OldClient(const std::string& programFolder) : folder(programFolder) {
#ifdef _WIN32
    PutClient(folder + kClient, "current", true, true);
    EXPECT_TRUE(platform::ProcessStart(folder + kClient, {}));
#else
    PutClient(folder + kClient, "current", true);
    pid = fork();
    if (pid == 0) {
      // Our own look at the lock holds it for a moment: try again then.
      while (platform::AcquireInstanceLock(folder) != platform::InstanceLock::Acquired) usleep(1000);
      sleep(30);
      _exit(0);
    }
#endif
    for (int i = 0; i < 500 && !platform::InstanceLockHeld(folder); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(platform::InstanceLockHeld(folder));
  }
  ~OldClient() { End(); }
  void End() {
#ifdef _WIN32
    WriteText(folder + "end", "");
    for (int i = 0; i < 500 && platform::InstanceLockHeld(folder); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
#else
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
#endif
  }
  std::string folder;
#ifndef _WIN32
  pid_t pid = -1;
#endif
};

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetLogRoot("TSR_Update");
    core::SetRunStamp("120000_000");
  }
  std::string Log() {
    if (!fs::exists(logs.folder.path + "TSR_Update/Normal")) return "";  // nothing written yet
    for (const std::string& file : test_support::ListTree(logs.folder.path + "TSR_Update/Normal")) {
      if (file.back() != '/') return ReadText(logs.folder.path + "TSR_Update/Normal/" + file);
    }
    return "";
  }
  test_support::ScopedLogFolder logs;
  test_support::TempFolder dir;
};

TEST_F(UpdaterTest, ANewClientThatStartsKeepsTheTwoPreviousExecutables) {
  PutClient(dir.path + "Tessarin.old.old", "oldest", true);
  PutClient(dir.path + "Tessarin.old", "older", true);
  PutClient(dir.path + kClient, "current", true);
  PutClient(dir.path + "Tessarin.upd", "new", true);
  WriteText(dir.path + "state.txt", "stale marker of an earlier run");

  EXPECT_TRUE(updater::RunUpdate(dir.path));
  EXPECT_EQ(WaitForRun(dir.path, 1), "new\n");
  EXPECT_TRUE(IsClient(dir.path + kClient, "new"));
  EXPECT_TRUE(IsClient(dir.path + "Tessarin.old", "current"));
  EXPECT_TRUE(IsClient(dir.path + "Tessarin.old.old", "older"));
  EXPECT_FALSE(fs::exists(dir.path + "Tessarin.upd"));
  EXPECT_NE(Log().find("Tesarin start - Ok"), std::string::npos);
}

TEST_F(UpdaterTest, WithoutPreviousExecutablesOnlyWhatExistsIsMoved) {
  PutClient(dir.path + kClient, "current", true);
  PutClient(dir.path + "Tessarin.upd", "new", true);
  EXPECT_TRUE(updater::RunUpdate(dir.path));
  EXPECT_EQ(WaitForRun(dir.path, 1), "new\n");
  EXPECT_TRUE(fs::exists(dir.path + "Tessarin.old"));
  EXPECT_FALSE(fs::exists(dir.path + "Tessarin.old.old"));
}

TEST_F(UpdaterTest, ANewClientWithoutStartMarkerIsReplacedByThePreviousOne) {
  PutClient(dir.path + kClient, "current", true);
  PutClient(dir.path + "Tessarin.upd", "broken", false);
  EXPECT_FALSE(updater::RunUpdate(dir.path));
  EXPECT_EQ(WaitForRun(dir.path, 2), "broken\ncurrent\n");
  EXPECT_TRUE(IsClient(dir.path + kClient, "current"));
  std::string log = Log();
  EXPECT_NE(log.find("Tesarin can't start. state not found."), std::string::npos);
  // Six checks, one per attempt.
  size_t checks = 0;
  for (size_t at = log.find("Check Tesarin start"); at != std::string::npos; at = log.find("Check Tesarin start", at + 1)) {
    ++checks;
  }
  EXPECT_EQ(checks, 6u);
}

TEST_F(UpdaterTest, AClientThatCannotBeStartedIsLogged) {
  // No client at all: nothing to move, nothing to start.
  EXPECT_FALSE(updater::RunUpdate(dir.path));
  EXPECT_NE(Log().find("Error = Can't start Tessarin 2 = 2"), std::string::npos);
}

TEST_F(UpdaterTest, ANewClientThatIsNoProgramIsReplacedByThePreviousOne) {
  PutClient(dir.path + kClient, "current", true);
  WriteText(dir.path + "Tessarin.upd", "not a program\n");
  EXPECT_FALSE(updater::RunUpdate(dir.path));
  EXPECT_EQ(WaitForRun(dir.path, 1), "current\n");
  EXPECT_TRUE(IsClient(dir.path + kClient, "current"));
  EXPECT_NE(Log().find("Error = Can't start Tessarin"), std::string::npos);
}

#ifndef _WIN32
// Windows runs any .exe: there is no mode to carry over.
TEST_F(UpdaterTest, TheNewExecutableTakesThePermissionsOfTheOneItReplaces) {
  const fs::perms mode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
  PutClient(dir.path + kClient, "current", true);
  fs::permissions(dir.path + kClient, mode);
  PutClient(dir.path + "Tessarin.upd", "new", true);
  // Written by the client as plain data.
  fs::permissions(dir.path + "Tessarin.upd", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(updater::RunUpdate(dir.path));
  EXPECT_EQ(WaitForRun(dir.path, 1), "new\n");
  EXPECT_EQ(fs::status(dir.path + kClient).permissions(), mode);
}

#endif

TEST_F(UpdaterTest, TheFilesAreRotatedOnlyOnceTheOldClientHasLetGoOfItsLock) {
  OldClient old(dir.path);
  PutClient(dir.path + "Tessarin.upd", "new", true);
  bool started = false;
  std::thread update([&] { started = updater::RunUpdate(dir.path); });
  bool waiting = false;
  for (int i = 0; i < 200 && !waiting; ++i) {
    waiting = Log().find("Wait Tessarin end") != std::string::npos;
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(waiting);
  EXPECT_TRUE(fs::exists(dir.path + "Tessarin.upd"));  // nothing moved yet
  old.End();
  update.join();
  EXPECT_TRUE(started);
  EXPECT_EQ(WaitForRun(dir.path, 1), "new\n");
  EXPECT_TRUE(IsClient(dir.path + "Tessarin.old", "current"));
  EXPECT_NE(Log().find("Tessarin end - Ok"), std::string::npos);
}

TEST_F(UpdaterTest, AnOldClientThatDoesNotEndIsMovedAsideWhileItRuns) {
  // On Windows a running program can be renamed, though not replaced or
  // deleted: the rotation must only rename it.
  OldClient old(dir.path);
  PutClient(dir.path + "Tessarin.upd", "new", true);
  EXPECT_TRUE(updater::RunUpdate(dir.path));
  EXPECT_EQ(WaitForRun(dir.path, 1), "new\n");
  EXPECT_TRUE(IsClient(dir.path + kClient, "new"));
  EXPECT_TRUE(IsClient(dir.path + "Tessarin.old", "current"));
  EXPECT_NE(Log().find("Tessarin still runs"), std::string::npos);
}

TEST_F(UpdaterTest, TheUpdaterProgramPutsInPlaceTheClientBesideIt) {
  PutClient(dir.path + "Tessarin.old", "older", true);
  PutClient(dir.path + kClient, "current", true);
  PutClient(dir.path + "Tessarin.upd", "new", true);
  const std::string program = std::string("TSR_Update") + platform::kExecutableSuffix;
  fs::copy_file(test_support::BuiltProgram("src/updater/" + program), dir.path + program);
  ASSERT_TRUE(platform::ProcessStart(dir.path + program, {}));
  EXPECT_EQ(WaitForRun(dir.path, 1), "new\n");
  for (int i = 0; i < 500 && Log().find("Tesarin start - Ok") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_NE(Log().find("1.1.3-MT"), std::string::npos);
  EXPECT_NE(Log().find("Tesarin start - Ok"), std::string::npos) << Log();
  EXPECT_TRUE(IsClient(dir.path + kClient, "new"));
  EXPECT_TRUE(IsClient(dir.path + "Tessarin.old.old", "older"));
}

#ifndef _WIN32
// Windows has no signal for a vanished reader.
TEST(Updater, AClosedConsoleDoesNotEndTheUpdater) {
  // The log cannot be made, so the writer complains on stderr, which is a
  // pipe nobody reads any more. Own folder: the test's, which holds no
  // client, so there is nothing to move or start.
  test_support::ScopedLogFolder logs;
  pid_t child = fork();
  if (child == 0) {
    setenv("TMPDIR", (logs.folder.path + "missing/").c_str(), 1);
    int ends[2];
    if (pipe(ends) != 0) _exit(3);
    close(ends[0]);
    dup2(ends[1], 2);
    _exit(updater::RunUpdater());
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}
#endif

}  // namespace
