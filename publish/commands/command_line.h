// What the commands share on the terminal: exit codes, messages under the
// command's name, and progress (their options: options.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace ulp {

// Exit codes (commands.h).
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Runs a command's body; a file system error that escapes it (a folder that
// vanishes while it is read) ends the command with its message and exit
// code 1 instead of ending the program.
int Guarded(const char* command, int (*body)(int, char**), int argc, char** argv);

// "ulmet-publish COMMAND: text" on stderr; returns code.
int Fail(const char* command, int code, const std::string& text);

// Each "NAME: reason" on its own line under a heading, on stderr.
void ListProblems(const char* command, const std::string& heading, const std::vector<std::string>& problems);

// "what done/total files" on stderr at most once a second, and at the end
// when anything was shown before.
class Progress {
 public:
  Progress(const char* command, const char* what, std::size_t total);
  void Step(std::size_t done);

 private:
  void Show(std::size_t done);
  const char* command_;
  const char* what_;
  std::size_t total_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace ulp
