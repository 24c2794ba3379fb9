// Writes a client crash log in the form the updater reads: a version line,
// a fault line, the stack header, stack lines and the end line.
#pragma once

#include <string>
#include <vector>

namespace tb {

struct CrashLog {
  std::string version = "4001";
  std::string faultAddress = "0041A2B3";  // offset written after "0001:"
  std::string faultModule = "C:\\Ulmet\\UlmetMain.exe";
  // Stack lines as (offset, module path); the last one is what the reader keeps.
  std::vector<std::pair<std::string, std::string>> stack = {
      {"00012345", "C:\\Ulmet\\UlmetMain.exe"}, {"00023456", "C:\\WINDOWS\\system32\\KERNEL32.dll"}};
  std::string extra;  // free text after the end line
};

std::string FormatCrashLog(const CrashLog& log);

}  // namespace tb
