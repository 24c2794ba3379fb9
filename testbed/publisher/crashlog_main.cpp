// testbed_crashlog: writes a client crash log for the crash scenarios.
//   testbed_crashlog OUT_FILE [--version V] [--fault OFFSET MODULE_PATH]
//                    [--stack OFFSET MODULE_PATH]... [--size N]
// --size pads the log with comment lines after the end line up to N bytes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/crash_log.h"

int main(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help") {
    std::fputs("usage: testbed_crashlog OUT_FILE [--version V] [--fault OFFSET MODULE] "
               "[--stack OFFSET MODULE]... [--size N]\n", argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  tb::CrashLog log;
  bool stackGiven = false;
  long size = 0;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--version" && i + 1 < argc) {
      log.version = argv[++i];
    } else if (a == "--fault" && i + 2 < argc) {
      log.faultAddress = argv[++i];
      log.faultModule = argv[++i];
    } else if (a == "--stack" && i + 2 < argc) {
      if (!stackGiven) log.stack.clear();
      stackGiven = true;
      std::string offset = argv[++i];
      log.stack.emplace_back(offset, argv[++i]);
    } else if (a == "--size" && i + 1 < argc) {
      size = std::atol(argv[++i]);
    } else {
      std::fprintf(stderr, "testbed_crashlog: bad argument '%s'\n", a.c_str());
      return 2;
    }
  }
  std::string text = tb::FormatCrashLog(log);
  while (static_cast<long>(text.size()) < size) text += "; padding of a large crash log ...........\n";
  std::ofstream out(argv[1], std::ios::binary);
  out << text;
  return out ? 0 : 1;
}
