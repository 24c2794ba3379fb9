#include "net/range_fetcher_win.h"

#include <cstring>
#include <vector>

#include "formats/base/bounded.h"
#include "common/program_name_win.h"
#include "common/trace.h"
#include "formats/trust/release_manifest.h"

namespace {

// Always from the server, never from or into a cache; the connection stays
// open for the next range.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;

// A header of the answer as text; empty when it is not there (or longer
// than any value this check expects).
bool AnswerHeader(HINTERNET request, DWORD which, char (&text)[128]) {
  DWORD size = sizeof text;
  text[0] = '\0';
  return HttpQueryInfoA(request, which, text, &size, nullptr) != FALSE;
}

}  // namespace

CRangeFetcher::CRangeFetcher(const ul::ReleaseManifest* release) : release_(release) {
  host_[0] = '\0';
  objectPath_[0] = '\0';
}

CRangeFetcher::~CRangeFetcher() = default;

bool CRangeFetcher::Open(const char* host, const char* objectPath, uint64_t fileSize) {
  connection_.Reset();
  internet_.Reset();
  received_ = 0;
  requests_ = 0;
  // A cut host or path would ask for some other resource.
  if (host == nullptr || objectPath == nullptr || ul::Copy(host_, host) != std::strlen(host) ||
      ul::Copy(objectPath_, objectPath) != std::strlen(objectPath))
    return false;
  if (release_ != nullptr) {
    const ul::ReleaseFile* record = release_->Find(objectPath);
    if (record == nullptr || record->size != fileSize) {
      DebugTrace("Release check: %s is not in the signed release with %llu bytes", objectPath,
                 static_cast<unsigned long long>(fileSize));
      return false;
    }
  }
  fileSize_ = fileSize;
  char agent[ul::kPathCap];
  ProgramName(agent);  // the agent is the program's own name, as for every download
  internet_.Reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (internet_)
    connection_.Reset(InternetConnectA(internet_.Get(), host_, INTERNET_DEFAULT_HTTP_PORT, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0));
  return static_cast<bool>(connection_);
}

int CRangeFetcher::FetchRange(uint64_t offset, uint64_t length, RangeSink& sink) {
  if (!connection_ || length == 0 || offset > fileSize_ || length > fileSize_ - offset) return kRangeRefused;
  const unsigned long long last = offset + length - 1;
  char header[96];
  ul::Format(header, "Range: bytes=%llu-%llu\r\n", static_cast<unsigned long long>(offset), last);
  const char* accept[] = {"*/*", nullptr};
  ul::InternetHandle request(HttpOpenRequestA(connection_.Get(), nullptr, objectPath_, "HTTP/1.1", nullptr,
                                              accept, kRequestFlags, 0));
  ++requests_;
  if (!request || !HttpSendRequestA(request.Get(), header, static_cast<DWORD>(-1), nullptr, 0)) {
    DebugTrace("Range %s %llu-%llu: no answer (%d)", objectPath_, static_cast<unsigned long long>(offset), last,
               static_cast<int>(GetLastError()));
    return kRangeBroken;
  }
  const int answer = CheckAnswer(request.Get(), offset, length);
  return answer != kRangeReceived ? answer : ReadBody(request.Get(), length, sink);
}

// The answer must be the range asked for, as it lies in the file.
int CRangeFetcher::CheckAnswer(HINTERNET request, uint64_t offset, uint64_t length) {
  char status[128], range[128], size[128], encoding[128];
  char expected[128];
  ul::Format(expected, "bytes %llu-%llu/%llu", static_cast<unsigned long long>(offset),
             static_cast<unsigned long long>(offset + length - 1), static_cast<unsigned long long>(fileSize_));
  char expectedLength[32];
  ul::Format(expectedLength, "%llu", static_cast<unsigned long long>(length));
  AnswerHeader(request, HTTP_QUERY_STATUS_CODE, status);
  AnswerHeader(request, HTTP_QUERY_CONTENT_RANGE, range);
  const bool lengthGiven = AnswerHeader(request, HTTP_QUERY_CONTENT_LENGTH, size);
  const bool encoded = AnswerHeader(request, HTTP_QUERY_CONTENT_ENCODING, encoding) &&
                       !ul::EqualsNoCase(encoding, "identity");
  if (std::strcmp(status, "206") == 0 && std::strcmp(range, expected) == 0 &&
      (!lengthGiven || std::strcmp(size, expectedLength) == 0) && !encoded)
    return kRangeReceived;
  DebugTrace("Range %s: asked for %s, the answer is %s with Content-Range \"%s\", length \"%s\"%s", objectPath_,
             expected, status, range, size, encoded ? ", encoded" : "");
  return kRangeRefused;
}

// Reads exactly length bytes, each read followed by its pause (PacedReader).
int CRangeFetcher::ReadBody(HINTERNET request, uint64_t length, RangeSink& sink) {
  std::vector<char> buffer(reader_.size());
  uint64_t got = 0;
  while (got < length) {
    const DWORD want = length - got < buffer.size() ? static_cast<DWORD>(length - got) : static_cast<DWORD>(buffer.size());
    DWORD n = 0;
    if (!reader_.Next(request, buffer.data(), want, &n)) {
      DebugTrace("Range %s: read failed (%d)", objectPath_, static_cast<int>(GetLastError()));
      return kRangeBroken;
    }
    if (n == 0) {
      DebugTrace("Range %s: the answer ended after %llu of %llu bytes", objectPath_,
                 static_cast<unsigned long long>(got), static_cast<unsigned long long>(length));
      return kRangeBroken;
    }
    got += n;
    received_ += n;
    if (!sink.Take(buffer.data(), n)) return kRangeStopped;
  }
  return kRangeReceived;
}
