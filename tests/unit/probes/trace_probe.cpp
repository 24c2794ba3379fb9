// Sends the trace lines that trace_channel_test.sh looks for.
#include <cstring>
#include <string>

#include "common/trace.h"

int main() {
  DebugTrace("probe %s %d%%", "short", 42);
  std::string longText(9000, 'x');
  std::memcpy(&longText[0], "LONGSTART", 9);
  DebugTrace("%s", longText.c_str());
  DebugTrace("%s", "percent %s %n stays");  // a value is never the format
  return 0;
}
