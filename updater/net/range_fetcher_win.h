// Fetches byte ranges of one server file over one connection that stays
// open from range to range: the pieces of a big file that changed, while
// the rest is copied from the installed copy.
//
// Every range is asked for with a Range header and taken only as the
// server's 206 answer with exactly the Content-Range asked for (and the
// file's whole size), in the file's own bytes; anything else means the
// server does not serve ranges as they must be served, and the caller
// fetches the whole file instead. The body is read in 4 KB pieces with the
// 1 ms pause after each, like every download.
#pragma once

#include <windows.h>

#include <wininet.h>

#include <cstdint>

#include "formats/base/owned_win.h"
#include "net/paced_read_win.h"

namespace ul {
class ReleaseManifest;
}

// What FetchRange ends with.
constexpr int kRangeReceived = 1;  // every byte asked for went to the sink
constexpr int kRangeRefused = 2;   // not the range as asked (no 206, another Content-Range or
                                   // length, an encoded body): fetch the whole file instead
constexpr int kRangeBroken = 3;    // the connection or a read failed before the end; what
                                   // arrived went to the sink
constexpr int kRangeStopped = 4;   // the sink refused the bytes

// Takes a range's bytes as they arrive, in order.
class RangeSink {
 public:
  virtual ~RangeSink() = default;
  // False stops the transfer (kRangeStopped).
  virtual bool Take(const char* data, DWORD length) = 0;
};

class CRangeFetcher {
 public:
  // With a release (a build with a release key) only a file it lists, of the
  // size it records, is asked for.
  explicit CRangeFetcher(const ul::ReleaseManifest* release = nullptr);
  virtual ~CRangeFetcher();
  CRangeFetcher(const CRangeFetcher&) = delete;
  CRangeFetcher& operator=(const CRangeFetcher&) = delete;

  // Opens the connection to host (port 80) for objectPath, whose whole file
  // has fileSize bytes. False, without a request, when the names do not fit
  // or the release does not list the file with that size.
  bool Open(const char* host, const char* objectPath, uint64_t fileSize);

  // Asks for [offset, offset + length), which must lie in the file, and
  // hands its bytes to sink. One of the kRange... results.
  int FetchRange(uint64_t offset, uint64_t length, RangeSink& sink);

  // Bytes a read of a range may take before its pause (PacedReader).
  void PaceReads(uint32_t bytes) { reader_ = PacedReader(bytes); }

  // Bytes that arrived, and requests sent, since Open.
  uint64_t received() const { return received_; }
  int requests() const { return requests_; }

 private:
  int CheckAnswer(HINTERNET request, uint64_t offset, uint64_t length);
  int ReadBody(HINTERNET request, uint64_t length, RangeSink& sink);

  const ul::ReleaseManifest* release_;
  char host_[256];
  char objectPath_[512];
  uint64_t fileSize_ = 0;
  uint64_t received_ = 0;
  int requests_ = 0;
  ul::InternetHandle internet_;
  ul::InternetHandle connection_;
  PacedReader reader_;
};
