// The trace lines that say what the readers made of the server's lists, as
// the updater has always written them (tests and operators read them).
//
// No Windows headers here: the tests check the lines natively too.
#pragma once

#include <string>
#include <vector>

#include "formats/lists/update_list.h"

// One line per name of the update list: refused, or taken (after its
// marker's line, where it has one).
void TraceUpdateWords(const std::vector<UpdateWord>& words);
// The line for a list file that was no list; nothing for kListRead.
// localName is where it was fetched to.
void TraceUpdateListVerdict(UpdateListVerdict verdict, const char* localName);
// One line per hash list line passed over.
void TraceRefusedHashLines(const std::vector<std::string>& lines);
// "Release check: <why>".
void TraceReleaseCheck(const std::string& why);
