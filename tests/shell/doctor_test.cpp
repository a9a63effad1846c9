// tsr-tool doctor against real broken set-ups: the tests' PKI (its expired
// certificate, the out-of-date list of CA 10, a wrong PIN), a proxy that
// refuses, the simulator with its clock shifted, a read-only exchange
// folder, a web port nobody serves; and the whole run as JSON.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "loopback_server.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using link_test::ChildProcess;
using link_test::FreePort;
using link_test::ProgramExists;

class DoctorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(std::string(AIS_SIM_TEST_PKI), store.path, fs::copy_options::recursive);
    test_support::WriteText(program.path + "Tessarin", "");
    test_support::WriteText(program.path + "TSR_Update", "");
    Setting("IDC_CERT", sim_test::PkiIks("alpha"));
    Setting("IDC_PASS", "12345678");
  }

  void Setting(const std::string& name, const std::string& value) {
    ASSERT_EQ(test_support::RunTool("settings set " + name + " '" + value + "' --folder " + program.path).exitCode, 0);
  }

  void StartSim() {
    sim = std::make_unique<sim_test::SimProcess>(std::vector<std::string>{"--quiet"});
    ASSERT_TRUE(sim->started());
    ASSERT_EQ(sim->Post("/organisations", json{{"pki", "alpha"}}).status, 201);
    server = sim->endpoint();
  }

  // Runs the doctor; its exit code, its output in `output` and each
  // check's verdict (and line) in `verdicts` (`lines`).
  int Doctor(const std::string& extra = "") {
    std::string command = "TMPDIR='" + temp.path + "' TESSARIN_CERTSTORE='" + store.path + "' TESSARIN_SERVER=" +
                          server + " TESSARIN_WEB_PORT=" + std::to_string(webPort) + " " +
                          test_support::BuiltProgram("tools/tsr-tool/tsr-tool") + " doctor --folder '" +
                          program.path + "' " + extra + " >'" + temp.path + "out.txt' 2>&1";
    int status = std::system(command.c_str());
    output = test_support::ReadText(temp.path + "out.txt");
    verdicts.clear();
    std::istringstream text(output);
    std::string line;
    while (std::getline(text, line)) {
      std::istringstream words(line);
      std::string verdict, check;
      if (words >> verdict >> check && check.find('.') != std::string::npos) {
        verdicts[check] = verdict;
        lines[check] = line;
      }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  test_support::TempFolder program;
  test_support::TempFolder temp;
  test_support::TempFolder store;
  std::unique_ptr<sim_test::SimProcess> sim;
  std::string server = "127.0.0.1:1";
  uint16_t webPort = FreePort();
  std::string output;
  std::map<std::string, std::string> verdicts;
  std::map<std::string, std::string> lines;
};

TEST_F(DoctorTest, AWorkingSetUpPassesAndAShiftedServerClockFailsTheHandshakeWithCode12) {
  StartSim();
  ASSERT_EQ(Doctor("--json"), 0) << output;
  json answer = json::parse(output);
  EXPECT_EQ(answer["failed"], 0);
  EXPECT_EQ(answer["checks"].size(), 16u);
  std::map<std::string, std::string> seen;
  for (const json& check : answer["checks"]) seen[check["check"]] = check["verdict"];
  for (const char* check : {"folder.programs", "folder.database", "settings.certificate", "settings.container",
                            "certificates.validity", "certificates.crl", "network.connect", "network.handshake",
                            "network.clock", "network.status"}) {
    EXPECT_EQ(seen[check], "ok") << check << "\n" << output;
  }
  EXPECT_EQ(seen["folder.running"], "warn");  // no client runs in the folder

  ASSERT_EQ(sim->Post("/clock", json{{"shift", 400}}).status, 200);
  EXPECT_EQ(Doctor(), 1) << output;
  EXPECT_EQ(verdicts["network.connect"], "ok") << output;
  EXPECT_EQ(verdicts["network.handshake"], "FAIL") << output;
  EXPECT_NE(lines["network.handshake"].find("код 12"), std::string::npos) << output;
  EXPECT_EQ(verdicts["network.clock"], "FAIL") << output;
  EXPECT_EQ(verdicts["network.status"], "warn") << output;
  // The distance and the tolerance (300 s), found by shifted session starts.
  const std::string& clock = lines["network.clock"];
  EXPECT_NE(clock.find("отстают примерно на 6 мин"), std::string::npos) << output;
  size_t at = clock.find("clock is ");
  ASSERT_NE(at, std::string::npos) << output;
  int distance = std::atoi(clock.c_str() + at + 9);
  EXPECT_TRUE(distance >= 396 && distance <= 404) << output;
  at = clock.find("tolerance about ");
  ASSERT_NE(at, std::string::npos) << output;
  int tolerance = std::atoi(clock.c_str() + at + 16);
  EXPECT_TRUE(tolerance >= 296 && tolerance <= 304) << output;
}

TEST_F(DoctorTest, AnExpiredCertificateAnOutOfDateListAWrongPinAndNoServerEachFailTheirCheck) {
  Setting("IDC_CERT", sim_test::PkiIks("expired"));
  test_support::WriteText(program.path + "interface.web", "");
  EXPECT_EQ(Doctor(), 1);
  EXPECT_EQ(verdicts["settings.certificate"], "FAIL") << output;
  EXPECT_NE(lines["settings.certificate"].find("истек"), std::string::npos) << output;
  EXPECT_EQ(verdicts["network.connect"], "FAIL") << output;
  EXPECT_EQ(verdicts["web.interface"], "FAIL") << output;  // nobody serves the web port

  Setting("IDC_CERT", sim_test::PkiIks("ten"));
  EXPECT_EQ(Doctor(), 1);
  EXPECT_EQ(verdicts["settings.certificate"], "ok") << output;
  EXPECT_EQ(verdicts["certificates.validity"], "ok") << output;
  EXPECT_EQ(verdicts["certificates.crl"], "FAIL") << output;
  EXPECT_NE(lines["certificates.crl"].find("2021-01-01"), std::string::npos) << output;

  // An issuer without a list; then lists whose issuer's certificate is gone.
  Setting("IDC_CERT", sim_test::PkiIks("other"));
  Doctor();
  EXPECT_EQ(verdicts["certificates.crl"], "FAIL") << output;
  EXPECT_NE(lines["certificates.crl"].find("no list of the issuer"), std::string::npos) << output;
  Setting("IDC_CERT", sim_test::PkiIks("alpha"));
  fs::rename(store.path + "CA/ca1.pem", temp.path + "ca1.pem");
  Doctor();
  fs::rename(temp.path + "ca1.pem", store.path + "CA/ca1.pem");
  EXPECT_EQ(verdicts["certificates.crl"], "FAIL") << output;
  EXPECT_NE(lines["certificates.crl"].find("does not verify"), std::string::npos) << output;

  Setting("IDC_PASS", "87654321");
  EXPECT_EQ(Doctor(), 1);
  EXPECT_EQ(verdicts["certificates.crl"], "ok") << output;
  EXPECT_EQ(verdicts["settings.container"], "FAIL") << output;
  EXPECT_EQ(output.find("87654321"), std::string::npos) << output;
  EXPECT_EQ(verdicts["network.handshake"], "warn") << output;
}

TEST_F(DoctorTest, AProxyThatRefusesIsReportedWithItsOwnAnswer) {
  ASSERT_TRUE(ProgramExists("/usr/bin/tinyproxy"));
  StartSim();
  uint16_t port = FreePort();
  test_support::WriteText(temp.path + "tinyproxy.conf",
                          "Port " + std::to_string(port) +
                              "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nBasicAuth alice s3cret\n");
  ChildProcess proxy({"/usr/bin/tinyproxy", "-d", "-c", temp.path + "tinyproxy.conf"}, temp.path + "tinyproxy.log");
  ASSERT_TRUE(proxy.WaitForPort(port, 10000));
  Setting("IDC_PROXY_USE", "1");
  Setting("IDC_PROXY_T", "1");
  Setting("IDC_PROXY_A", "127.0.0.1");
  Setting("IDC_PROXY_PORT", std::to_string(port));
  EXPECT_EQ(Doctor(), 1);
  EXPECT_EQ(verdicts["settings.proxy"], "ok") << output;
  EXPECT_EQ(verdicts["network.connect"], "FAIL") << output;
  EXPECT_NE(lines["network.connect"].find("407"), std::string::npos) << output;

  Setting("IDC_PROXY_USER", "alice");
  Setting("IDC_PROXY_PASS", "s3cret");
  EXPECT_EQ(Doctor(), 0) << output;
  EXPECT_EQ(verdicts["network.connect"], "ok") << output;
  EXPECT_NE(lines["network.connect"].find(" 200 "), std::string::npos) << output;
  EXPECT_EQ(verdicts["network.handshake"], "ok") << output;

  // A SOCKS5 proxy that wants a user name: the client offers no
  // authentication, which it refuses.
  ASSERT_TRUE(ProgramExists("/usr/bin/microsocks"));
  uint16_t socksPort = FreePort();
  ChildProcess socks({"/usr/bin/microsocks", "-i", "127.0.0.1", "-p", std::to_string(socksPort), "-u", "alice", "-P",
                      "s3cret"},
                     temp.path + "microsocks.log");
  ASSERT_TRUE(socks.WaitForPort(socksPort, 10000));
  Setting("IDC_PROXY_T", "5");
  Setting("IDC_PROXY_PORT", std::to_string(socksPort));
  EXPECT_EQ(Doctor(), 1);
  EXPECT_EQ(verdicts["settings.proxy"], "warn") << output;  // SOCKS5 goes without the user name
  EXPECT_EQ(verdicts["network.connect"], "FAIL") << output;
  EXPECT_NE(lines["network.connect"].find("SOCKS5"), std::string::npos) << output;
}

TEST_F(DoctorTest, AnExchangeFolderTheClientCannotWriteFailsItsCheck) {
  test_support::TempFolder exchange;
  fs::create_directory(exchange.path + "out");
  fs::create_directory(exchange.path + "in");
  Setting("IDC_SERVICE", "1");
  Setting("IDC_PATH", exchange.path);
  Doctor();
  EXPECT_EQ(verdicts["settings.exchange_folder"], "ok") << output;

  // Read-only for anyone, root included.
  fs::permissions(exchange.path + "in", fs::perms::owner_read | fs::perms::owner_exec);
  std::string immutable = "chattr +i '" + exchange.path + "in' 2>/dev/null";
  bool locked = std::system(immutable.c_str()) == 0;
  Doctor();
  std::system(("chattr -i '" + exchange.path + "in' 2>/dev/null").c_str());
  fs::permissions(exchange.path + "in", fs::perms::owner_all);
  if (!locked && geteuid() == 0) GTEST_SKIP() << "no way to make a folder read-only for root here";
  EXPECT_EQ(verdicts["settings.exchange_folder"], "FAIL") << output;
  EXPECT_NE(lines["settings.exchange_folder"].find("/in/"), std::string::npos) << output;

  fs::remove_all(exchange.path + "out");
  Doctor();
  EXPECT_EQ(verdicts["settings.exchange_folder"], "FAIL") << output;
}

}  // namespace
