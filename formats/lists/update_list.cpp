#include "formats/lists/update_list.h"

#include <cstring>

#include "formats/base/safe_path.h"
#include "formats/base/text_line.h"

namespace {

bool IsBlankOrTab(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Copies the white-space delimited word that starts at or after text (white
// space first skipped) into word. A word can be as long as a whole line
// read with the 1024-byte line buffer; anything longer is cut. False when
// only white space is left.
bool ReadWord(const char* text, char (&word)[ul::kLineCap]) {
  while (*text != '\0' && IsBlankOrTab(*text)) ++text;
  std::size_t n = 0;
  while (text[n] != '\0' && !IsBlankOrTab(text[n]) && n + 1 < sizeof word) {
    word[n] = text[n];
    ++n;
  }
  word[n] = '\0';
  return n > 0;
}

bool ContainsNoCase(const char* text, const char* lowerNeedle) {
  char lower[ul::kLineCap];
  std::size_t n = 0;
  for (; text[n] != '\0' && n + 1 < sizeof lower; ++n) {
    char c = text[n];
    lower[n] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  lower[n] = '\0';
  return std::strstr(lower, lowerNeedle) != nullptr;
}

}  // namespace

bool UpdateFileList::ClearFileList() {
  maxVersion = 1000;
  entryCount = 0;
  selfUpdateMarked = 0;
  majorUpdateMarked = 0;
  entries_.clear();
  return true;
}

bool UpdateFileList::InsertFile(const char* name) {
  if (name == nullptr) return false;
  UpdateFileEntry entry;
  ul::Copy(entry.name, name);
  for (const UpdateFileEntry& e : entries_) {
    if (ul::EqualsNoCase(e.name, entry.name)) return false;
  }
  entries_.push_back(entry);
  ++entryCount;
  return true;
}

void UpdateFileList::ParseUpdateLine(const char* line, int installedVersion, std::vector<UpdateWord>* words) {
  int32_t version = 0;
  if (!UpdateLineVersion(line, &version)) return;
  if (installedVersion >= version) return;  // the whole line is not newer
  char word[ul::kLineCap];
  ReadWord(line, word);

  // Names follow the version, each after a single blank. Looking starts
  // behind the version word, so that a line indented with blanks does not
  // offer its version number as a name.
  const char* p = line;
  while (*p != '\0' && IsBlankOrTab(*p)) ++p;
  p += std::strlen(word);
  for (;;) {
    const char* blank = std::strchr(p, ' ');
    if (blank == nullptr) return;
    if (!ReadWord(blank + 1, word)) return;
    p = blank + 1;

    // The stored name is what later becomes a path in the client folder.
    UpdateFileEntry stored;
    ul::Copy(stored.name, word);
    UpdateWord said;
    said.text = word;
    if (!ul::IsSafeRelativePath(UpdateEntryName(stored.name))) {
      said.refused = true;
      words->push_back(said);
      continue;
    }

    if (maxVersion < version) maxVersion = version;
    if (ContainsNoCase(word, "ulmet.ex_")) {
      selfUpdateMarked = 1;
      said.marker = kMarkerSelfUpdate;
    } else if (ContainsNoCase(word, "ulmet_install.exe")) {
      majorUpdateMarked = 1;
      said.marker = kMarkerMajorUpdate;
    }
    words->push_back(said);
    InsertFile(word);
  }
}

UpdateListVerdict UpdateFileList::ReadListFile(std::FILE* file, int installedVersion,
                                               std::vector<UpdateWord>* words) {
  char line[ul::kLineCap];
  if (!ul::ReadTextLine(file, line)) return kListEmpty;
  if (!IsUpdateListHeader(line)) return kListNotAList;
  while (ul::ReadTextLine(file, line)) {
    ul::StripNewline(line);
    ParseUpdateLine(line, installedVersion, words);
    if (selfUpdateMarked == 1 || majorUpdateMarked == 1) break;
  }
  return kListRead;
}

bool IsUpdateListHeader(const char* line) {
  return std::strncmp(line, "[ULMET]", 7) == 0 || std::strncmp(line, "[ULMET3.0]", 10) == 0;
}

bool UpdateLineVersion(const char* line, int32_t* version) {
  if (line == nullptr || std::strlen(line) < 5) return false;
  char word[ul::kLineCap];
  if (!ReadWord(line, word) || word[0] < '0' || word[0] > '9') return false;
  *version = ul::ParseDecimal(word);
  if (*version < 1000) *version *= 10;
  return true;
}

void LocalNameOf(const char* listName, char (&out)[ul::kPathCap]) {
  ul::Copy(out, listName);
  for (char* p = out; *p; ++p) {
    if (*p == '!') *p = ' ';
  }
}

UpdateEntryKind ClassifyUpdateEntry(const char* entry) {
  if (entry[0] == '-') return kEntryDeleteFile;
  if (entry[0] == '=') return kEntryDeleteFolder;
  if (ul::EqualsNoCase(entry, "Ulmet3_install.exe")) return kEntryInstallerMarker;
  return kEntryFetch;
}

const char* UpdateEntryName(const char* entry) {
  return entry[0] == '-' || entry[0] == '=' ? entry + 1 : entry;
}
