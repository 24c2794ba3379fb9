// A digest of a stream of bytes computed on a thread of its own while the
// caller reads, writes and does the rest: a new file's digests are as slow
// as its disk or slower (the system's SHA-256 under Wine, in a 32-bit
// process, runs at about 160-260 MB/s; the chained digest at about 650),
// and one thread doing everything is bound by the sum.
//
//   Sha256Thread sha;            // or ChainedDigestThread
//   sha.Start();                 // without a thread it hashes in Add
//   sha.Add(piece, n); ...       // copied into a slot; waits while all are taken
//   sha.Finish(digest);          // waits for what was added
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/base/owned_win.h"
#include "formats/trust/file_hasher.h"
#include "formats/trust/release_crypto.h"

// The thread and its slots, for any digest: update takes each slot's bytes
// in order, on the thread (false: the hashing failed).
class DigestThread {
 public:
  using Update = bool (*)(void* digest, const void* data, std::size_t n);
  DigestThread(Update update, void* digest) : update_(update), digest_(digest) {}
  // Stops the thread, whatever it was given.
  ~DigestThread();
  DigestThread(const DigestThread&) = delete;
  DigestThread& operator=(const DigestThread&) = delete;

  // Starts the thread. False when the system gives none; Add then hashes
  // on the caller's thread, so the digest is the same either way.
  bool Start();
  // False once hashing failed; the digest is then never given.
  bool Add(const void* data, std::size_t n);
  // Waits until everything added is in the digest: false when hashing
  // failed. The object is spent afterwards.
  bool Wait();

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

  Update update_;
  void* digest_;
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

class Sha256Thread {
 public:
  bool Start() { return thread_.Start(); }
  bool Add(const void* data, std::size_t n) { return thread_.Add(data, n); }
  // The digest of everything added; the object is spent afterwards.
  bool Finish(uint8_t (&digest)[ul::kSha256Bytes]) { return thread_.Wait() && sha_.Finish(digest); }

 private:
  static bool Update(void* sha, const void* data, std::size_t n) {
    return static_cast<ul::Sha256*>(sha)->Update(data, n);
  }
  ul::Sha256 sha_;
  DigestThread thread_{&Sha256Thread::Update, &sha_};
};

// The chained digest, the hash list's kind.
class ChainedDigestThread {
 public:
  bool Start() { return thread_.Start(); }
  bool Add(const void* data, std::size_t n) { return thread_.Add(data, n); }
  bool Finish(char (&hex)[ChainedDigest::kDigestChars + 1]) {
    return thread_.Wait() && digest_->Finish(hex);
  }

 private:
  static bool Update(void* digest, const void* data, std::size_t n) {
    static_cast<ChainedDigest*>(digest)->Add(data, n);
    return true;
  }
  std::unique_ptr<ChainedDigest> digest_{new ChainedDigest()};  // a chunk of room: not on the stack
  DigestThread thread_{&ChainedDigestThread::Update, digest_.get()};
};
