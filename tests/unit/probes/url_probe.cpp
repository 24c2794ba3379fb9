// Stands in for the browser in the help-link test: appends the address it
// was asked to open (argument 2) to the file named by argument 1.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::FILE* f = std::fopen(argv[1], "ab");
  if (f == nullptr) return 1;
  std::fprintf(f, "%s\n", argv[2]);
  std::fclose(f);
  return 0;
}
