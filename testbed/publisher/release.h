// The release description that the publisher reads: which client files each
// version changed, how archives are made, and the server's settings.
//
// One statement per line; '#' starts a comment line; words are separated by
// blanks, and a word with blanks is written in double quotes.
//
//   host HOST                  configuration server host (directory record 5001)
//   port N                     port line of that record (default 80)
//   set NAME VALUE...          program configuration section [NAME] = rest of the line
//   unset NAME                 leave section [NAME] out
//   header TEXT                first line of the update list (default [ULMET3.0])
//   installer PATH             the full installer to publish ([INSTALLVERSION])
//   archive NAME.zip ITEM...   build entry NAME.zip from the client folder's ITEMs
//                              (files or folders, relative to the archive's own folder)
//   file ENTRY SOURCE          publish ENTRY from SOURCE (a client file or an absolute path)
//   hash-exclude PATH          leave a client file (or a folder, "Dir/") out of the hash list
//   version N ENTRY...         one line of the update list
//   chunks [FROM]              chunk indexes for the client files of at least FROM bytes
//                              (default 4 MiB), announced in [CHUNKLIST]
//   patch ENTRY BASE [from OTHER]
//                              a binary patch that makes the client file ENTRY from the
//                              file BASE (a path; relative: beside the release file),
//                              listed in the patch list announced in [PATCHLIST] as
//                              /Ulmet3/patches/pN.zst (N: 1 for the first patch
//                              statement, ...); with "from", made from OTHER while the
//                              list names BASE
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tb {

struct ReleaseVersion {
  int number = 0;
  std::vector<std::string> entries;
  int line = 0;
};

struct PatchStatement {
  std::string entry;
  std::string base;
  std::string from;  // empty: made from base
};

struct Release {
  std::string host;  // empty: the publisher's default
  int port = 80;
  std::map<std::string, std::string> sections;  // set
  std::vector<std::string> unset;
  std::string header = "[ULMET3.0]";
  std::string installer;
  std::map<std::string, std::vector<std::string>> archives;  // entry -> items
  std::map<std::string, std::string> fileSources;            // entry -> source
  std::vector<std::string> hashExcludes;
  unsigned long long chunkIndexFrom = 0;  // 0: no chunk indexes
  std::vector<PatchStatement> patches;
  std::vector<ReleaseVersion> versions;
};

// Splits a line into words; double quotes group blanks. False on an
// unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>* words);

// Parses a release description. On failure, *error names the line.
bool ParseRelease(const std::string& text, Release* out, std::string* error);

}  // namespace tb
