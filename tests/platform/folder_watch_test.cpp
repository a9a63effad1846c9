// Folder watches: every kind of change to a file in the folder is seen
// once, nothing is reported while nothing changes, and a watch that can no
// longer tell says "changed".
#include "platform/folder_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/error.h"
#include "test_support.h"

namespace {

using test_support::TempFolder;
using test_support::WriteText;

TEST(FolderWatchTest, EveryChangeToAFileIsSeenOnceAndQuietMeansUnchanged) {
  TempFolder dir;
  WriteText(dir.path + "a.pem", "first");
  platform::FolderWatch watch;
  ASSERT_TRUE(platform::FolderWatchStart(dir.path, &watch));
  EXPECT_FALSE(platform::FolderWatchChanged(&watch));
  std::string ignored = test_support::ReadText(dir.path + "a.pem");  // reading is no change
  EXPECT_FALSE(platform::FolderWatchChanged(&watch));

  struct Step {
    const char* what;
    std::function<void()> change;
  };
  const Step steps[] = {
      {"rewritten in place, same size", [&] { WriteText(dir.path + "a.pem", "other"); }},
      {"created", [&] { WriteText(dir.path + "b.crl", "list"); }},
      {"renamed", [&] { std::filesystem::rename(dir.path + "b.crl", dir.path + "c.crl"); }},
      {"permissions", [&] { std::filesystem::permissions(dir.path + "c.crl", std::filesystem::perms::owner_read); }},
      {"deleted", [&] {
#ifdef _WIN32
         // Windows deletes no read-only file.
         std::filesystem::permissions(dir.path + "c.crl", std::filesystem::perms::owner_write,
                                      std::filesystem::perm_options::add);
#endif
         std::filesystem::remove(dir.path + "c.crl");
       }},
  };
  for (const Step& step : steps) {
    step.change();
    EXPECT_TRUE(platform::FolderWatchChanged(&watch)) << step.what;
    EXPECT_FALSE(platform::FolderWatchChanged(&watch)) << step.what << ", asked again";
  }
  // A change in a subfolder is not one of the folder's files.
  std::filesystem::create_directory(dir.path + "sub");
  EXPECT_TRUE(platform::FolderWatchChanged(&watch));
  WriteText(dir.path + "sub/x", "x");
  EXPECT_FALSE(platform::FolderWatchChanged(&watch));

  std::filesystem::remove_all(dir.path);
  EXPECT_TRUE(platform::FolderWatchChanged(&watch)) << "the folder itself went";
  platform::FolderWatchStop(&watch);
  EXPECT_TRUE(platform::FolderWatchChanged(&watch)) << "a stopped watch cannot tell";
}

TEST(FolderWatchTest, AMissingFolderCannotBeWatched) {
  TempFolder dir;
  platform::FolderWatch watch;
  EXPECT_FALSE(platform::FolderWatchStart(dir.path + "nowhere/", &watch));
  EXPECT_EQ(platform::ErrorKindOf(platform::LastSystemError()), platform::ErrorKind::NotFound);
  EXPECT_TRUE(platform::FolderWatchChanged(&watch));
}

}  // namespace
