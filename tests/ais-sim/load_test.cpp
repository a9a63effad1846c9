// A bounded load on the simulator process, loopback only: 2 000 requests
// (list, status, e-mail in turn) from 8 concurrent clients, each with its
// own session; every one must be answered as expected. The rate is
// reported, not judged (speed targets live in bench/).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "sim_client.h"

namespace sim_test {
namespace {

constexpr int kClients = 8;
constexpr int kRequestsPerClient = 250;

class SimLoadTest : public SimTest {};

TEST_F(SimLoadTest, TwoThousandRequestsFromEightClients) {
  StartSim({"--quiet"});
  const char* names[kClients] = {"alpha", "beta", "ten", "alpha", "beta", "ten", "alpha", "beta"};
  std::vector<Session> sessions;
  for (const char* name : names) sessions.push_back(Connect(PkiOrg(name)));
  ASSERT_FALSE(HasFailure());
  const int64_t before = sim->Counter("requests");

  std::atomic<int> answered{0};
  std::atomic<int> wrong{0};
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kRequestsPerClient; ++i) {
        bool expected = false;
        switch (i % 3) {
          case 0: {
            Reply list = Call(sessions[c], Request(40));
            expected = list.kind == 255 && list.code == 101;
            break;
          }
          case 1: {
            Reply status = Call(sessions[c], Request(3, Bytes(64, 0)));
            expected = status.kind == 174 && status.code == 3;
            break;
          }
          default: {
            Reply email = Call(sessions[c], Request(14));
            expected = email.kind == 174 && email.record.payload == Bytes{0};
            break;
          }
        }
        (expected ? answered : wrong).fetch_add(1);
      }
    });
  }
  for (std::thread& client : clients) client.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(answered.load(), kClients * kRequestsPerClient);
  EXPECT_EQ(sim->Counter("requests") - before, kClients * kRequestsPerClient);
  EXPECT_EQ(sim->Counter("connections.send_failed"), 0);
  const double rate = kClients * kRequestsPerClient / seconds;
  std::printf("ais-sim load: %d requests from %d clients in %.2f s, %.0f requests/s\n",
              kClients * kRequestsPerClient, kClients, seconds, rate);
  RecordProperty("requests_per_second", static_cast<int>(rate));
}

}  // namespace
}  // namespace sim_test
