// The names to process in this run, in the order first seen, unique without
// regard to letter case, with the highest version among the lines taken.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/bounded.h"

class UpdateConfig;

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

// What the reader traces for each name of a line it takes in: its verdicts
// as the beginnings of trace lines (the name follows where there is one).
// The operators' verify reads the reader's verdicts from these.
constexpr char kTraceRefusedEntry[] = "Refused update entry : ";
constexpr char kTraceInsertedEntry[] = "InsertFileList : ";
constexpr char kTraceSelfUpdate[] = "SelfUpdate";
constexpr char kTraceMajorUpdate[] = "MajorUpdate";

class UpdateFileList {
 public:
  UpdateFileList() = default;
  virtual ~UpdateFileList() = default;

  // Empties the list: maxVersion 1000, no entries. Always true.
  // (The status text that goes with the reset is set by the caller.)
  bool ClearFileList();

  // Collects the names of one list line (its line feed already removed)
  // when its version is newer than installedVersion; raises
  // config.selfUpdatePending / config.majorUpdatePending for the markers.
  // A name that would lead out of the client folder (absolute, drive, "..",
  // or empty after its '-' or '=') is traced and passed over.
  void ParseUpdateLine(const char* line, int installedVersion, UpdateConfig& config);

  // Appends name (cut to 260 characters) unless an equal name is present.
  bool InsertFile(const char* name);

  // Reads a fetched update list from file (opened in text mode; the caller
  // closes and deletes it): the header line, then ParseUpdateLine on every
  // further line until the end or until a line raised a marker. localName
  // appears in the trace lines. False, after its trace line, when the file
  // is empty or its header is not "[ULMET]" or "[ULMET3.0]".
  bool ReadListFile(std::FILE* file, const char* localName, UpdateConfig& config);

  const char* EntryAt(int index) const { return entries_[static_cast<size_t>(index)].name; }

  int32_t maxVersion = 1000;
  int32_t entryCount = 0;

 private:
  std::vector<UpdateFileEntry> entries_;
};
