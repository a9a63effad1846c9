// The web page in a real browser against the real client: a program folder
// with the client, its updater and the page the build put beside it, the
// web interface switched on, the simulator as its server, which does not
// know the client's organisation yet. page_test.js drives the page (and has
// the simulator send two documents once the organisation registered); here the client's opening of the page and what reached the
// server are checked.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "client_process.h"
#include "shell/web_page.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::HasSubstr;

// A loopback port nobody listens on just now.
int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  close(s);
  return ntohs(address.sin_port);
}

// Runs a command; its output (stdout and stderr) and exit code.
int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(WebPageTest, TheAddressNamesThePortOnlyWhenItIsNotTheUsualOne) {
  EXPECT_EQ(shell::WebPageAddress("/opt/tessarin/", 39477), "/opt/tessarin/web/index.html");
  EXPECT_EQ(shell::WebPageAddress("/opt/Мой клиент/", 40001),
            "file:///opt/%D0%9C%D0%BE%D0%B9%20%D0%BA%D0%BB%D0%B8%D0%B5%D0%BD%D1%82/web/index.html?port=40001");
  EXPECT_EQ(shell::WebPageAddress("/opt/tessarin/", 39477, "00FF"), "file:///opt/tessarin/web/index.html?port=39477&token=00FF");
}

TEST(WebPageTest, ThePageRegistersListsShowsSignsAndRefusesThroughTheClient) {
  test_support::TempFolder program, temp, store, noViewer;
  fs::copy(sim_test::PkiFolder(), store.path, fs::copy_options::recursive);
  for (const char* built : {"src/shell/Tessarin", "src/updater/TSR_Update"}) {
    fs::copy_file(test_support::BuiltProgram(built), program.path + fs::path(built).filename().string());
  }
  fs::copy(test_support::BuiltProgram("src/shell/web"), program.path + "web", fs::copy_options::recursive);
  const std::string iks = sim_test::PkiIks("beta");
  for (auto [setting, value] : {std::pair{"IDC_CERT", iks}, {"IDC_PASS", "12345678"}, {"IDC_EMAIL", "beta@example.by"}}) {
    std::string command = test_support::BuiltProgram("tools/tsr-tool/tsr-tool") + " settings set " + setting + " '" +
                          value + "' --folder " + program.path + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  test_support::WriteText(program.path + "interface.web", "");

  sim_test::SimProcess sim({"--quiet"});
  ASSERT_TRUE(sim.started());
  ASSERT_EQ(sim.Post("/organisations", json{{"pki", "alpha"}}).status, 201);  // beta is not known yet

  std::string port = std::to_string(FreePort());
  shell_test::ClientProcess client;
  // With no viewer on its PATH the client prints the page's address.
  client.Start(program.path, temp.path,
               {{"TESSARIN_CERTSTORE", store.path},
                {"TESSARIN_SERVER", sim.endpoint()},
                {"TESSARIN_WEB_PORT", port},
                {"PATH", noViewer.path}});
  std::string address = "file://" + program.path + "web/index.html?port=" + port;
  ASSERT_TRUE(client.WaitForConsole(address)) << client.Console();

  std::string output;
  int code = RunCommand(std::string("node ") + WEB_PAGE_SCRIPT + " --page '" + address + "' --admin http://127.0.0.1:" +
                            std::to_string(sim.adminPort()) + " --shots " + WEB_PAGE_SHOTS,
                        &output);
  std::printf("%s", output.c_str());
  EXPECT_EQ(code, 0) << client.Console();
  EXPECT_THAT(output, HasSubstr("\nsigned "));
  EXPECT_THAT(output, HasSubstr("\nrefused "));

  EXPECT_EQ(sim.Get("/organisations/beta").status, 200) << "registered from the page";
  json sent = sim.Get("/received/beta").body;
  ASSERT_EQ(sent.size(), 2u) << sent;
  std::vector<int> types = {sent[0]["type"].get<int>(), sent[1]["type"].get<int>()};
  EXPECT_THAT(types, ::testing::UnorderedElementsAre(::testing::AnyOf(53, 153), 56)) << "one co-signed, one refused";
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
  for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
    EXPECT_THAT(client.Console(), ::testing::Not(HasSubstr(report)));
  }
}

}  // namespace
