// Files and folders: open modes, moves with their fallback, listings, and
// failures made through the fault table.
#include "platform/file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/fault_injection.h"
#include "test_support.h"

namespace {

using test_support::ReadText;
using test_support::TempFolder;
using test_support::WriteText;

class FileTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::ClearFaults(); }
  TempFolder dir;
};

TEST_F(FileTest, OpenAlwaysNeverTruncatesAndCreateNewRefusesAnExistingFile) {
  std::string path = dir.path + "state.txt";
  WriteText(path, "0123456789A");
  platform::File file;
  ASSERT_TRUE(platform::FileOpen(path, platform::OpenMode::OpenAlways, &file));
  EXPECT_EQ(platform::FileWriteAt(file, 0, "xxxxxxx", 7), 7);
  platform::FileClose(&file);
  EXPECT_EQ(ReadText(path), "xxxxxxx789A");

  EXPECT_FALSE(platform::FileOpen(path, platform::OpenMode::CreateNew, &file));
  EXPECT_EQ(platform::ErrorKindOf(platform::LastSystemError()), platform::ErrorKind::AlreadyExists);
  EXPECT_FALSE(platform::FileOpen(dir.path + "missing", platform::OpenMode::ReadExisting, &file));
  EXPECT_EQ(platform::ErrorKindOf(platform::LastSystemError()), platform::ErrorKind::NotFound);
}

TEST_F(FileTest, AppendWritesAtTheEnd) {
  std::string path = dir.path + "log.txt";
  for (const char* line : {"one ", "two"}) {
    platform::File file;
    ASSERT_TRUE(platform::FileOpen(path, platform::OpenMode::AppendAlways, &file));
    platform::FileAppend(file, line, strlen(line));
    platform::FileClose(&file);
  }
  EXPECT_EQ(ReadText(path), "one two");
}

TEST_F(FileTest, MoveReplacesTheTarget) {
  WriteText(dir.path + "a.xml", "new");
  WriteText(dir.path + "b.xml", "old");
  ASSERT_TRUE(platform::FileMove(dir.path + "a.xml", dir.path + "b.xml"));
  EXPECT_EQ(ReadText(dir.path + "b.xml"), "new");
  EXPECT_FALSE(platform::FileExists(dir.path + "a.xml"));
}

TEST_F(FileTest, MoveAcrossFileSystemsCopiesAndDeletesTheSource) {
  WriteText(dir.path + "a.xml", std::string(200000, 'q'));
  platform::InjectFault(platform::Syscall::Rename, EXDEV, 1);
  ASSERT_TRUE(platform::FileMove(dir.path + "a.xml", dir.path + "b.xml"));
  EXPECT_EQ(ReadText(dir.path + "b.xml"), std::string(200000, 'q'));
  EXPECT_FALSE(platform::FileExists(dir.path + "a.xml"));
}

TEST_F(FileTest, AFailedMoveLeavesBothFilesAsTheyWere) {
  WriteText(dir.path + "a.xml", "request");
  WriteText(dir.path + "b.xml", "other");
  platform::InjectFault(platform::Syscall::Rename, EACCES, 1);
  EXPECT_FALSE(platform::FileMove(dir.path + "a.xml", dir.path + "b.xml"));
  EXPECT_EQ(platform::LastSystemError(), EACCES);
  EXPECT_EQ(ReadText(dir.path + "a.xml"), "request");
  EXPECT_EQ(ReadText(dir.path + "b.xml"), "other");
}

TEST_F(FileTest, AFailedCopyAcrossFileSystemsKeepsTheSource) {
  WriteText(dir.path + "a.xml", "request");
  platform::InjectFault(platform::Syscall::Rename, EXDEV, 1);
  platform::InjectFault(platform::Syscall::Write, ENOSPC, 1);
  EXPECT_FALSE(platform::FileMove(dir.path + "a.xml", dir.path + "b.xml"));
  EXPECT_EQ(ReadText(dir.path + "a.xml"), "request");
  EXPECT_FALSE(platform::FileExists(dir.path + "b.xml"));
}

TEST_F(FileTest, ListingMatchesThePatternAndMarksFolders) {
  WriteText(dir.path + "one.xml", "");
  WriteText(dir.path + "two.txt", "");
  ASSERT_TRUE(platform::FolderCreate(dir.path + "dir.xml"));
  std::vector<platform::FolderEntry> entries;
  ASSERT_TRUE(platform::ListFolder(dir.path, "*.xml", &entries));
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "dir.xml");
  EXPECT_TRUE(entries[0].isFolder);
  EXPECT_EQ(entries[1].name, "one.xml");
  EXPECT_FALSE(entries[1].isFolder);
}

TEST_F(FileTest, CreatingAFolderTwiceReportsThatItExists) {
  EXPECT_TRUE(platform::FolderCreate(dir.path + "documents"));
  EXPECT_FALSE(platform::FolderCreate(dir.path + "documents"));
  EXPECT_EQ(platform::ErrorKindOf(platform::LastSystemError()), platform::ErrorKind::AlreadyExists);
  EXPECT_TRUE(platform::FolderExists(dir.path + "documents"));
}

TEST_F(FileTest, FaultsCanBeLimitedToAPathAndACount) {
  platform::InjectFault(platform::Syscall::Open, EACCES, 2, dir.path + "locked");
  platform::File file;
  EXPECT_TRUE(platform::FileOpen(dir.path + "free", platform::OpenMode::CreateAlways, &file));
  platform::FileClose(&file);
  EXPECT_FALSE(platform::FileOpen(dir.path + "locked", platform::OpenMode::CreateAlways, &file));
  EXPECT_FALSE(platform::FileOpen(dir.path + "locked", platform::OpenMode::CreateAlways, &file));
  EXPECT_TRUE(platform::FileOpen(dir.path + "locked", platform::OpenMode::CreateAlways, &file));
  platform::FileClose(&file);
}

}  // namespace
