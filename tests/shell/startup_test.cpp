// Start-up failures that need a system call to fail: tested in process,
// with the fault table (a root user cannot be kept out of a folder).
#include "shell/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "core/folders.h"
#include "platform/fault_injection.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "storage/database.h"
#include "test_support.h"
#include "web/listener.h"

namespace {

using test_support::WriteText;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::ui::ResetForTest(); }
  void TearDown() override {
    platform::ClearFaults();
    storage::CloseDatabase();
  }
  // The updater's file as each system names it.
  const std::string updater = std::string("TSR_Update") + platform::kExecutableSuffix;
  void PutUpdater(size_t size) { WriteText(dir.path + updater, std::string(size, 'u')); }
  test_support::ScopedLogFolder logs;
  test_support::TempFolder dir;
};

TEST_F(StartupTest, AFolderWithoutWriteAccessEndsWithCodeOneBeforeAnythingIsCreated) {
  PutUpdater(100001);
  platform::InjectFault(platform::Syscall::Open, EACCES, -1, dir.path);
  EXPECT_EQ(shell::AppInit(dir.path + "Tessarin"), shell::kExitFailure);
  platform::ClearFaults();
  EXPECT_EQ(test_support::ListTree(dir.path), (std::vector<std::string>{updater}));
}

TEST_F(StartupTest, NoExecutablePathEndsWithCodeZero) {
  EXPECT_EQ(shell::AppInit(""), shell::kExitOk);
}

TEST_F(StartupTest, AnUpdaterOfAHundredThousandBytesCountsAsMissing) {
  EXPECT_EQ(shell::AppInit(dir.path + "Tessarin"), shell::kExitFailure);
  PutUpdater(100000);
  EXPECT_EQ(shell::AppInit(dir.path + "Tessarin"), shell::kExitFailure);
  PutUpdater(100001);
  EXPECT_EQ(shell::AppInit(dir.path + "Tessarin"), std::nullopt);
}

TEST_F(StartupTest, AFreshFolderGetsItsFoldersDatabaseAndStartMarker) {
  PutUpdater(100001);
  ASSERT_EQ(shell::AppInit(dir.path + "Tessarin"), std::nullopt);
  EXPECT_EQ(core::ProgramFolder(), dir.path);
  std::vector<std::string> tree = test_support::ListTree(dir.path);
  EXPECT_THAT(tree, ::testing::IsSupersetOf({std::string("documents/"), std::string("working/"),
                                             std::string("TS.db"), std::string("state.txt")}));
  EXPECT_EQ(core::WorkingDayFolder().rfind(core::WorkingFolder(), 0), 0u);
  EXPECT_EQ(core::WorkingDayFolder().size(), core::WorkingFolder().size() + 9);
  EXPECT_NE(storage::Database(), nullptr);
}

TEST_F(StartupTest, ADatabaseThatCannotBeOpenedEndsWithCodeOne) {
  PutUpdater(100001);
  ASSERT_TRUE(platform::ui::CreateMainWindow(L"Tessarin", 600, 600));
  std::filesystem::create_directory(dir.path + "TS.db");
  EXPECT_EQ(shell::AppInit(dir.path + "Tessarin"), shell::kExitFailure);
}

TEST_F(StartupTest, TheWebMarkerStartsTheListenerOnceAndIsOffWhileItCannotListen) {
  PutUpdater(100001);
  WriteText(dir.path + "interface.web", "");
  platform::Socket other = platform::NetListen(true, 0, 1);  // a port already in use
  setenv("TESSARIN_WEB_PORT", std::to_string(platform::NetLocalPort(other)).c_str(), 1);
  ASSERT_EQ(shell::AppInit(dir.path + "Tessarin"), std::nullopt);
  EXPECT_FALSE(shell::WebInterfaceOn());

  setenv("TESSARIN_WEB_PORT", "0", 1);  // a free port
  EXPECT_TRUE(shell::EnableWebInterface(2));
  uint16_t port = web::WebListenerPort();
  EXPECT_NE(port, 0);
  EXPECT_TRUE(shell::EnableWebInterface(1));
  EXPECT_EQ(web::WebListenerPort(), port) << "started once";
  web::StopWebListener();
  platform::NetClose(&other);
}

}  // namespace
