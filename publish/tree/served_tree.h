// A server tree as the updater sees it, on disk (a published folder) or
// served over HTTP: where each resource is requested, how it arrives, and
// how the updater's own readers take it. Also the index of every file the
// tree's lists name, which the checks of a tree share.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "system/fetch.h"

struct ProgramConfig;
struct HashEntry;
namespace ul {
class ReleaseManifest;
}

namespace ulp {

// What a served check stores of a body the release does not record: more
// than any length the updater reads from a Content-Length header.
constexpr unsigned long long kUnrecordedLimit = 0x7FFFFFFFull;
// What it stores beyond the size a release records, to tell a longer body
// from a cut one in the report.
constexpr unsigned long long kRecordMargin = 65536;

// A local file with a resource's bytes: the tree's own file, or a temporary
// copy of served bytes that is deleted when this object lets it go.
class LocalCopy {
 public:
  LocalCopy() = default;
  ~LocalCopy() { Clear(); }
  LocalCopy(const LocalCopy&) = delete;
  LocalCopy& operator=(const LocalCopy&) = delete;

  const std::string& path() const { return path_; }
  void Set(const std::string& path, bool temporary);
  void Clear();

 private:
  std::string path_;
  bool temporary_ = false;
};

class ServedTree {
 public:
  ServedTree();
  ~ServedTree();
  ServedTree(const ServedTree&) = delete;
  ServedTree& operator=(const ServedTree&) = delete;

  // where: the folder of a published tree, or "http://HOST[:PORT]/". A
  // server is not contacted here. kOpened, or with why: kNoTree (no such
  // folder, no temporary folder for the fetched files), kBadAddress
  // (another scheme, a path after the host, a bad port).
  enum OpenResult { kOpened, kNoTree, kBadAddress };
  int Open(const std::string& where, std::string* why);

  bool served() const { return served_; }
  const std::string& host() const { return host_; }
  // The address as the report names the tree.
  std::string Name() const;

  // How the report names the resource the updater requests as objectPath:
  // the file in the folder, or the request target as sent.
  std::string Where(const std::string& objectPath) const;

  // Brings the resource the updater requests as objectPath to a local file,
  // as the updater would receive it. Served, at most maxBytes of it are
  // stored (0: what Bound says for it).
  FetchOutcome Fetch(const std::string& objectPath, LocalCopy* copy,
                     unsigned long long maxBytes = 0);

  // From here on a served body is stored up to the size the release
  // records for its path, plus kRecordMargin; one it does not record up to
  // kUnrecordedLimit.
  void Bound(const ul::ReleaseManifest& release);

  // A new path for a temporary file of this check (which the caller hands
  // to a LocalCopy as temporary). Empty when no temporary folder can be made.
  std::string TempPath();

 private:
  FetchOutcome FetchServed(const std::string& objectPath, LocalCopy* copy,
                           unsigned long long maxBytes);
  FetchOutcome FetchFromFolder(const std::string& objectPath, LocalCopy* copy) const;

  bool served_ = false;
  std::string folder_;
  std::string host_;
  int port_ = 80;
  std::string temp_;
  unsigned long tempCount_ = 0;
  std::unique_ptr<HttpFetcher> fetcher_;
  std::map<std::string, unsigned long long> recorded_;  // by normal server path
};

// The request target that goes out for an object path: WinINet puts a '/'
// in front of a path that has none ("./UlLaunch/x" goes out as
// "/./UlLaunch/x").
std::string RequestTarget(const std::string& objectPath);

// The file a plain web server gives for a request target, relative to its
// root: percent escapes decoded, the query cut off, '/' and '\' both between
// folders, "." and empty segments dropped. False when ".." climbs above the
// root or a NUL appears.
bool ServedFileName(const std::string& target, std::string* relative);

// Where the updater fetches a list entry: the update folder and the entry.
std::string EntryObjectPath(const ProgramConfig& config, const char* entry);

// Where the updater fetches a hash list entry's file again, and the path it
// compares below clientFolder. False when the path gate refuses the entry's
// name: the updater then neither compares nor fetches it.
bool HashObjectPath(const ProgramConfig& config, const char* clientFolder, const HashEntry& entry,
                    std::string* objectPath, std::string* localPath);

// A piece of a text file as the updater's line reader delivers it (line
// feed removed). A line longer than the reader takes at once arrives in
// several pieces, each of which the readers take as a line.
struct TextPiece {
  std::string text;
  int line = 0;                // the whole line's number in the file, from 1
  std::size_t lineLength = 0;  // the whole line's length without its line end
  bool first = true;           // the line's first piece
};

// Every piece of the file, read in text mode with the updater's line reader.
// False when the file cannot be opened.
bool ReadPieces(const std::string& path, std::vector<TextPiece>* pieces);

// The longest line the updater's line reader takes whole.
constexpr std::size_t kLongestLine = 1023;

// Runs one of the updater's readers on a local copy, opened in text mode as
// the updater opens the server's files. False when it cannot be opened.
template <typename Read>
bool ReadAsUpdater(const LocalCopy& copy, Read read, bool* result) {
  std::FILE* f = std::fopen(copy.path().c_str(), "rt");
  if (f == nullptr) return false;
  *result = read(f);
  std::fclose(f);
  return true;
}

// One file of the tree that its lists name, with everything asked of it.
struct NamedFile {
  struct Digest {
    std::string hex;     // as the hash list line has it
    std::string origin;  // "hash list line 7"
  };
  std::string objectPath;            // as the updater requests it
  std::vector<std::string> namedBy;  // "update list line 3", ...
  std::string unpackFolder;          // archives: the client folder path they unpack into
  std::vector<Digest> digests;       // hash list entries that compare against it
  bool required = true;              // false: its absence is worth only a warning
  std::string chunkIndex;            // the object path of its chunk index, if it has one
};

// The files, in the order first named, one per object path.
class TreeIndex {
 public:
  NamedFile& Add(const std::string& objectPath, const std::string& namedBy);
  const std::vector<NamedFile>& files() const { return files_; }

 private:
  std::vector<NamedFile> files_;
  std::map<std::string, std::size_t> byPath_;
};

}  // namespace ulp
