// Placeholder until the command is built.
#include <cstdio>

#include "commands.h"

int ulp::RunVerify(int, char**) {
  std::fputs("ulmet-publish: verify is not built yet\n", stderr);
  return 1;
}
