// Faults that the test server injects into its answers, armed per path.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace tb {

enum class FaultKind {
  kNone,
  kStatus,     // answer with `status` (and a short body) instead of the file
  kNoLength,   // the file without Content-Length, delimited by closing the connection
  kChunked,    // the file in chunked transfer coding, without Content-Length
  kEmpty,      // status 200 with Content-Length 0
  kCut,        // Content-Length of the whole file, `bytes` of it, then the connection is dropped
  kTrickle,    // the whole file, `bytes` per `interval_ms`
  kDelay,      // wait `delay_ms` before answering normally
  kBody,       // status 200 with `body` in place of the file (for damaged downloads)
  kLength,     // the file with Content-Length `length` as given (any digits), delimited by closing
  kNoRanges,   // a Range header is passed over: 200 with the whole file
  kWrongRange, // 206 with the bytes asked for, but a Content-Range `shift` bytes off
  kWrongBytes, // the answer's byte at `at` (within its body) flipped
};

struct Fault {
  FaultKind kind = FaultKind::kNone;
  int status = 200;
  long bytes = 0;
  int delayMs = 0;
  int intervalMs = 100;
  std::string body;
  std::string length;  // the Content-Length text of kLength
  long shift = 1;      // kWrongRange
  long at = 0;         // kWrongBytes
  int count = -1;  // answers left before the fault disarms itself; -1 = until cleared
};

const char* FaultKindName(FaultKind kind);

// Builds a fault from its kind name and parameters (status, bytes,
// delay_ms, interval_ms, body, length, shift, at, count). False with a message in *error for an
// unknown kind or a bad number.
bool ParseFault(const std::string& kind, const std::map<std::string, std::string>& params,
                Fault* out, std::string* error);

// A fault file line: PATH KIND [NAME=VALUE]... ('#' starts a comment line).
bool ParseFaultLine(const std::string& line, std::string* path, Fault* out, std::string* error);

// Request paths are compared in a normal form: percent escapes decoded,
// backslashes taken as slashes, "." segments and repeated slashes dropped,
// always one leading slash. False when a ".." segment would leave the root.
bool NormalizePath(const std::string& raw, std::string* out);

class FaultTable {
 public:
  void Arm(const std::string& path, const Fault& fault);
  void Clear(const std::string& path);
  void ClearAll();
  // The fault armed for this normalised path, if any; counts one use.
  bool Take(const std::string& path, Fault* out);
  std::string Describe();

 private:
  std::mutex mutex_;
  std::map<std::string, Fault> faults_;
};

}  // namespace tb
