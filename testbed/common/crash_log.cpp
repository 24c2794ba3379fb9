#include "crash_log.h"

#include <cstdio>

namespace tb {

std::string CrashLogHead(const std::string& version, const std::string& exceptionLine) {
  return "//=====================================================\nUlmet crash report\nVersion : " + version +
         "\nException code: " + exceptionLine + "\n";
}

std::string FaultLine(const std::string& address, const std::string& section, const std::string& offset,
                      const std::string& module) {
  return "Fault address:  " + address + " " + section + ":" + offset + " " + module + "\n";
}

std::string StackHeader() { return "\nCall stack:\nAddress   Frame     Logical addr  Module\n"; }

std::string StackLine(const std::string& address, const std::string& frame, const std::string& section,
                      const std::string& offset, const std::string& module) {
  return address + "  " + frame + "  " + section + ":" + offset + " " + module + "\n";
}

// "//" and 55 '=': the updater's reader stops at it.
std::string StackEnd() { return "//=======================================================\n"; }

std::string FormatCrashLog(const CrashLog& log) {
  std::string out = CrashLogHead(log.version, "C0000005 ACCESS_VIOLATION");
  out += FaultLine(log.faultAddress, "01", log.faultAddress, log.faultModule);
  out += StackHeader();
  unsigned frame = 0x0012FF00;
  for (const auto& s : log.stack) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", frame);
    out += StackLine(s.first, buf, "0001", s.first, s.second);
    frame += 0x40;
  }
  out += StackEnd();
  out += log.extra;
  return out;
}

}  // namespace tb
