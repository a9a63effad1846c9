// Files and folders: open modes, moves with their fallback, listings, and
// failures made through the fault table.
#include "platform/file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/error.h"
#include "platform/fault_injection.h"
#include "platform/paths.h"
#include "test_support.h"

namespace {

using test_support::ReadText;
using test_support::TempFolder;
using test_support::WriteText;

// A raw code of a move the system can only do by copying.
#ifdef _WIN32
constexpr int kCrossDevice = 17;  // ERROR_NOT_SAME_DEVICE
#else
constexpr int kCrossDevice = EXDEV;
#endif

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
  platform::InjectFault(platform::Syscall::Rename, kCrossDevice, 1);
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
  platform::InjectFault(platform::Syscall::Rename, kCrossDevice, 1);
  platform::InjectFault(platform::Syscall::Write, ENOSPC, 1);
  EXPECT_FALSE(platform::FileMove(dir.path + "a.xml", dir.path + "b.xml"));
  EXPECT_EQ(platform::LastSystemError(), ENOSPC) << "the code of the write, not of the clean-up";
  EXPECT_EQ(ReadText(dir.path + "a.xml"), "request");
  EXPECT_FALSE(platform::FileExists(dir.path + "b.xml"));
}

TEST_F(FileTest, AnOpenFileCanBeMovedAndDeletedByOthers) {
  // The log keeps its file open: a user or a cleaner may still move or
  // delete it, and the writer sees that it went.
  WriteText(dir.path + "open.txt", "line");
  platform::File file;
  ASSERT_TRUE(platform::FileOpen(dir.path + "open.txt", platform::OpenMode::AppendAlways, &file));
  ASSERT_TRUE(platform::FileMove(dir.path + "open.txt", dir.path + "moved.txt"));
  EXPECT_FALSE(platform::FileDeleted(file));
  EXPECT_EQ(platform::FileAppend(file, " more", 5), 5);
  ASSERT_TRUE(platform::FileDelete(dir.path + "moved.txt"));
#ifdef _WIN32
  if (std::getenv("WINEPREFIX") != nullptr) {
    platform::FileClose(&file);
    GTEST_SKIP() << "Wine reports no pending delete for an open file deleted by its name";
  }
#endif
  EXPECT_TRUE(platform::FileDeleted(file));
  platform::FileClose(&file);
  EXPECT_FALSE(platform::FileExists(dir.path + "moved.txt"));
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

#ifndef _WIN32
// The private temporary folder of a user of a shared /tmp, a Linux rule.

// Mode bits of a path, or -1 when it is not there.
int ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST_F(FileTest, WithoutTmpdirTheTemporaryFolderIsTheUsersOwnFolderOfTmp) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old != nullptr ? old : "";
  unsetenv("TMPDIR");
  std::string folder = platform::TempFolder();
  if (old != nullptr) setenv("TMPDIR", saved.c_str(), 1);
  EXPECT_EQ(folder, "/tmp/tessarin-" + std::to_string(geteuid()) + "/");
  EXPECT_EQ(ModeOf(folder), 0700);
}

TEST_F(FileTest, AnOwnFolderIsMadePrivateAndAForeignOrLinkedOneIsNeverUsed) {
  EXPECT_EQ(platform::OwnFolderIn(dir.path, "mine"), dir.path + "mine/");
  EXPECT_EQ(ModeOf(dir.path + "mine"), 0700);
  EXPECT_EQ(platform::OwnFolderIn(dir.path, "mine"), dir.path + "mine/");

  // Somebody else's folder, a link to one, or one open to others is
  // refused; a fresh private folder stands in for it for the rest of the run.
  std::filesystem::create_directory(dir.path + "elsewhere");
  std::filesystem::create_directory_symlink(dir.path + "elsewhere", dir.path + "linked");
  std::filesystem::create_directory(dir.path + "open");
  chmod((dir.path + "open").c_str(), 0777);
  for (const char* name : {"linked", "open"}) {
    std::string standIn = platform::OwnFolderIn(dir.path, name);
    EXPECT_THAT(standIn, ::testing::MatchesRegex(dir.path + name + "\\.[A-Za-z0-9]{6}/")) << name;
    EXPECT_EQ(ModeOf(standIn), 0700);
    EXPECT_EQ(platform::OwnFolderIn(dir.path, name), standIn);
  }
  if (geteuid() == 0) {
    std::filesystem::create_directory(dir.path + "foreign");
    chmod((dir.path + "foreign").c_str(), 0700);
    ASSERT_EQ(chown((dir.path + "foreign").c_str(), 65534, 65534), 0);
    EXPECT_NE(platform::OwnFolderIn(dir.path, "foreign"), dir.path + "foreign/");
  }
}
#endif

}  // namespace
