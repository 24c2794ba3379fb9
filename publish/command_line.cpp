#include "command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace ulp {

bool Words::Next(std::string* word) {
  if (next_ >= argc_) return false;
  *word = argv_[next_++];
  return true;
}

bool Words::Value(const std::string& option, const char** value) {
  if (next_ >= argc_) {
    Fail(command_, kExitUsage, option + " needs a value (see --help)");
    return false;
  }
  *value = argv_[next_++];
  return true;
}

bool Words::Number(const std::string& option, long lo, long hi, int* value) {
  const char* text = nullptr;
  if (!Value(option, &text)) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || v < lo || v > hi) {
    Fail(command_, kExitUsage, option + " takes a number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return false;
  }
  *value = static_cast<int>(v);
  return true;
}

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
