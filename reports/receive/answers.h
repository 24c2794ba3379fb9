// What the receiving path and the pages share: the time, the log and the
// plain answers.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ulr {

inline std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

inline void Log(const std::string& line) { std::fprintf(stderr, "ulmet-reports: %s\n", line.c_str()); }

inline void Plain(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

inline std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The sender of a request: the connecting address, or behind a proxy that
// is trusted, the address it names in X-Real-IP.
inline std::string Sender(const httplib::Request& req, bool trustProxy) {
  return trustProxy && req.has_header("X-Real-IP") ? req.get_header_value("X-Real-IP") : req.remote_addr;
}

}  // namespace ulr
