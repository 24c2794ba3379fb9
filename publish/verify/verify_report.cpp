#include "verify/verify_report.h"

#include "system/fetch.h"

namespace ulp {

bool Report::Once(const std::string& line) {
  if (!written_.insert(line).second) return false;
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
  return true;
}

void Report::Problem(const std::string& where, const std::string& reason) {
  if (Once(where + ": " + reason)) ++problems_;
}

void Report::Warning(const std::string& where, const std::string& reason) {
  if (Once(where + ": warning: " + reason)) ++warnings_;
}

void Report::Note(const std::string& where, const std::string& text) {
  Once(where + ": note: " + text);
}

void Report::Summary(int lines, int files) {
  const std::string warned =
      warnings_ == 0 ? "" : ", " + std::to_string(warnings_) + (warnings_ == 1 ? " warning" : " warnings");
  if (problems_ == 0) {
    std::fprintf(out_, "no problems: %d lines, %d files checked%s\n", lines, files, warned.c_str());
  } else {
    std::fprintf(out_, "%d %s%s\n", problems_, problems_ == 1 ? "problem" : "problems", warned.c_str());
  }
  std::fflush(out_);
}

std::string Quoted(const std::string& name) { return "\"" + ForDisplay(name) + "\""; }

}  // namespace ulp
