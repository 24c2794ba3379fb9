#include "crash_log.h"

#include <cstdio>

namespace tb {

std::string FormatCrashLog(const CrashLog& log) {
  std::string out;
  out += "//=====================================================\n";
  out += "Ulmet crash report\n";
  out += "Version : " + log.version + "\n";
  out += "Exception code: C0000005 ACCESS_VIOLATION\n";
  out += "Fault address:  " + log.faultAddress + " 01:" + log.faultAddress + " " + log.faultModule + "\n";
  out += "\nCall stack:\n";
  out += "Address   Frame     Logical addr  Module\n";
  unsigned frame = 0x0012FF00;
  for (const auto& s : log.stack) {
    char buf[32];
    snprintf(buf, sizeof buf, "%08X  ", frame);
    out += s.first + "  " + buf + "0001:" + s.first + " " + s.second + "\n";
    frame += 0x40;
  }
  out += "//=======================================================\n";
  out += log.extra;
  return out;
}

}  // namespace tb
