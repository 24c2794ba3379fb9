// ulmet-publish verify: reads a tree, on disk or served, with the updater's
// own readers and rules, and reports everything that would make the updater
// fail, pass over a file or leave a client wrong.
#pragma once

#include <cstdio>
#include <string>

#include "tree/name_rules.h"

namespace ulp {

struct VerifyOptions {
  std::string where;  // the tree's folder, or http://HOST[:PORT]/
  // Where the client is taken to be installed: the path gate's verdicts
  // depend on the folder's length. The command takes the tree's own
  // settings when it checks a folder and is not told otherwise.
  std::string clientFolder = kDefaultInstallFolder;
  // The public release key file (".pub") the updaters are built with, or "".
  std::string releaseKey;
};

// The install folder that the publisher checked the names against, when
// where is a published folder with its settings; the default otherwise.
std::string TreeInstallFolder(const std::string& where);

// Checks the tree and writes the report to out, progress to progress (may
// be null). 0 when no problem was found, 1 otherwise, 2 when where is no
// usable address.
int VerifyTree(const VerifyOptions& options, std::FILE* out, std::FILE* progress);

}  // namespace ulp
