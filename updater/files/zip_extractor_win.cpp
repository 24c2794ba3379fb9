#include "files/zip_extractor_win.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "formats/base/bounded.h"
#include "formats/base/owned_win.h"
#include "common/trace.h"
#include "files/reparse_points_win.h"
#include "formats/base/safe_path.h"

namespace {

constexpr unsigned kCopyBufferSize = 20480;

bool IsFolder(const char* path) {
  DWORD a = GetFileAttributesA(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

CZipExtractor::CZipExtractor(const char* archivePath) {
  if (archivePath != nullptr) {
    archive_ = unzOpen(archivePath);
    if (archive_ != nullptr) {
      ul::Copy(ownFolder_, archivePath);
      char* slash = std::strrchr(ownFolder_, '\\');
      if (slash != nullptr) *slash = '\0';
    }
  }
}

CZipExtractor::~CZipExtractor() { CloseArchive(); }

int CZipExtractor::OpenArchive(const char* path) {
  CloseArchive();
  if (path == nullptr) return 0;
  archive_ = unzOpen(path);
  if (archive_ == nullptr) return 0;
  ul::Copy(ownFolder_, path);
  char* slash = std::strrchr(ownFolder_, '\\');
  if (slash != nullptr) *slash = '\0';
  return 1;
}

int CZipExtractor::CloseArchive() {
  unzCloseCurrentFile(archive_);
  int rc = unzClose(archive_);
  archive_ = nullptr;
  return rc == UNZ_OK ? 1 : 0;
}

int CZipExtractor::ExtractToOwnFolder(int flattenPaths) {
  if (archive_ == nullptr) return 0;
  return UnzipTo(ownFolder_, flattenPaths);
}

int CZipExtractor::UnzipTo(const char* folder, int flattenPaths) {
  if (archive_ == nullptr || folder == nullptr) return 0;
  if (!CreateFolderPath(folder)) return 0;
  unz_global_info global;
  if (unzGetGlobalInfo(archive_, &global) != UNZ_OK || global.number_entry == 0) return 0;
  if (unzGoToFirstFile(archive_) != UNZ_OK) return 0;
  for (;;) {
    if (!ExtractCurrentEntry(folder, flattenPaths)) return 0;
    int rc = unzGoToNextFile(archive_);
    if (rc == UNZ_END_OF_LIST_OF_FILE) return 1;
    // A damaged central directory leaves entries unread: that is no success.
    if (rc != UNZ_OK) return 0;
  }
}

int CZipExtractor::ReadEntryInfo(ZipEntryInfo& info) {
  std::memset(&info, 0, sizeof(info));
  if (archive_ == nullptr) return 0;
  unz_file_info fi;
  if (unzGetCurrentFileInfo(archive_, &fi, info.name, sizeof(info.name) - 1, nullptr, 0,
                            info.comment, sizeof(info.comment) - 1) != UNZ_OK) {
    std::memset(&info, 0, sizeof(info));
    return 0;
  }
  info.nameCut = fi.size_filename > sizeof(info.name) - 1 ? 1 : 0;
  for (char* p = info.name; *p; ++p) {
    if (*p == '/') *p = '\\';
  }
  info.version = static_cast<uint32_t>(fi.version);
  info.versionNeeded = static_cast<uint32_t>(fi.version_needed);
  info.flags = static_cast<uint32_t>(fi.flag);
  info.compressionMethod = static_cast<uint32_t>(fi.compression_method);
  info.dosDateTime = static_cast<uint32_t>(fi.dosDate);
  info.crc32 = static_cast<uint32_t>(fi.crc);
  info.compressedSize = static_cast<uint32_t>(fi.compressed_size);
  info.uncompressedSize = static_cast<uint32_t>(fi.uncompressed_size);
  info.internalAttributes = static_cast<uint32_t>(fi.internal_fa);
  info.externalAttributes = static_cast<uint32_t>(fi.external_fa);
  std::size_t n = std::strlen(info.name);
  info.isFolder = (n > 0 && info.name[n - 1] == '\\') ? 1 : 0;
  return 1;
}

void CZipExtractor::RefuseReparsePointsBelow(const char* folder) { ul::Copy(guardedFolder_, folder); }

int CZipExtractor::ExtractCurrentEntry(const char* folder, int flattenPaths) {
  if (archive_ == nullptr) return 0;
  if (folder == nullptr) folder = ownFolder_;
  if (!CreateFolderPath(folder)) return 0;

  ZipEntryInfo info;
  if (!ReadEntryInfo(info) || info.nameCut) return 0;
  // Entry names come from the network: the readers' early refusal first,
  // then the gate gives the path below the folder being extracted into.
  if (!ul::IsSafeRelativePath(info.name)) return 0;
  if (info.isFolder) return 1;  // folders come with the files inside them

  const char* name = info.name;
  if (flattenPaths) {
    const char* slash = std::strrchr(name, '\\');
    if (slash != nullptr) name = slash + 1;
  }
  char path[ul::kPathCap];
  if (!ul::ResolveInsideFolder(folder, name, path)) return 0;
  if (guardedFolder_[0] != '\0' && CrossesReparsePoint(guardedFolder_, path)) {
    DebugTrace("Refused path through a reparse point : %s", path);
    return 0;
  }

  if (!CreateParentFolders(path)) return 0;
  int n = CopyCurrentEntry(path);
  // Having read the whole entry, minizip compares the stored CRC-32; a
  // mismatch means the written file is not what was packed.
  if (unzCloseCurrentFile(archive_) == UNZ_CRCERROR && n == 0) n = -1;

  if (n != 0) return 0;
  ApplyEntryTime(path, info.dosDateTime);
  return 1;
}

// Opens the current entry and writes it whole to path: 0 when all of it was
// written, otherwise non-zero (the entry could not be opened or read, or the
// file could not be written).
int CZipExtractor::CopyCurrentEntry(const char* path) {
  ul::Handle out(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return -1;
  if (unzOpenCurrentFile(archive_) != UNZ_OK) return -1;
  static_assert(kCopyBufferSize <= 0x7FFFFFFF, "buffer size fits an int");
  std::vector<char> buffer(kCopyBufferSize);
  for (;;) {
    int n = unzReadCurrentFile(archive_, buffer.data(), kCopyBufferSize);
    if (n <= 0) return n;
    DWORD written = 0;
    if (!WriteFile(out.Get(), buffer.data(), static_cast<DWORD>(n), &written, nullptr) ||
        written != static_cast<DWORD>(n)) {
      return -1;
    }
  }
}

int CZipExtractor::ApplyEntryTime(const char* path, uint32_t dosDateTime) {
  ul::Handle h(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return 0;
  FILETIME created, accessed, written, local, utc;
  int ok = GetFileTime(h.Get(), &created, &accessed, &written) &&
           DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16),
                                 static_cast<WORD>(dosDateTime & 0xFFFF), &local) &&
           LocalFileTimeToFileTime(&local, &utc) && SetFileTime(h.Get(), &utc, &accessed, &utc);
  return ok ? 1 : 0;
}

int CZipExtractor::CreateFolderPath(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return IsFolder(path) ? 1 : 0;
  char parent[ul::kTextCap];
  ul::Copy(parent, path);
  char* slash = std::strrchr(parent, '\\');
  if (slash == nullptr) return 1;
  *slash = '\0';
  if (parent[0] != '\0' && !CreateFolderPath(parent)) return 0;
  // Also a success when the folder exists by now (a trailing '\' in path
  // makes the parent step create it already).
  return (CreateDirectoryA(path, nullptr) || IsFolder(path)) ? 1 : 0;
}

int CZipExtractor::CreateParentFolders(const char* filePath) {
  if (filePath == nullptr) return 0;
  char parent[ul::kTextCap];
  ul::Copy(parent, filePath);
  char* slash = std::strrchr(parent, '\\');
  if (slash == nullptr) return 0;
  *slash = '\0';
  return CreateFolderPath(parent);
}
