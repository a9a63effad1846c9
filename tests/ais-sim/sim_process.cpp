// The simulator process of the tests (see sim_process.h).
#include "sim_process.h"

#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace sim_test {

namespace {

constexpr int kStartSeconds = 20;

// The port printed after `prefix` ("listening on 127.0.0.1:"), 0 until then.
int PortAfter(const std::string& text, const std::string& prefix) {
  size_t at = text.find(prefix);
  if (at == std::string::npos) return 0;
  size_t end = text.find('\n', at);
  if (end == std::string::npos) return 0;
  return std::atoi(text.substr(at + prefix.size(), end - at - prefix.size()).c_str());
}

AdminAnswer FromResult(const httplib::Result& result) {
  AdminAnswer answer;
  if (!result) return answer;
  answer.status = result->status;
  answer.body = nlohmann::json::parse(result->body, nullptr, false);
  if (answer.body.is_discarded()) answer.body = nullptr;
  return answer;
}

}  // namespace

std::string PkiFolder() { return AIS_SIM_TEST_PKI; }

std::string PkiIks(const std::string& name) {
  std::ifstream manifest(PkiFolder() + "pki/manifest.txt");
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream words(line);
    std::string first, iks;
    if (words >> first >> iks && first == name) return iks;
  }
  return "";
}

SimProcess::SimProcess(const std::vector<std::string>& extraArguments) {
  std::vector<std::string> arguments = {AIS_SIM_PROGRAM, "--port", "0", "--admin-port", "0", "--pki", PkiFolder()};
  arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
  const std::string output = folder_.path + "stdout.txt";
  const std::string errors = folder_.path + "stderr.txt";
  pid_ = fork();
  if (pid_ == 0) {
    setenv("TMPDIR", folder_.path.c_str(), 1);
    if (freopen(output.c_str(), "w", stdout) == nullptr || freopen(errors.c_str(), "w", stderr) == nullptr) _exit(126);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int i = 0; i < kStartSeconds * 100 && pid_ > 0; ++i) {
    std::string text = Log();
    port_ = PortAfter(text, "listening on 127.0.0.1:");
    adminPort_ = PortAfter(text, "admin on 127.0.0.1:");
    if (started() || !Running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

SimProcess::~SimProcess() { Stop(); }

std::string SimProcess::endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

bool SimProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

int SimProcess::Stop() {
  if (pid_ <= 0) return -1;
  if (adminPort_ != 0) Post("/shutdown");
  for (int round = 0; round < 2; ++round) {
    // First the shutdown asked for above, then SIGTERM.
    for (int i = 0; i < 1500; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (round == 0) kill(pid_, SIGTERM);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return -1;
}

std::string SimProcess::Log() const { return test_support::ReadText(folder_.path + "stdout.txt"); }

std::string SimProcess::Errors() const { return test_support::ReadText(folder_.path + "stderr.txt"); }

AdminAnswer SimProcess::Get(const std::string& path) const {
  httplib::Client client("127.0.0.1", adminPort_);
  client.set_read_timeout(30, 0);
  return FromResult(client.Get(path.c_str()));
}

AdminAnswer SimProcess::Post(const std::string& path, const nlohmann::json& body) const {
  httplib::Client client("127.0.0.1", adminPort_);
  client.set_read_timeout(30, 0);
  return FromResult(client.Post(path.c_str(), body.dump(), "application/json"));
}

AdminAnswer SimProcess::Delete(const std::string& path) const {
  httplib::Client client("127.0.0.1", adminPort_);
  client.set_read_timeout(30, 0);
  return FromResult(client.Delete(path.c_str()));
}

int64_t SimProcess::Counter(const std::string& name) const {
  AdminAnswer answer = Get("/counters");
  if (answer.status != 200 || !answer.body.is_object() || !answer.body.contains(name)) return 0;
  return answer.body[name].get<int64_t>();
}

}  // namespace sim_test
