// The component's diagnostic channel: each call hands one text, without a
// line end, to the debugger output.
#pragma once

namespace bvx {

// The text is passed as it stands (never used as a format) and cut to the
// channel's line size.
void Trace(const char* text);

}  // namespace bvx
