// The component's owner of registry keys: the key is closed when the owner
// goes out of scope, so no exit path of a function can leave one open.
// Neither copied nor moved. The updater has its own, larger set; the two
// deliverables share no code.
//
//   bvx::RegKey key;
//   if (RegOpenKeyA(hive, path, key.Receive()) != ERROR_SUCCESS) return 0;
//   ... key.Get() ...            // closed on every return
#pragma once

#include <windows.h>

namespace bvx {

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Reset(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  HKEY Get() const { return key_; }
  // Closes the key held so far.
  void Reset() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }
  // For the functions that hand a new key back through a pointer.
  HKEY* Receive() {
    Reset();
    return &key_;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace bvx
