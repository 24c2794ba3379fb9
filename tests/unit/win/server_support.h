// The test bed's HTTP server as the Windows-facing download tests reach it:
// tests/unit/download_server_test.sh starts it on loopback port 80 and names
// it in ULMET_TEST_HTTP_HOST, the folder it serves in ULMET_TEST_HTTP_ROOT
// and its request log in ULMET_TEST_HTTP_LOG (Unix paths); without them the
// tests are skipped.
#pragma once

#include <windows.h>

#include <wininet.h>

#include <cstdlib>
#include <string>

namespace serversupport {

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// A Unix path as a Windows path (Wine's Z: is the Unix root).
inline std::string WinePath(const char* variable) {
  std::string path = Env(variable);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path.empty() ? path : "Z:" + path;
}

inline std::string ServedFolder() { return WinePath("ULMET_TEST_HTTP_ROOT"); }

// One control request to the server; its status code.
inline int Control(const std::string& query) {
  HINTERNET net = InternetOpenA("ctl", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  std::string url = "http://" + Env("ULMET_TEST_HTTP_HOST") + "/__control/" + query;
  HINTERNET req = InternetOpenUrlA(net, url.c_str(), nullptr, 0, INTERNET_FLAG_RELOAD, 0);
  DWORD status = 0, size = sizeof(status);
  if (req) HttpQueryInfoA(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  if (req) InternetCloseHandle(req);
  InternetCloseHandle(net);
  return static_cast<int>(status);
}

}  // namespace serversupport
