// The names of update files as the server's lists write them: relative
// paths below the update folder, '/' between folders, code page 949, blanks
// written as '!'. Two names that differ only in letter case, in '!' against
// a blank or in '\' against '/' are the same file on the client's side.
//
// No Windows headers here: this builds natively for the sanitizer runs.
#pragma once

#include <string>

namespace ul {

// The form two names share when the client takes them for the same file.
std::string UpdateNameKey(const std::string& name);

// A relative path below the update folder, as the update list writes one:
// not empty, shorter than a path, no control character, no trailing
// separator, and one the path gate keeps inside the folder.
bool IsUpdateFileName(const std::string& name);

}  // namespace ul
