// ulmet-publish: publishes the next release of the client from its folder
// and checks a served tree with the updater's own readers and rules.
#include <cstdio>
#include <cstring>

#include "commands/commands.h"

namespace {

const char kUsage[] =
    "usage: ulmet-publish COMMAND [OPTIONS]   (ulmet-publish COMMAND --help for each)\n"
    "\n"
    "  init     the first server tree from a client folder\n"
    "  release  the next version from the new client folder\n"
    "  verify   check a tree, on disk or served, the way the updater reads it\n"
    "  keygen   make a release signing key pair\n"
    "  sign     sign a tree's release with a private key\n";

struct Command {
  const char* name;
  int (*run)(int, char**);
};

const Command kCommands[] = {
    {"init", ulp::RunInit},     {"release", ulp::RunRelease}, {"verify", ulp::RunVerify},
    {"keygen", ulp::RunKeygen}, {"sign", ulp::RunSign},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const Command& c : kCommands) {
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "ulmet-publish: unknown command '%s' (see ulmet-publish --help)\n", argv[1]);
  return 2;
}
