// ulmet-reports serve: one HTTP server for the updaters' posts (open to
// everyone, on one path) and the operator's pages (everything else, behind
// the password).
#pragma once

#include <string>

namespace ulr {

struct ServeOptions {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string path = "/report";
  std::string store;
  std::string password;  // empty: no pages, only the receiving path
  int threads = 64;
  bool trustProxy = false;  // take the sender's address from X-Real-IP
  std::string readyFile;
};

// Runs until SIGTERM or SIGINT; the exit code.
int Serve(const ServeOptions& options);

}  // namespace ulr
