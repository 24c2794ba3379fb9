// Unpacks a zip archive of the update into the folder that holds it, with
// the entries' folder paths and stored times. The zip format and inflate
// are minizip's; this is the layer above them.
#pragma once

#include <cstdint>

#include "unzip.h"

// The current entry's central directory record.
struct ZipEntryInfo {
  char name[261];      // as stored, every '/' replaced by '\'
  char comment[255];
  uint32_t version;
  uint32_t versionNeeded;
  uint32_t flags;
  uint32_t compressionMethod;  // 0 stored, 8 deflated
  uint32_t dosDateTime;        // date in the high word, time in the low word, local time
  uint32_t crc32;
  uint32_t compressedSize;
  uint32_t uncompressedSize;
  uint32_t internalAttributes;
  uint32_t externalAttributes;
  int isFolder;                // the name ends with '\'
  int nameCut;                 // the stored name did not fit into name
};

class CZipExtractor {
 public:
  // With a path the archive is opened at once (see OpenArchive).
  explicit CZipExtractor(const char* archivePath = nullptr);
  virtual ~CZipExtractor();
  CZipExtractor(const CZipExtractor&) = delete;
  CZipExtractor& operator=(const CZipExtractor&) = delete;

  // Closes any open archive and opens path. Non-zero when one is open now;
  // the own folder is then path up to its last '\'.
  int OpenArchive(const char* path);

  // UnzipTo(own folder, flattenPaths); 0 when no archive is open.
  int ExtractToOwnFolder(int flattenPaths);

  // Writes every entry below folder, in archive order, creating missing
  // folders. With flattenPaths only the entries' file names are used. Stops
  // at the first failing entry (earlier ones stay written). An entry whose
  // name is absolute, has a drive or stream, a ".." component or is empty
  // fails like any other: nothing is written outside folder.
  int UnzipTo(const char* folder, int flattenPaths);

  // Closes the archive; non-zero when minizip reported success.
  int CloseArchive();

  const char* OwnFolder() const { return ownFolder_; }

  // From here on no entry is written through a reparse point below folder
  // (see CrossesReparsePoint): the entry fails instead.
  void RefuseReparsePointsBelow(const char* folder);

  // Steps of UnzipTo, usable one entry at a time.
  int ExtractCurrentEntry(const char* folder, int flattenPaths);
  int ReadEntryInfo(ZipEntryInfo& info);
  int CopyCurrentEntry(const char* path);

  // Gives path the DOS date and time (local time) as creation and
  // last-write time. Non-zero on success.
  static int ApplyEntryTime(const char* path, uint32_t dosDateTime);
  // Creates path and its missing parents; non-zero when it is a folder.
  static int CreateFolderPath(const char* path);
  // CreateFolderPath of the part before filePath's last '\'.
  static int CreateParentFolders(const char* filePath);

 private:
  unzFile archive_ = nullptr;
  char ownFolder_[261] = {0};
  char guardedFolder_[1025] = {0};  // empty: no guard
};
