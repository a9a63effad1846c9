// The update of the real client by the real updater, through the simulator:
// a program folder with a space in its name holds the built client and
// TSR_Update; the simulator publishes another program. The client finds
// the difference at start, downloads the program and hands it to the
// updater, which starts the new client (or, when it does not start, the
// previous one again). A download that is not the published program is
// never installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "client_process.h"
#include "core/text.h"
#include "link/transport.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test_support::ReadBytes;

// Polls the condition for up to `seconds`.
template <typename Condition>
bool WaitFor(Condition condition, int seconds = 120) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// A process that runs (not a zombie nobody reaped).
bool Alive(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string skip, state;
  return pid > 0 && stat >> skip >> skip >> state && state != "Z";
}

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(folder);
    fs::copy_file(test_support::BuiltProgram("src/shell/Tessarin"), folder + "Tessarin");
    // Without its debug information and symbols: a sanitizer build's would
    // take the program past the longest answer the transport accepts, and
    // every download is the whole program.
    const std::string strip = "strip --strip-all '" + folder + "Tessarin'";
    ASSERT_EQ(std::system(strip.c_str()), 0) << strip;
    // A program past the limit would be cut off at every download and the
    // test would only time out.
    ASSERT_LT(fs::file_size(folder + "Tessarin") + (1u << 16), serverlink::kDefaultTransportLimits.maxAnswerBytes)
        << "the client is too large to be published in this build";
    fs::copy_file(test_support::BuiltProgram("src/updater/TSR_Update"), folder + "TSR_Update");
    fs::copy(sim_test::PkiFolder(), store.path, fs::copy_options::recursive);
    original = ReadBytes(folder + "Tessarin");
    const std::string iks = sim_test::PkiIks("beta");
    for (const auto& [setting, value] : {std::pair<std::string, std::string>{"IDC_CERT", iks},
                                         {"IDC_PASS", "12345678"}, {"IDC_EMAIL", "beta@example.by"}}) {
      std::string command = test_support::BuiltProgram("tools/tsr-tool/tsr-tool") + " settings set " + setting +
                            " '" + value + "' --folder '" + folder + "' >/dev/null";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
  }

  // A sanitizer report on the console of either client fails the test (the
  // client the updater starts shares the console of the first); a client the
  // updater started is stopped.
  void TearDown() override {
    std::string console = client.Console();
    for (const char* report : {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
      EXPECT_EQ(console.find(report), std::string::npos) << console;
    }
    int pid = StatePid();
    if (pid != firstPid && Alive(pid)) {
      kill(pid, SIGTERM);
      EXPECT_TRUE(WaitFor([pid] { return !Alive(pid); }, 10)) << "the restarted client did not end";
    }
  }

  // The simulator, publishing `program` at start when it is not empty.
  void StartSim(const std::vector<uint8_t>& program) {
    std::vector<std::string> arguments{"--quiet"};
    if (!program.empty()) {
      test_support::WriteBytes(temp.path + "published", program);
      arguments.insert(arguments.end(), {"--publish", temp.path + "published"});
    }
    sim = std::make_unique<sim_test::SimProcess>(arguments);
    ASSERT_TRUE(sim->started());
    ASSERT_EQ(sim->Post("/organisations", json{{"pki", "beta"}}).status, 201);
  }

  void StartClient() {
    client.Start(folder, temp.path, {{"TESSARIN_CERTSTORE", store.path}, {"TESSARIN_SERVER", sim->endpoint()}});
    firstPid = client.pid;
  }

  // The process id in the folder's "state.txt" (0 while it holds none).
  int StatePid() {
    std::vector<uint8_t> record = fs::exists(folder + "state.txt") ? ReadBytes(folder + "state.txt")
                                                                    : std::vector<uint8_t>{};
    if (record.size() != 11) return 0;
    return record[7] | record[8] << 8 | record[9] << 16 | record[10] << 24;
  }

  // Waits for a client other than the first to run from the folder.
  int WaitForNewClient() {
    int pid = 0;
    WaitFor([&] {
      pid = StatePid();
      return pid != 0 && pid != firstPid && Alive(pid);
    });
    return pid != firstPid && Alive(pid) ? pid : 0;
  }

  // Every log line written so far under the temporary folder by a program
  // ("Tessarin" or "TSR_Update").
  std::string LogText(const std::string& program) {
    std::string text;
    if (!fs::exists(temp.path + program)) return text;
    for (const auto& entry : fs::recursive_directory_iterator(temp.path + program)) {
      if (entry.is_regular_file()) text += test_support::ReadText(entry.path().string());
    }
    return text;
  }

  // The updater keeps its log in the same temporary folder.
  bool UpdaterRan() { return fs::exists(temp.path + "TSR_Update"); }

  test_support::TempFolder root;
  std::string folder = root.path + "Tessarin client/";  // the program folder
  test_support::TempFolder temp;                        // its temporary folder and logs
  test_support::TempFolder store;                       // its certificate store
  std::vector<uint8_t> original;                        // the client first in the folder
  std::unique_ptr<sim_test::SimProcess> sim;
  shell_test::ClientProcess client;
  int firstPid = 0;  // the client the test started
};

TEST_F(UpdateTest, TheClientDownloadsThePublishedProgramAndTheUpdaterStartsIt) {
  // The same client with bytes added: another digest, still a program.
  std::vector<uint8_t> published = original;
  for (char byte : std::string("new version")) published.push_back(static_cast<uint8_t>(byte));
  StartSim(published);
  StartClient();
  // The first client ends by itself once the updater runs (a sanitizer
  // build takes its time over the download).
  EXPECT_EQ(client.Wait(300), 0) << client.Console();
  const int pid = WaitForNewClient();
  ASSERT_NE(pid, 0) << LogText("TSR_Update");
  EXPECT_TRUE(ReadBytes(folder + "Tessarin") == published);
  EXPECT_TRUE(ReadBytes(folder + "Tessarin.old") == original);
  EXPECT_FALSE(fs::exists(folder + "Tessarin.upd"));
  // The updater sees the marker at its next look.
  EXPECT_TRUE(WaitFor([&] { return LogText("TSR_Update").find("Tesarin start - Ok") != std::string::npos; }))
      << LogText("TSR_Update");
  // The new client's digest is the published one: it does not update again.
  ASSERT_TRUE(WaitFor([&] { return LogText("Tessarin").find("Обновление не требуется") != std::string::npos; }))
      << LogText("Tessarin");
  EXPECT_THAT(LogText("Tessarin"), ::testing::HasSubstr("Restart"));
  EXPECT_EQ(sim->Counter("requests.9"), 1);
  EXPECT_TRUE(Alive(pid));
}

TEST_F(UpdateTest, ADownloadThatIsNotThePublishedProgramIsNeverInstalled) {
  StartSim({});
  const std::vector<uint8_t> published(64 << 10, 'x');
  // Not required: the status request passes, so only the check at start
  // and the one asked for on the console download.
  ASSERT_EQ(sim->Post("/version", json{{"contentBase64", core::Base64Encode(published)}, {"required", false}}).status,
            201);
  ASSERT_EQ(sim->Post("/faults", json{{"action", "corrupt"}, {"type", 9}, {"count", 5}}).status, 201);
  StartClient();
  const char failure[] = "Загруженная программа не совпадает с опубликованной";
  ASSERT_TRUE(WaitFor([&] { return LogText("Tessarin").find(failure) != std::string::npos || UpdaterRan(); }))
      << LogText("Tessarin");
  ASSERT_FALSE(UpdaterRan());
  client.Type("update");
  ASSERT_TRUE(client.WaitForConsole("Требуется обновление. Программа будет перезапущена.", 120)) << client.Console();
  EXPECT_EQ(sim->Counter("requests.9"), 2);
  std::string log = LogText("Tessarin");
  EXPECT_NE(log.find(failure, log.find(failure) + 1), std::string::npos) << "the second download failed too";
  EXPECT_TRUE(ReadBytes(folder + "Tessarin") == original);
  EXPECT_FALSE(fs::exists(folder + "Tessarin.upd"));
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
}

TEST_F(UpdateTest, ADownloadThatIsNotWrittenWholeIsNeverInstalled) {
  StartSim({});
  const std::vector<uint8_t> published(2 << 20, 'x');
  ASSERT_EQ(sim->Post("/version", json{{"contentBase64", core::Base64Encode(published)}, {"required", false}}).status,
            201);
  // The client may write no file longer than 1 MiB (its log and database
  // stay far below): the update file is cut short.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limit = saved;
  limit.rlim_cur = 1 << 20;
  setrlimit(RLIMIT_FSIZE, &limit);
  sighandler_t action = signal(SIGXFSZ, SIG_IGN);
  StartClient();
  signal(SIGXFSZ, action);
  setrlimit(RLIMIT_FSIZE, &saved);
  ASSERT_TRUE(WaitFor([&] {
    return LogText("Tessarin").find("Ошибка сохранения файла с АИС") != std::string::npos || UpdaterRan();
  })) << LogText("Tessarin");
  ASSERT_FALSE(UpdaterRan());
  EXPECT_EQ(sim->Counter("requests.9"), 1);
  EXPECT_TRUE(ReadBytes(folder + "Tessarin") == original);
  EXPECT_FALSE(fs::exists(folder + "Tessarin.upd"));
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
}

TEST_F(UpdateTest, APublishedProgramThatNeverStartsIsRolledBackAndThePreviousClientRunsAgain) {
  // It runs, but never writes the start marker within the updater's watch.
  std::string script = "#!/bin/sh\nsleep 5\n";
  StartSim(std::vector<uint8_t>(script.begin(), script.end()));
  StartClient();
  // Once downloaded, the version is withdrawn: the client put back finds
  // nothing to update and stays.
  ASSERT_TRUE(WaitFor([&] { return sim->Counter("requests.9") == 1; })) << client.Console();
  ASSERT_EQ(sim->Delete("/version").status, 200);
  EXPECT_EQ(client.Wait(300), 0) << client.Console();
  ASSERT_NE(WaitForNewClient(), 0) << LogText("TSR_Update");
  EXPECT_THAT(LogText("TSR_Update"), ::testing::HasSubstr("Tesarin can't start. state not found."));
  EXPECT_TRUE(ReadBytes(folder + "Tessarin") == original);
  EXPECT_EQ(sim->Counter("requests.9"), 1);
}

}  // namespace
