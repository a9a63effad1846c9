// ais-sim: the exchange server simulator (see README.md). Reads the
// command line, opens the state, starts the protocol listener and the
// admin API, prints both ports and serves until POST /shutdown or a
// signal ends it.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "admin.h"
#include "core/log.h"
#include "options.h"
#include "pki.h"
#include "platform/file.h"
#include "platform/net.h"
#include "server.h"
#include "sessions.h"
#include "sim_log.h"
#include "state.h"

namespace {

std::atomic<bool> gStop{false};

}  // namespace

int main(int argc, char** argv) {
  aissim::SimOptions options;
  std::string error;
  bool help = false;
  if (!aissim::ParseOptions(argc - 1, argv + 1, &options, &error, &help)) {
    std::fprintf(stderr, "ais-sim: %s\n%s", error.c_str(), aissim::UsageText());
    return 2;
  }
  if (help) {
    std::fputs(aissim::UsageText(), stdout);
    return 0;
  }
  core::SetLogRoot("ais-sim");
  if (!aissim::OpenState(options.database, &error)) {
    std::fprintf(stderr, "ais-sim: the state does not open: %s\n", error.c_str());
    return 1;
  }
  aissim::UseTestAlgorithms(options.testAlgorithms);
  if (!options.pki.empty() && !aissim::LoadPki(options.pki, &error)) {
    std::fprintf(stderr, "ais-sim: the test PKI does not load: %s\n", error.c_str());
    return 1;
  }
  if (!options.publish.empty()) {
    std::vector<uint8_t> program;
    if (!platform::ReadWholeFile(options.publish, &program)) {
      std::fprintf(stderr, "ais-sim: the program to publish does not read: %s\n", options.publish.c_str());
      return 1;
    }
    if (!aissim::PublishProgram(std::move(program), true, &error)) {
      std::fprintf(stderr, "ais-sim: %s is not published: %s\n", options.publish.c_str(), error.c_str());
      return 1;
    }
  }
  aissim::SetHandlerSettings(options.handler);
  aissim::SetSessionLifetime(options.sessionLifetime);
  aissim::SetTrafficLogQuiet(options.quiet);

  platform::Socket listener = platform::NetListen(true, static_cast<uint16_t>(options.port), 1024);
  if (!platform::SocketValid(listener)) {
    std::fprintf(stderr, "ais-sim: cannot listen on 127.0.0.1:%d\n", options.port);
    return 1;
  }
  std::printf("listening on 127.0.0.1:%u\n", platform::NetLocalPort(listener));
  int adminPort = aissim::StartAdmin(options.adminPort, &gStop);
  if (adminPort == 0) {
    std::fprintf(stderr, "ais-sim: cannot listen on 127.0.0.1:%d for the admin API\n", options.adminPort);
    platform::NetClose(&listener);
    return 1;
  }
  std::printf("admin on 127.0.0.1:%d\n", adminPort);
  std::fflush(stdout);

  aissim::RunServer(listener, options.server, gStop);
  platform::NetClose(&listener);
  aissim::StopAdmin();
  aissim::CloseState();
  aissim::LogLine("stopped");
  return 0;
}
