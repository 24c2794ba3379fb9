// GETs from a served tree with the updater's rules: only status 200 or 206
// counts as the file, redirections are followed, the body must be as long as
// announced. One connection is kept for a whole check. Natively over
// cpp-httplib (fetch_posix.cpp), on Windows over WinINet (fetch_win.cpp),
// the updater's own HTTP stack.
#pragma once

#include <memory>
#include <string>

namespace ulp {

enum FetchStatus {
  kFetched,      // the whole body is in the local file
  kMissing,      // the server answered, but not with the file (another status; no such file)
  kBroken,       // the file is there but could not be read whole (body cut, read error)
  kUnreachable,  // no answer at all: the server cannot be reached
};

struct FetchOutcome {
  int status = kUnreachable;
  std::string detail;  // for the report: "HTTP 404", "no such file", "cut after 10 of 20 bytes"
};

class HttpFetcher {
 public:
  HttpFetcher(const std::string& host, int port);
  ~HttpFetcher();
  HttpFetcher(const HttpFetcher&) = delete;
  HttpFetcher& operator=(const HttpFetcher&) = delete;

  // GETs target (sent as it stands; it begins with '/') and writes the body
  // to localPath, created or replaced. A body longer than maxBytes is not
  // stored further: the answer is then kBroken. On any outcome but kFetched
  // the file may hold part of a body or nothing.
  FetchOutcome Get(const std::string& target, const std::string& localPath,
                   unsigned long long maxBytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What a fetch that stopped at maxBytes reports.
std::string RunsPast(unsigned long long maxBytes);

// A new, empty folder for the check's temporary files, in the system's
// temporary folder. False when none can be made.
bool MakeTempFolder(std::string* path);
// Removes the (by then empty) folder.
void RemoveTempFolder(const std::string& path);

// Text of the server's files and names (code page 949) as this program
// writes it to its output: converted to UTF-8 natively, as it stands on
// Windows, whose console reads the ANSI code page. Bytes that do not
// convert, and control characters, come out as \xNN.
std::string ForDisplay(const std::string& ansi);

}  // namespace ulp
