#include <httplib.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system/fetch.h"

namespace ulp {

struct HttpFetcher::Impl {
  Impl(const std::string& host, int port) : client(host, port) {}
  httplib::Client client;
};

HttpFetcher::HttpFetcher(const std::string& host, int port) : impl_(new Impl(host, port)) {
  httplib::Client& c = impl_->client;
  c.set_keep_alive(true);
  c.set_tcp_nodelay(true);
  // WinINet follows redirections by itself, and asks for no compression.
  c.set_follow_location(true);
  c.set_decompress(false);
  c.set_connection_timeout(10);
  c.set_read_timeout(60);
}

HttpFetcher::~HttpFetcher() = default;

namespace {

// What a failed request without a usable answer means for the report.
FetchOutcome FromError(httplib::Error error, long long received) {
  FetchOutcome o;
  if (error == httplib::Error::Connection || error == httplib::Error::ConnectionTimeout) {
    o.status = kUnreachable;
    o.detail = "no connection (" + httplib::to_string(error) + ")";
  } else {
    o.status = kBroken;
    o.detail = "the answer broke off after " + std::to_string(received) + " bytes (" +
               httplib::to_string(error) + ")";
  }
  return o;
}

}  // namespace

FetchOutcome HttpFetcher::Get(const std::string& target, const std::string& localPath,
                              unsigned long long maxBytes) {
  std::FILE* out = std::fopen(localPath.c_str(), "wb");
  if (out == nullptr) return {kBroken, "cannot write " + localPath + ": " + std::strerror(errno)};
  int status = 0;
  long long received = 0;
  bool writeFailed = false;
  bool tooLong = false;
  httplib::Headers headers = {
      {"Accept", "*/*"}, {"Pragma", "no-cache"}, {"User-Agent", "ulmet-publish"}};
  httplib::Result res = impl_->client.Get(
      target, headers,
      [&](const httplib::Response& r) {
        status = r.status;
        return true;
      },
      [&](const char* data, std::size_t n) {
        if (status != 200 && status != 206) return true;  // an error page is no file
        if (static_cast<unsigned long long>(received) + n > maxBytes) {
          tooLong = true;
          return false;
        }
        received += static_cast<long long>(n);
        if (std::fwrite(data, 1, n, out) != n) writeFailed = true;
        return !writeFailed;
      });
  const bool closed = std::fclose(out) == 0;
  if (tooLong) return {kBroken, RunsPast(maxBytes)};
  if (!res) return FromError(res.error(), received);
  if (status != 200 && status != 206) return {kMissing, "HTTP " + std::to_string(status)};
  if (writeFailed || !closed) return {kBroken, "cannot write " + localPath};
  return {kFetched, ""};
}

bool MakeTempFolder(std::string* path) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base ? base : "/tmp") + "/ulmet-verify-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) return false;
  *path = pattern;
  return true;
}

void RemoveTempFolder(const std::string& path) { rmdir(path.c_str()); }

namespace {

std::string Escaped(unsigned char c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", c);
  return hex;
}

}  // namespace

std::string ForDisplay(const std::string& ansi) {
  std::string out;
  iconv_t cd = iconv_open("UTF-8", "CP949");
  std::size_t i = 0;
  while (i < ansi.size()) {
    const unsigned char c = static_cast<unsigned char>(ansi[i]);
    if (c < 0x20 || c == 0x7F) {
      out += Escaped(c);
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      // One double-byte character at a time, so that a bad pair costs only
      // its own bytes.
      char in[2] = {ansi[i], i + 1 < ansi.size() ? ansi[i + 1] : '\0'};
      char utf8[8];
      char* ip = in;
      char* op = utf8;
      std::size_t inLeft = i + 1 < ansi.size() ? 2 : 1;
      std::size_t outLeft = sizeof utf8;
      if (cd != reinterpret_cast<iconv_t>(-1) &&
          iconv(cd, &ip, &inLeft, &op, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0) {
        out.append(utf8, sizeof utf8 - outLeft);
        i += 2;
      } else {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
        out += Escaped(c);
        ++i;
      }
    }
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return out;
}

}  // namespace ulp
