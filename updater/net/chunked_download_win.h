// Big files by the chunks that changed: where the program configuration
// announces a chunk list ("[CHUNKLIST]"), a listed file is made from its
// index (formats/chunks/chunk_index.h) instead of being fetched whole. The chunks
// the installed copy already holds are copied from it; the others are
// fetched with range requests on the file's usual address, each checked
// against its digest before it is written. The new file grows in a partial
// file beside the installed one, with a journal of the chunks checked in it
// (formats/chunks/resume_journal.h), so a run that stops half-way leaves work the
// next run keeps. Only a new file that is its index's chunk by chunk (an
// index whose size and SHA-256 are, in a build with a release key, the
// signed record's) and has the hash list's digest where the caller gives
// one replaces the installed copy. Without a release key, a file whose
// unchanged chunks all stay where they are is changed in place instead:
// only the changed chunks are written over the installed copy, once all of
// them have arrived (net/in_place_chunks_win.h).
//
//   CChunkedDownload chunks(release);
//   chunks.LoadList(host, listPath);           // once per run; false: no chunks this run
//   if (chunks.Lists(name) &&
//       chunks.Download(host, serverPath, name, local, nullptr, fileBar, totalBar) == kChunksDone) ...
//   else ... the whole download, then chunks.Forget(local)
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/chunks/chunk_index.h"
#include "formats/chunks/chunk_list.h"
#include "formats/trust/release_manifest.h"
#include "net/installed_copies_win.h"

// What Download ends with.
constexpr int kChunksDone = 1;   // the new file stands at the local path
constexpr int kChunksWhole = 0;  // fetch the file whole instead (the reason is in the trace); a
                                 // partial file worth resuming may stay, see Forget

class CChunkedDownload {
 public:
  // With a release (a build with a release key) the list and every index
  // must be what it records, and so must every new file.
  explicit CChunkedDownload(const ul::ReleaseManifest* release = nullptr);
  CChunkedDownload(const CChunkedDownload&) = delete;
  CChunkedDownload& operator=(const CChunkedDownload&) = delete;

  // Fetches and reads the chunk list at listPath (empty: the tree has
  // none). False, and nothing listed, when there is none to use.
  bool LoadList(const char* host, const char* listPath);
  bool Lists(const char* name) const { return loaded_ && list_.Lists(name); }

  // Makes the new copy of the update file name (as the update list or the
  // hash list writes it) at localPath, a path the caller has resolved
  // inside the client folder, from the file served at objectPath. md5Hex:
  // the hash list's digest of the file, or null. The bars run as for a
  // whole download, with the bytes copied and fetched.
  int Download(const char* host, const char* objectPath, const char* name, const char* localPath,
               const char* md5Hex, HWND fileBar, HWND totalBar);

  // After the file came whole: what an earlier attempt by chunks left
  // beside localPath goes.
  static void Forget(const char* localPath);

  // Bytes a read of a range may take before its pause (PacedReader).
  void PaceReads(uint32_t bytes) { readBytes_ = bytes; }
  // With the verified-state record: a file made is recorded as it stands,
  // with the index it was made by kept beside it ("NAME~chunks"); an
  // installed copy the record vouches for is planned from its kept index
  // instead of being cut again.
  void UseRecord(InstalledCopies* copies) { copies_ = copies; }

  // Bytes that travelled in range requests, and those copied from
  // installed copies, by this object so far.
  uint64_t fetchedBytes() const { return fetched_; }
  uint64_t copiedBytes() const { return copied_; }

 private:
  struct Job;
  // The steps of Download; each null when it went well, else why the file
  // travels whole.
  const char* FetchIndex(const char* host, const char* objectPath, Job* job);
  bool KeptChunks(const Job& job, uint64_t installedSize, std::vector<ul::ChunkRecord>* have);
  void KeepIndex(const Job& job, const char* md5Hex);
  const char* MakePartial(const char* host, const char* objectPath, Job& job, HWND fileBar, HWND totalBar,
                          bool* keep);
  static const char* PutInPlace(const Job& job);

  const ul::ReleaseManifest* release_;
  ul::ChunkList list_;
  std::string listPath_;
  bool loaded_ = false;
  uint64_t fetched_ = 0;
  uint64_t copied_ = 0;
  uint32_t readBytes_ = 4096;
  InstalledCopies* copies_ = nullptr;
};
