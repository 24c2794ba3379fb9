#include <windows.h>

#include "bvx_trace.h"
#include "relay_text.h"

namespace bvx {

void Trace(const char* text) {
  char line[8172];
  CopyBounded(line, sizeof line, text);
  OutputDebugStringA(line);
}

}  // namespace bvx
