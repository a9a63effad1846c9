// Files and folders.
//
// Paths are UTF-8 on every system (the Windows files convert them to UTF-16
// at the edge). A failed call returns false (or -1) and leaves the raw
// system code in LastSystemError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct File {
  intptr_t handle = -1;  // file descriptor on Linux, HANDLE on Windows
};

enum class OpenMode {
  ReadExisting,       // read; the file must exist
  ReadWriteExisting,  // read and write; the file must exist
  OpenAlways,         // read and write; created when missing, never truncated
  AppendAlways,       // write at the end; created when missing
  AppendPrivate,      // as AppendAlways, but created readable by the user
                      // alone, and never through a link at the last step
  CreateAlways,       // write; created, or truncated when present
  CreateNew,          // write; fails with AlreadyExists when present
};

// Opens with the sharing the program always asks for (others may read and
// write too).
bool FileOpen(const std::string& path, OpenMode mode, File* file);
void FileClose(File* file);

bool FileSize(const File& file, int64_t* size);

// True once the open file was deleted (its last name removed, its folder
// removed with it), or when the system cannot tell; false while it still
// has a name. A renamed file is not deleted.
bool FileDeleted(const File& file);

// Read or write at an offset; the number of bytes moved, or -1. A short
// count is not an error by itself.
int64_t FileReadAt(const File& file, int64_t offset, void* buffer, size_t count);
int64_t FileWriteAt(const File& file, int64_t offset, const void* data, size_t count);

// Writes at the end of a file opened with AppendAlways.
int64_t FileAppend(const File& file, const void* data, size_t count);

bool FileTruncate(const File& file, int64_t size);
bool FileSync(const File& file);

// Whole-file helpers built on the calls above.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data);
bool WriteWholeFile(const std::string& path, const void* data, size_t count);

// Moves a file, replacing the target; across file systems it copies, syncs
// and deletes the source.
bool FileMove(const std::string& from, const std::string& to);
bool FileCopy(const std::string& from, const std::string& to, bool overwrite);
bool FileDelete(const std::string& path);
// Gives the file `existing` a second name `link` in the same volume (a hard
// link): both names show the same bytes until either is deleted, and the
// bytes stay while one name does. False, with the system's code, when
// `link` exists or the volume keeps no second names; nothing is copied.
bool FileLink(const std::string& existing, const std::string& link);
// Gives `to` the permission bits of `from` (on Linux its mode, so that a
// file put in place of an executable can be run as the old one could).
bool FileCopyMode(const std::string& from, const std::string& to);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Bytes the current user may still write on the volume of the folder;
// false, with the system's code, when the volume cannot be asked.
bool FreeDiskSpace(const std::string& folder, uint64_t* bytes);

// Creates one folder. False with ErrorKind::AlreadyExists when it is there.
bool FolderCreate(const std::string& path);

// The same, the new folder open to the user alone.
bool FolderCreatePrivate(const std::string& path);

struct FolderEntry {
  std::string name;  // name within the folder
  bool isFolder;     // a folder, not a file
};

// Entries of a folder whose names match a pattern with '*' and '?' (as the
// system's directory search does), in the order the system returns them.
bool ListFolder(const std::string& folder, const std::string& pattern,
                std::vector<FolderEntry>* entries);

}  // namespace platform
