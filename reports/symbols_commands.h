// ulmet-reports' commands for symbols: "symbols add|list|remove" and
// "resymbolize" (main.cpp hands them their arguments).
#pragma once

namespace ulr {

int SymbolsCommand(int argc, char** argv);
int ResymbolizeCommand(int argc, char** argv);

}  // namespace ulr
