#include "net/digest_thread_win.h"

#include <cstring>

DigestThread::~DigestThread() { Stop(); }

bool DigestThread::Start() {
  slots_.assign(kSlots * std::size_t{kSlotBytes}, 0);
  free_.Reset(CreateSemaphoreA(nullptr, static_cast<LONG>(kSlots), static_cast<LONG>(kSlots), nullptr));
  filled_.Reset(CreateSemaphoreA(nullptr, 0, static_cast<LONG>(kSlots), nullptr));
  if (free_ && filled_) thread_.Reset(CreateThread(nullptr, 0, &DigestThread::ThreadMain, this, 0, nullptr));
  if (thread_) return true;
  std::vector<uint8_t>().swap(slots_);
  return false;
}

DWORD WINAPI DigestThread::ThreadMain(void* self) {
  static_cast<DigestThread*>(self)->Loop();
  return 0;
}

// The thread: each handed-over slot in turn, until the end is handed over.
// The semaphores order every slot's bytes and length between the threads.
void DigestThread::Loop() {
  for (;;) {
    if (WaitForSingleObject(filled_.Get(), INFINITE) != WAIT_OBJECT_0) {
      InterlockedExchange(&failed_, 1);
      return;
    }
    const uint32_t length = lengths_[read_];
    if (length == kEnd) return;
    if (failed_ == 0 && !update_(digest_, &slots_[read_ * kSlotBytes], length)) InterlockedExchange(&failed_, 1);
    read_ = (read_ + 1) % kSlots;
    ReleaseSemaphore(free_.Get(), 1, nullptr);
  }
}

bool DigestThread::TakeSlot() {
  if (holding_) return true;
  if (WaitForSingleObject(free_.Get(), INFINITE) != WAIT_OBJECT_0) return false;
  holding_ = true;
  fill_ = 0;
  return true;
}

void DigestThread::HandOver(uint32_t length) {
  lengths_[write_] = length;
  write_ = (write_ + 1) % kSlots;
  holding_ = false;
  ReleaseSemaphore(filled_.Get(), 1, nullptr);
}

bool DigestThread::Add(const void* data, std::size_t n) {
  if (!thread_) return failed_ == 0 && update_(digest_, data, n);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (n > 0 && failed_ == 0) {
    if (!TakeSlot()) return false;
    const uint32_t room = kSlotBytes - fill_;
    const uint32_t take = n < room ? static_cast<uint32_t>(n) : room;
    std::memcpy(&slots_[write_ * kSlotBytes + fill_], p, take);
    fill_ += take;
    p += take;
    n -= take;
    if (fill_ == kSlotBytes) HandOver(fill_);
  }
  return failed_ == 0;
}

// Hands over what the caller's slot holds and the end, and waits for the
// thread: everything added is then in the digest.
void DigestThread::Stop() {
  if (!thread_) return;
  if (holding_ && fill_ > 0) HandOver(fill_);
  if (TakeSlot()) {
    HandOver(kEnd);
    WaitForSingleObject(thread_.Get(), INFINITE);
  } else {
    // No slot can be had: the thread is past waiting for one, and must
    // not outlive the slots it reads.
    TerminateThread(thread_.Get(), 1);
    InterlockedExchange(&failed_, 1);
  }
  thread_.Reset();
}

bool DigestThread::Wait() {
  Stop();
  return failed_ == 0;
}
