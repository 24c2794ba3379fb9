// The Windows build's MD5: advapi32's MD5Init, MD5Update and MD5Final, which
// every Windows the updater is built for exports (since NT 4) and which
// need no provider, handle or lock: the chained digest makes one digest per
// 32 KB, and under Wine acquiring a CryptoAPI provider alone takes some
// 25 ms of every start. advapi32 is loaded from the system folder only,
// as bcrypt.dll is (release_crypto_win.cpp), and held for the process.
#include <windows.h>

#include <new>

#include "formats/base/owned_win.h"
#include "formats/base/system_library_win.h"
#include "formats/trust/md5.h"

namespace {

// The system's own context, as advapi32 lays it out.
struct SystemMd5Context {
  ULONG bits[2];
  ULONG state[4];
  unsigned char block[64];
  unsigned char digest[16];
};

struct SystemMd5 {
  ul::Module module;
  void(WINAPI* init)(SystemMd5Context*) = nullptr;
  void(WINAPI* update)(SystemMd5Context*, const unsigned char*, unsigned int) = nullptr;
  void(WINAPI* finish)(SystemMd5Context*) = nullptr;

  bool Bind() {
    module = ul::LoadSystemLibrary("advapi32.dll");
    if (!module) return false;
    init = reinterpret_cast<decltype(init)>(GetProcAddress(module.Get(), "MD5Init"));
    update = reinterpret_cast<decltype(update)>(GetProcAddress(module.Get(), "MD5Update"));
    finish = reinterpret_cast<decltype(finish)>(GetProcAddress(module.Get(), "MD5Final"));
    return init != nullptr && update != nullptr && finish != nullptr;
  }
};

// Null when the system has no MD5. Bound once per process.
const SystemMd5* Api() {
  static SystemMd5 api;
  static const bool bound = api.Bind();
  return bound ? &api : nullptr;
}

}  // namespace

struct Md5::State {
  SystemMd5Context context;
  bool ok = false;
};

// Without room for its state the object fails every step.
Md5::Md5() : state_(new (std::nothrow) State) { Init(); }

Md5::~Md5() = default;

void Md5::Init() {
  if (state_ == nullptr) return;
  state_->ok = Api() != nullptr;
  if (state_->ok) Api()->init(&state_->context);
}

bool Md5::Update(const void* data, std::size_t length) {
  if (state_ == nullptr || !state_->ok) return false;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  // The system takes at most an unsigned int's worth of bytes per call.
  while (length > 0) {
    const unsigned int piece = length > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(length);
    Api()->update(&state_->context, p, piece);
    p += piece;
    length -= piece;
  }
  return true;
}

bool Md5::Final(unsigned char digest[16]) {
  if (state_ == nullptr || !state_->ok) return false;
  Api()->finish(&state_->context);
  for (int i = 0; i < 16; ++i) digest[i] = state_->context.digest[i];
  state_->ok = false;
  return true;
}
