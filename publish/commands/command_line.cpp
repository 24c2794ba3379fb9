#include "commands/command_line.h"

#include <cstdio>
#include <exception>

namespace ulp {

int Guarded(const char* command, int (*body)(int, char**), int argc, char** argv) {
  try {
    return body(argc, argv);
  } catch (const std::exception& e) {
    return Fail(command, kExitFailed, e.what());
  }
}

int Fail(const char* command, int code, const std::string& text) {
  std::fprintf(stderr, "ulmet-publish %s: %s\n", command, text.c_str());
  return code;
}

void ListProblems(const char* command, const std::string& heading, const std::vector<std::string>& problems) {
  Fail(command, kExitFailed, heading);
  for (const auto& p : problems) std::fprintf(stderr, "  %s\n", p.c_str());
}

Progress::Progress(const char* command, const char* what, std::size_t total)
    : command_(command), what_(what), total_(total), last_(std::chrono::steady_clock::now()) {}

void Progress::Step(std::size_t done) {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::seconds(1) && !(shown_ && done == total_)) return;
  last_ = now;
  Show(done);
}

void Progress::Show(std::size_t done) {
  std::fprintf(stderr, "ulmet-publish %s: %s %zu/%zu files\n", command_, what_, done, total_);
  shown_ = true;
}

}  // namespace ulp
