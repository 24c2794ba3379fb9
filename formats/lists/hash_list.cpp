#include "formats/lists/hash_list.h"

#include <cstring>

#include "formats/base/bounded.h"
#include "formats/base/safe_path.h"
#include "formats/base/text_line.h"

namespace {

// Returns the next field of text at pos; runs of ':' count as one separator
// and separators before the first field are skipped, so a field is never
// empty. False when no field is left.
bool NextField(const char* text, std::size_t& pos, const char*& begin, std::size_t& length) {
  while (text[pos] == ':') ++pos;
  if (text[pos] == '\0') return false;
  begin = text + pos;
  while (text[pos] != '\0' && text[pos] != ':') ++pos;
  length = static_cast<std::size_t>(text + pos - begin);
  return true;
}

void CopyField(char* dst, std::size_t cap, const char* begin, std::size_t length) {
  std::size_t n = length < cap - 1 ? length : cap - 1;
  std::memcpy(dst, begin, n);
  dst[n] = '\0';
}

}  // namespace

bool ParseHashLine(const char* line, HashEntry& entry) {
  const char* field[4];
  std::size_t length[4];
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (!NextField(line, pos, field[i], length[i])) return false;
  }
  char number[ul::kLineCap];
  CopyField(number, sizeof number, field[1], length[1]);
  entry = HashEntry();
  entry.entryNumber = ul::ParseDecimal(number);
  if (entry.entryNumber == 0) return false;
  CopyField(entry.fileName, sizeof entry.fileName, field[0], length[0]);
  CopyField(entry.digestHex, sizeof entry.digestHex, field[2], length[2]);
  CopyField(entry.subPath, sizeof entry.subPath, field[3], length[3]);
  return true;
}

bool ParseHashList(std::FILE* file, HashList* list) {
  bool any = false;
  char line[ul::kLineCap];
  while (ul::ReadTextLine(file, line)) {
    if (line[0] == ';') continue;
    ul::StripNewline(line);
    HashEntry entry;
    if (!ParseHashLine(line, entry)) break;
    // The file name is written into the client folder when it differs, and
    // client folder + sub-folder + file name is read: neither may lead out.
    if (!ul::IsSafeRelativePath(entry.fileName) || !ul::StaysInsideFolder(entry.subPath)) {
      list->refused.emplace_back(line);
      continue;
    }
    list->entries.push_back(entry);
    any = true;
  }
  return any;
}

void HashEntryName(const HashEntry& entry, char (&out)[ul::kTextCap]) {
  ul::Format(out, "%s%s", entry.subPath, entry.fileName);
}

void RedownloadPath(const char* updateSubPath, const char* relative, char (&out)[ul::kTextCap]) {
  ul::Format(out, "%s%s", updateSubPath, relative);
  for (char* p = out; *p; ++p) {
    if (*p == ' ') *p = '!';
    if (*p == '\\') *p = '/';
  }
}
