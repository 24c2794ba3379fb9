#include "net/journal_file_win.h"

#include <string>

bool JournalFile::Start(const char* path, const ul::ResumeJournal& journal, bool createNew) {
  if (!(createNew ? file_.Create(path) : file_.Open(path, true))) return false;
  const std::string bytes = ul::FormatJournal(journal);
  written_ += bytes.size();
  return file_.SetSize(bytes.size()) && file_.WriteAt(0, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

bool JournalFile::Mark(ul::ResumeJournal& journal, std::size_t chunk) {
  if (chunk >= journal.checked.size()) return false;
  journal.checked[chunk] = true;
  uint64_t offset = 0;
  uint8_t byte = 0;
  if (!ul::JournalByte(journal, chunk, &offset, &byte)) return false;
  written_ += 1;
  return file_.WriteAt(offset, &byte, 1);
}
