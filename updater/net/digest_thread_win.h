// The SHA-256 of a stream of bytes, computed on a thread of its own while
// the caller reads, writes and computes the chained digest. A file made by
// chunks needs both digests of every byte; one thread doing everything is
// bound by their sum, and the system's SHA-256 can be the slowest part
// (under Wine, in a 32-bit process, about 160 MB/s: slower than the disk).
//
//   Sha256Thread sha;
//   sha.Start();                 // without a thread it hashes in Add
//   sha.Add(piece, n); ...       // copied into a slot; waits while all are taken
//   sha.Finish(digest);          // waits for what was added
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/base/owned_win.h"
#include "formats/trust/release_crypto.h"

class Sha256Thread {
 public:
  Sha256Thread();
  // Stops the thread, whatever it was given.
  ~Sha256Thread();
  Sha256Thread(const Sha256Thread&) = delete;
  Sha256Thread& operator=(const Sha256Thread&) = delete;

  // Starts the thread. False when the system gives none; Add then hashes
  // on the caller's thread, so the digest is the same either way.
  bool Start();
  // False once hashing failed; the digest is then never given.
  bool Add(const void* data, std::size_t n);
  // The digest of everything added; the object is spent afterwards.
  bool Finish(uint8_t (&digest)[ul::kSha256Bytes]);

 private:
  static constexpr std::size_t kSlots = 4;
  static constexpr uint32_t kSlotBytes = 256u << 10;
  // A slot's length that tells the thread to end.
  static constexpr uint32_t kEnd = 0xFFFFFFFFu;

  static DWORD WINAPI ThreadMain(void* self);
  void Loop();
  bool TakeSlot();
  void HandOver(uint32_t length);
  void Stop();

  ul::Sha256 sha_;
  std::vector<uint8_t> slots_;
  uint32_t lengths_[kSlots] = {0};
  std::size_t write_ = 0;  // the slot the caller fills next
  std::size_t read_ = 0;   // the slot the thread hashes next
  uint32_t fill_ = 0;      // bytes in the caller's slot
  bool holding_ = false;   // whether the caller holds slot write_
  volatile LONG failed_ = 0;
  ul::Owned<ul::KernelHandleTraits> free_;    // slots the caller may fill
  ul::Owned<ul::KernelHandleTraits> filled_;  // slots the thread may hash
  ul::Owned<ul::KernelHandleTraits> thread_;
};
