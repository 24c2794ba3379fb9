// Placeholder until the command is built.
#include <cstdio>

#include "commands.h"

int ulp::RunInit(int, char**) {
  std::fputs("ulmet-publish: init is not built yet\n", stderr);
  return 1;
}
