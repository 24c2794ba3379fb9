// The places a crash log names, read from the log the report carries
// (its conts), and what the symbols made of them.
//
// A log (testbed/common/crash_log.h shows its lines) gives the fault as
//   Fault address:  004015BB 01:000005BB C:\Ulmet\UlmetMain.exe
// and, after the "Address   Frame" header up to the "//====" end line,
// one line for each frame of the stack, the fault's own first:
//   004015BB  006DFCB8  0001:000005BB C:\Ulmet\UlmetMain.exe
// Each place is a module (the path's last part) and a logical address:
// the section's number (from 1) and the offset in that section.
//
// The log is player input: the reading is linear in its size and keeps
// at most kMaxFrames stack lines (the top ones). No network and no store
// here; it builds in the fuzz tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ulr {

constexpr std::size_t kMaxFrames = 64;

struct CrashPlace {
  bool fault = false;         // the fault line; the others are stack lines, top first
  std::string line;           // the line as the log has it, without its end
  std::string module;         // the path's last part, bytes as sent
  unsigned section = 0;       // 0: not in any section of the module
  std::uint32_t offset = 0;
  std::uint32_t address = 0;  // the absolute address the line gives first
};

// The fault (when the log has its line) and then the stack lines. A line
// whose logical address cannot be read is kept with section 0.
std::vector<CrashPlace> ReadCrashPlaces(std::string_view log);

// What the symbols say of one place; empty function when they say nothing.
struct Resolved {
  std::string function;
  std::int64_t functionOffset = -1;  // -1: unknown
  std::string file;
  int line = 0;  // 0: unknown
};

// The frames of a resolved report as stored with it: one line each, in the
// order of ReadCrashPlaces. Functions and files are made one line each
// (control characters become '?').
std::string WriteResolved(const std::vector<Resolved>& frames);
// Reads what WriteResolved wrote; false (and nothing) for other text.
bool ReadResolved(std::string_view text, std::vector<Resolved>* frames);

}  // namespace ulr
