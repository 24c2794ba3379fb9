// The updater's portable readers report what they pass over through
// DebugTrace. In this tool those lines are collected, so that a command can
// say which names the updater would refuse.
#pragma once

#include <string>
#include <vector>

namespace ulp {

// The trace lines written since the last call (without their line feed),
// and the collection emptied.
std::vector<std::string> TakeTraceLines();

}  // namespace ulp
