// Writes a client crash log in the form the updater reads: a version line,
// a fault line, the stack header, stack lines and the end line. The line
// shapes have their one home here: the scenarios' made-up logs and the
// crash handler's real ones (testbed/win/crash_handler.h) both use them.
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

// The pieces, each with its line feed. Addresses are eight hexadecimal
// digits, a fault's section two and a stack line's four; a logical address
// is the section's number (from 1) and the offset in it.
std::string CrashLogHead(const std::string& version, const std::string& exceptionLine);
std::string FaultLine(const std::string& address, const std::string& section, const std::string& offset,
                      const std::string& module);
std::string StackHeader();
std::string StackLine(const std::string& address, const std::string& frame, const std::string& section,
                      const std::string& offset, const std::string& module);
std::string StackEnd();

}  // namespace tb
