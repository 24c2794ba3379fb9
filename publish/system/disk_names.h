// Names between the server's form and the system's file names.
//
// The updater reads and asks for names in code page 949 (its ANSI code
// page), and so does every text file of the tree. The operators' folders
// name files as their system does: UTF-8 bytes on Debian, UTF-16 on
// Windows. Inside the tool a client file's name is its path below the client
// folder in code page 949 with '/' between folders; only these functions
// turn it into a path on disk and back (disk_names_posix.cpp,
// disk_names_win.cpp).
//
// On Debian the tree's files are named with the code page 949 bytes
// themselves, which the web server serves as the updater asks for them; on
// Windows they carry the same characters as Windows names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

namespace ulp {

namespace fs = std::filesystem;

// UTF-8 text (a test bed release, a name typed on Debian) in code page 949.
// False when a character has no form there.
bool Utf8ToCp949(const std::string& utf8, std::string* cp949);

// The path below the client folder (relative, as the folder listing gives
// it) in code page 949 with '/' between folders. False when a character has
// no form there, or the name is not valid in the system's own encoding.
bool ClientName(const fs::path& relative, std::string* cp949);

// Where a name of the tree in code page 949 ('/' between folders) lies on
// disk below root.
fs::path TreePath(const fs::path& root, const std::string& cp949);

// A command-line argument as a path, and as a name in code page 949.
fs::path ArgPath(const char* arg);
bool ArgName(const char* arg, std::string* cp949);

// A name in code page 949 as this system's terminal shows it.
std::string Shown(const std::string& cp949);
// A path on disk as this system's terminal shows it.
std::string Shown(const fs::path& path);

// The path as the C runtime's narrow file functions take it. False when the
// system's ANSI code page cannot name it.
bool NarrowPath(const fs::path& path, std::string* narrow);

// True when path is a link of the system's (a symbolic link; on Windows
// any reparse point, junctions too) rather than a file or folder itself.
bool IsLink(const fs::path& path);

// The file's last modification as local calendar time. False when the file
// cannot be asked.
bool LocalModifiedTime(const fs::path& path, std::tm* local);

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file in binary mode ("rb", "wb").
OwnedFile OpenFile(const fs::path& path, const char* mode);

// Closes a file that was written; false when what was written did not all
// reach the disk.
inline bool CloseWritten(OwnedFile& file) { return std::fclose(file.release()) == 0; }

}  // namespace ulp
