// The running program's own name, which it gives servers as its agent.
#pragma once

#include "formats/base/bounded.h"

// The file name of the running module without folder and extension:
// "Ulmet" for Ulmet.exe (and for its old copy Ulmet.e__).
void ProgramName(char (&out)[ul::kPathCap]);
