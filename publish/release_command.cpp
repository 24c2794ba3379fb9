// Placeholder until the command is built.
#include <cstdio>

#include "commands.h"

int ulp::RunRelease(int, char**) {
  std::fputs("ulmet-publish: release is not built yet\n", stderr);
  return 1;
}
