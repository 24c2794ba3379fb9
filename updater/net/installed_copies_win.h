// What a run knows about installed copies without reading them: the
// verified-state record, as the transfer by chunks asks it. The record lives
// above this floor (run/verified_files.h); the run hands it in.
#pragma once

class InstalledCopies {
 public:
  virtual ~InstalledCopies() = default;
  // The chained digest (the hash list's kind) the file at path had when it
  // was last read or made, where nothing about it has changed since; false
  // when there is any doubt.
  virtual bool Unchanged(const char* path, char (&digest)[33]) = 0;
  // The file at path was just made with digest, checked as its bytes were
  // written.
  virtual void Made(const char* path, const char* digest) = 0;
};
