// A changed file made from the copy the player has, by a binary patch:
// where the program configuration announces a patch list ("[PATCHLIST]",
// formats/patches/patch_list.h) and the list has a patch from the
// installed copy, the patch is fetched and applied instead of the file's
// chunks or the whole file.
//
// The installed copy is known by its chained digest (the hash list's kind):
// the one the verified-state record holds for it while it is unchanged, or,
// when some patch has a base of its size, the one computed here by reading
// it (paced like the start's comparison). The patch travels by the same
// paced, range-checked requests as chunks, into a partial file beside the
// installed copy ("NAME~patch", with the journal "NAME~patchjournal" that
// names the patch), so that a run stopped on the way leaves the bytes that
// arrived for the next run. A patch whose size and SHA-256 are the list's
// (and in a build with a release key the signed record's) is applied with
// the installed copy and the new file ("NAME~patched") mapped into memory:
// the decoder writes into the new file's view and keeps no window of its
// own, so the process takes some hundred KB whatever the files' sizes. The
// new file takes the installed copy's place only when its size and SHA-256
// are the list's (and the signed record's; and its chained digest, computed
// as it is written, the hash list's where the caller gives one).
//
//   CPatchedDownload patches(release);
//   patches.LoadList(host, listPath);            // once per run; false: no patches this run
//   if (patches.Lists(name) &&
//       patches.Download(host, serverPath, name, basePath, local, md5, fileBar, totalBar) == kPatchDone) ...
//   else ... the chunk transfer, then the whole download
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "formats/patches/patch_list.h"
#include "formats/trust/release_manifest.h"
#include "net/installed_copies_win.h"

// What Download ends with.
constexpr int kPatchDone = 1;      // the new file stands at the local path
constexpr int kPatchOtherWay = 0;  // make it another way (the reason is in the trace); a
                                   // partial patch worth resuming may stay

class CPatchedDownload {
 public:
  // With a release (a build with a release key) the list and every patch
  // must be what it records, and so must every new file.
  explicit CPatchedDownload(const ul::ReleaseManifest* release = nullptr);
  CPatchedDownload(const CPatchedDownload&) = delete;
  CPatchedDownload& operator=(const CPatchedDownload&) = delete;

  // Fetches and reads the patch list at listPath (empty: the tree has
  // none). False, and nothing listed, when there is none to use.
  bool LoadList(const char* host, const char* listPath);
  bool Lists(const char* name) const { return loaded_ && list_.Lists(name); }

  // Makes the new copy of the update file name (as the update list or the
  // hash list writes it), served at objectPath, at localPath from the
  // installed copy at basePath (localPath itself, but for the updater's
  // own new copy); both paths the caller resolved inside the client folder.
  // md5Hex: the hash list's digest of the new file, or null. The bars run
  // as for a whole download, with the patch's bytes and the new file's.
  int Download(const char* host, const char* objectPath, const char* name, const char* basePath,
               const char* localPath, const char* md5Hex, HWND fileBar, HWND totalBar);

  // After the file came another way: what an attempt by patch left beside
  // localPath goes.
  static void Forget(const char* localPath);

  // Bytes a read of a range may take before its pause (PacedReader), and
  // bytes of the installed copy's digest or of the new file's between two
  // pauses.
  void PaceReads(uint32_t bytes) { readBytes_ = bytes; }
  void PaceDigest(uint32_t bytes) { digestBytes_ = bytes; }
  // With the verified-state record: an installed copy it vouches for is
  // known by the digest it holds, and a file made is recorded as made.
  void UseRecord(InstalledCopies* copies) { copies_ = copies; }

  // Bytes of patches that travelled, by this object so far.
  uint64_t fetchedBytes() const { return fetched_; }

 private:
  struct Job;
  const char* FindPatch(Job& job);
  const char* FetchPatch(const char* host, Job& job, bool* keep);
  const char* Apply(Job& job);
  const char* PutInPlace(const Job& job);

  const ul::ReleaseManifest* release_;
  ul::PatchList list_;
  std::string listPath_;
  bool loaded_ = false;
  uint64_t fetched_ = 0;
  uint32_t readBytes_ = 4096;
  uint32_t digestBytes_ = 32768;
  InstalledCopies* copies_ = nullptr;
};
