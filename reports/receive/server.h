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
  // What one sender may do. The connections are counted by the address
  // that connects (so not behind a proxy: nginx counts them there); posts
  // and failed logins by the sender's address.
  int connectionsPerAddress = 8;  // 0: any number
  int requestSeconds = 20;        // for a request's head; a body has more, by its size
  int postsPerMinute = 10;        // 0: any number
  int postBurst = 30;             // posts at once before the rate applies
  // Posts are refused (503: the updater keeps its log) while the store's
  // disk has less than this free beside the post; the disk is the SQLite
  // file's, or freeSpacePath's (for PostgreSQL on this machine).
  int minFreeMb = 1024;
  std::string freeSpacePath;
  int keepDays = 0;  // reports older than this are removed; 0: all are kept
  // The addresses that may see the pages (the connecting one: behind a
  // proxy, the proxy's), "ADDR[/BITS],...".
  std::string pagesFrom = "127.0.0.0/8,::1";
};

// Runs until SIGTERM or SIGINT; the exit code.
int Serve(const ServeOptions& options);

}  // namespace ulr
