// ulmet-publish verify: the command line.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "commands/commands.h"
#include "commands/options.h"
#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "tree/settings.h"
#include "verify/verify.h"

namespace {

const char kUsage[] =
    "usage: ulmet-publish verify TREE|http://HOST[:PORT]/ [--client-folder WINPATH]\n"
    "\n"
    "Reads the tree's directory file, program configuration, update list and\n"
    "hash list with the updater's own readers, and checks every file they name\n"
    "at the address the updater requests: there, with the digest the hash list\n"
    "says, archives that unpack, names the updater takes. Everything is fetched\n"
    "from TREE (a published folder) or from the server given, whatever host the\n"
    "directory file names.\n"
    "\n"
    "  --client-folder WINPATH   where clients are taken to be installed, for the\n"
    "                            path checks (default: the install folder in\n"
    "                            TREE's settings, else C:\\Program Files\\Ulmet)\n"
    "  --key FILE.pub            the release key updaters are built with: the\n"
    "                            signed release must be signed by it and record\n"
    "                            every file served (without it, the records are\n"
    "                            checked but not the signature)\n"
    "\n"
    "Output: one line per problem, \"<tree file or served path>: <reason>\";\n"
    "warnings and notes in the same form, marked \"warning:\" and \"note:\"; then\n"
    "\"N problems\" or \"no problems: X lines, Y files checked\". Progress goes to\n"
    "standard error.\n"
    "Exit status: 0 no problems (warnings allowed), 1 problems, 2 wrong command line.\n";

int Wrong(const char* what, const char* detail) {
  std::fprintf(stderr, "ulmet-publish verify: %s%s (see ulmet-publish verify --help)\n", what,
               detail);
  return 2;
}

}  // namespace

// The install folder that the publisher checked the names against, when
// where is a published folder with its settings; the default otherwise.
std::string ulp::TreeInstallFolder(const std::string& where) {
  ulp::Settings settings;
  return ulp::ReadTreeSettings(where, &settings) ? settings.installFolder : ulp::kDefaultInstallFolder;
}

int ulp::RunVerify(int argc, char** argv) {
  VerifyOptions options;
  std::vector<std::string> where;
  int code = 0;
  if (!Options("verify", kUsage)
           .Text("--client-folder", &options.clientFolder)
           .Text("--key", &options.releaseKey)
           .Words("tree (a folder or http://HOST[:PORT]/)", &where, 1)
           .Read(argc, argv, &code))
    return code;
  options.where = where[0];
  const bool folderGiven = !options.clientFolder.empty();
  if (!folderGiven) options.clientFolder = TreeInstallFolder(options.where);
  char probe[ul::kPathCap];
  if (!ul::ResolveInsideFolder(options.clientFolder.c_str(), "x", probe))
    return Wrong("--client-folder must be an absolute Windows folder: ",
                 options.clientFolder.c_str());
  return VerifyTree(options, stdout, stderr);
}
