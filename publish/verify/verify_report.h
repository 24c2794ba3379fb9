// The report of a check: one line per problem, "<where>: <reason>", each
// problem once; warnings and notes in the same form, marked; then a summary.
#pragma once

#include <cstdio>
#include <set>
#include <string>

namespace ulp {

class Report {
 public:
  explicit Report(std::FILE* out) : out_(out) {}

  // Something that makes the updater fail, pass over a file or leave a
  // client wrong. Written at once unless the same line was written before.
  void Problem(const std::string& where, const std::string& reason);
  // Worth a look, but no fault of the tree.
  void Warning(const std::string& where, const std::string& reason);
  // What the check found out, for the reader's orientation.
  void Note(const std::string& where, const std::string& text);

  int problems() const { return problems_; }

  // "N problems", or "no problems: X lines, Y files checked".
  void Summary(int lines, int files);

 private:
  bool Once(const std::string& line);

  std::FILE* out_;
  std::set<std::string> written_;
  int problems_ = 0;
  int warnings_ = 0;
};

// name in double quotes, as the report shows a name from the server.
std::string Quoted(const std::string& name);

}  // namespace ulp
