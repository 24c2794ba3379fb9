#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "formats/base/owned_win.h"
#include "system/fetch.h"

namespace ulp {

namespace {

// The updater's request flags: always from the server, never the cache.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kReadSize = 65536;

std::string ErrorText(const char* what) {
  return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// The announced length, when the answer has a usable one.
bool AnnouncedLength(HINTERNET request, unsigned long long* length) {
  char text[32] = {0};
  DWORD size = sizeof text;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
  char* end = nullptr;
  *length = std::strtoull(text, &end, 10);
  return end != text && *end == '\0';
}

}  // namespace

struct HttpFetcher::Impl {
  ul::InternetHandle internet;
  ul::InternetHandle connection;
};

HttpFetcher::HttpFetcher(const std::string& host, int port) : impl_(new Impl) {
  impl_->internet.Reset(
      InternetOpenA("ulmet-publish", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!impl_->internet) return;
  impl_->connection.Reset(InternetConnectA(impl_->internet.Get(), host.c_str(),
                                           static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0));
}

HttpFetcher::~HttpFetcher() = default;

namespace {

// Reads the body into out, at most maxBytes of it. False, with why, when a
// read or a write fails or the body runs past maxBytes.
bool ReadBody(HINTERNET request, std::FILE* out, unsigned long long maxBytes,
              unsigned long long* received, std::string* why) {
  std::vector<char> buffer(kReadSize);
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request, buffer.data(), kReadSize, &got)) {
      *why = ErrorText("InternetReadFile");
      return false;
    }
    if (got == 0) return true;
    if (*received + got > maxBytes) {
      *why = RunsPast(maxBytes);
      return false;
    }
    if (std::fwrite(buffer.data(), 1, got, out) != got) {
      *why = "cannot write the temporary copy";
      return false;
    }
    *received += got;
  }
}

}  // namespace

FetchOutcome HttpFetcher::Get(const std::string& target, const std::string& localPath,
                              unsigned long long maxBytes) {
  if (!impl_->connection) return {kUnreachable, ErrorText("InternetConnect")};
  const char* accept[] = {"*/*", nullptr};
  ul::InternetHandle request(HttpOpenRequestA(impl_->connection.Get(), "GET", target.c_str(),
                                              "HTTP/1.1", nullptr, accept, kRequestFlags, 0));
  if (!request) return {kUnreachable, ErrorText("HttpOpenRequest")};
  if (!HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0))
    return {kUnreachable, ErrorText("HttpSendRequest")};
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &size, nullptr))
    return {kBroken, ErrorText("HttpQueryInfo")};
  if (status != 200 && status != 206) return {kMissing, "HTTP " + std::to_string(status)};

  std::FILE* out = std::fopen(localPath.c_str(), "wb");
  if (out == nullptr) return {kBroken, "cannot write " + localPath};
  unsigned long long received = 0;
  std::string why;
  bool ok = ReadBody(request.Get(), out, maxBytes, &received, &why);
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    why = "cannot write " + localPath;
  }
  if (!ok) return {kBroken, why};
  // A connection that drops mid-body ends the reads like a normal end; only
  // the announced length tells the two apart.
  unsigned long long length = 0;
  if (AnnouncedLength(request.Get(), &length) && length != received)
    return {kBroken, "the answer broke off after " + std::to_string(received) + " of " +
                         std::to_string(length) + " bytes"};
  return {kFetched, ""};
}

bool MakeTempFolder(std::string* path) {
  char temp[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n > MAX_PATH) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%sulmet-verify-%lu-%d", temp, GetCurrentProcessId(), attempt);
    if (CreateDirectoryA(name, nullptr)) {
      *path = name;
      return true;
    }
  }
  return false;
}

void RemoveTempFolder(const std::string& path) { RemoveDirectoryA(path.c_str()); }

std::string ForDisplay(const std::string& ansi) {
  std::string out;
  for (char ch : ansi) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace ulp
