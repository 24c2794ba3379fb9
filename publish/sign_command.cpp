// Placeholder until the commands are built.
#include <cstdio>

#include "commands.h"

int ulp::RunKeygen(int, char**) {
  std::fputs("ulmet-publish: keygen is not built yet\n", stderr);
  return 1;
}

int ulp::RunSign(int, char**) {
  std::fputs("ulmet-publish: sign is not built yet\n", stderr);
  return 1;
}
