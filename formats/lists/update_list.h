// The names to process in this run, in the order first seen, unique without
// regard to letter case, with the highest version among the lines taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/base/bounded.h"

struct UpdateFileEntry {
  char name[ul::kPathCap];
};

// What the worker does with an entry of the list, by its first character
// or its whole name.
enum UpdateEntryKind {
  kEntryDeleteFile,       // "-name": the file goes
  kEntryDeleteFolder,     // "=name": the folder goes with everything in it
  kEntryInstallerMarker,  // "Ulmet3_install.exe" in any case: only the version is written
  kEntryFetch,            // any other name: downloaded, then unpacked or registered
};
UpdateEntryKind ClassifyUpdateEntry(const char* entry);

// The entry's name without its '-' or '=' (the entry itself for the others).
const char* UpdateEntryName(const char* entry);

// The version of one update list line (its line feed removed) as the reader
// takes it: the decimal first word, taken ten times when below 1000. False
// for a line the reader passes over: shorter than 5 characters, or not
// starting with a digit after leading white space.
bool UpdateLineVersion(const char* line, int32_t* version);

// The local name of a list name: a blank separates the names of a list line,
// so the release writes a blank in a name as '!', and the client's file has
// the blank back. The same for files to fetch and files or folders to delete,
// so that what is deleted is what was written.
void LocalNameOf(const char* listName, char (&out)[ul::kPathCap]);

// Whether the first line of a file says it is an update list: it begins with
// "[ULMET]" or "[ULMET3.0]".
bool IsUpdateListHeader(const char* line);

// What the reader made of one name on a line newer than the client, in the
// order of the line.
enum UpdateMarker {
  kMarkerNone,
  kMarkerSelfUpdate,   // the updater's new copy ("ulmet.ex_" in any case)
  kMarkerMajorUpdate,  // the full installer ("ulmet_install.exe" in any case)
};
struct UpdateWord {
  std::string text;    // the name as the line has it
  bool refused = false;  // it would lead out of the client folder: passed over
  UpdateMarker marker = kMarkerNone;
};

// How a list file read.
enum UpdateListVerdict {
  kListRead,      // the header and every line up to the end or to a marker
  kListEmpty,     // not even a header line
  kListNotAList,  // the header is neither "[ULMET]" nor "[ULMET3.0]"
};

class UpdateFileList {
 public:
  UpdateFileList() = default;
  virtual ~UpdateFileList() = default;

  // Empties the list: maxVersion 1000, no entries, no marker. Always true.
  // (The status text that goes with the reset is set by the caller.)
  bool ClearFileList();

  // Collects the names of one list line (its line feed already removed)
  // when its version is newer than installedVersion; raises
  // selfUpdateMarked / majorUpdateMarked for the markers. A name that would
  // lead out of the client folder (absolute, drive, "..", or empty after
  // its '-' or '=') is passed over. Each name the line offers gets its word
  // in words (a name already in the list too).
  void ParseUpdateLine(const char* line, int installedVersion, std::vector<UpdateWord>* words);

  // Appends name (cut to 260 characters) unless an equal name is present.
  bool InsertFile(const char* name);

  // Reads a fetched update list from file (opened in text mode; the caller
  // closes and deletes it): the header line, then ParseUpdateLine on every
  // further line until the end or until a line raised a marker.
  UpdateListVerdict ReadListFile(std::FILE* file, int installedVersion, std::vector<UpdateWord>* words);

  const char* EntryAt(int index) const { return entries_[static_cast<size_t>(index)].name; }

  int32_t maxVersion = 1000;
  int32_t entryCount = 0;
  // A line offered the updater's new copy or the full installer.
  uint8_t selfUpdateMarked = 0;
  uint8_t majorUpdateMarked = 0;

 private:
  std::vector<UpdateFileEntry> entries_;
};
