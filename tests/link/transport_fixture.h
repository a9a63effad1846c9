// What every transport test starts from: empty settings, no armed faults,
// short limits, the log in a folder of its own, and TESSARIN_SERVER pointed
// at the test's server.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "link/transport.h"
#include "loopback_server.h"
#include "platform/fault_injection.h"
#include "storage/settings.h"
#include "test_support.h"

namespace link_test {

// Limits of the tests: nothing here waits two minutes.
constexpr serverlink::TransportLimits kTestLimits{5000, 5000, serverlink::kDefaultTransportLimits.maxAnswerBytes};

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storage::ClearSettings();
    platform::ClearFaults();
    serverlink::SetTransportLimits(kTestLimits);
    test_support::UnsetVariable("TESSARIN_SERVER");
  }

  void TearDown() override {
    platform::ClearFaults();
    storage::ClearSettings();
    serverlink::SetTransportLimits(serverlink::kDefaultTransportLimits);
    test_support::UnsetVariable("TESSARIN_SERVER");
  }

  static void PointAt(const std::string& endpoint) { test_support::SetVariable("TESSARIN_SERVER", endpoint.c_str()); }

  // Every log file written so far, one after another.
  std::string LogText() const {
    std::string all;
    for (const std::string& file : test_support::ListTree(log.folder.path)) {
      if (file.size() > 4 && file.compare(file.size() - 4, 4, ".txt") == 0) {
        all += test_support::ReadText(log.folder.path + file);
      }
    }
    return all;
  }

  test_support::ScopedLogFolder log;
};

}  // namespace link_test
