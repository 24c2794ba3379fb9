// ulmet-publish verify: reads a tree, on disk or served, with the updater's
// own readers and rules, and reports everything that would make the updater
// fail, pass over a file or leave a client wrong.
#pragma once

#include <cstdio>
#include <string>

namespace ulp {

// Where the client is taken to be installed when the command line does not
// say: the path gate's verdicts depend on the folder's length.
constexpr char kNominalClientFolder[] = "C:\\Program Files\\Ulmet\\";

struct VerifyOptions {
  std::string where;  // the tree's folder, or http://HOST[:PORT]/
  std::string clientFolder = kNominalClientFolder;
};

// Checks the tree and writes the report to out, progress to progress (may
// be null). 0 when no problem was found, 1 otherwise, 2 when where is no
// usable address.
int VerifyTree(const VerifyOptions& options, std::FILE* out, std::FILE* progress);

}  // namespace ulp
