// Which client file names the updater can deliver as the same file. Every
// name goes through the updater's own code: its list reader, its local name
// and its path gate below a nominal client folder.
//
// A name here is a client file's path below the client folder in code page
// 949 with '/' between folders.
#pragma once

#include <string>
#include <vector>

namespace ulp {

// The nominal client folder the path gate is asked about: clients installed
// deeper leave less room for names.
constexpr char kDefaultInstallFolder[] = "C:\\Program Files\\Ulmet";

// The word of a name in an update list line: a blank becomes '!'.
std::string PublishedName(const std::string& name);

// Why the updater could not fetch or delete the client file name as that
// same file, or "" when it can. hashListed: the name also goes into the
// hash list.
std::string NameProblem(const std::string& name, bool hashListed, const std::string& installFolder);

// Why the word (an archive, the updater's new copy, the installer entry,
// or a deletion) would not arrive in the updater's list intact, or "" when
// it does.
std::string ListWordProblem(const std::string& word);

// Pairs of names (files, and the folders they lie in) that the updater or
// Windows take for one name because they differ only in letter case, each
// as "A and B".
std::vector<std::string> CaseCollisions(const std::vector<std::string>& names);

}  // namespace ulp
