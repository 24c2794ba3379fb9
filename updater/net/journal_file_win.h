// The resume journal of a transfer by chunks on disk (formats/chunks/
// resume_journal.h): written whole when the transfer starts, then one byte
// for each chunk checked, so that a run killed right after a chunk keeps it
// and marking costs the same whatever the size of the index.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/chunks/resume_journal.h"
#include "net/offset_file_win.h"

class JournalFile {
 public:
  // Opens (createNew: makes new, see ul::OffsetFile::Create) the journal at
  // path and writes journal whole, and nothing after it.
  bool Start(const char* path, const ul::ResumeJournal& journal, bool createNew);
  // Marks chunk checked in journal and writes the one byte that changed.
  bool Mark(ul::ResumeJournal& journal, std::size_t chunk);
  void Close() { file_.Close(); }
  // Bytes written so far.
  uint64_t written() const { return written_; }

 private:
  ul::OffsetFile file_;
  uint64_t written_ = 0;
};
