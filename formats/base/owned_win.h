// Owners of Windows handles: each closes its handle when it goes out of
// scope, so no exit path of a function can leak one. Move-only.
//
//   ul::RegKey key;
//   if (RegOpenKeyExA(hive, path, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return false;
//   ... key.Get() ...            // closed on every return
#pragma once

#include <windows.h>
#include <wininet.h>

namespace ul {

template <typename Traits>
class Owned {
 public:
  using Type = typename Traits::Type;

  Owned() = default;
  explicit Owned(Type value) : value_(value) {}
  ~Owned() { Reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : value_(other.Release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Type Get() const { return value_; }
  bool Valid() const { return Traits::Valid(value_); }
  explicit operator bool() const { return Valid(); }

  // Closes the handle held so far and takes value.
  void Reset(Type value = Traits::None()) {
    if (Traits::Valid(value_)) Traits::Close(value_);
    value_ = value;
  }
  // Gives the handle up without closing it.
  Type Release() {
    Type value = value_;
    value_ = Traits::None();
    return value;
  }
  // For functions that hand a new handle back through a pointer.
  Type* Receive() {
    Reset();
    return &value_;
  }

 private:
  Type value_ = Traits::None();
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type None() { return nullptr; }
  static bool Valid(Type k) { return k != nullptr; }
  static void Close(Type k) { RegCloseKey(k); }
};

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type None() { return nullptr; }
  static bool Valid(Type h) { return h != nullptr; }
  static void Close(Type h) { InternetCloseHandle(h); }
};

struct MemoryDcTraits {
  using Type = HDC;
  static Type None() { return nullptr; }
  static bool Valid(Type dc) { return dc != nullptr; }
  static void Close(Type dc) { DeleteDC(dc); }
};

template <typename G>
struct GdiObjectTraits {
  using Type = G;
  static Type None() { return nullptr; }
  static bool Valid(Type g) { return g != nullptr; }
  static void Close(Type g) { DeleteObject(g); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type None() { return nullptr; }
  static bool Valid(Type m) { return m != nullptr; }
  static void Close(Type m) { FreeLibrary(m); }
};

// A view of a file mapping (MapViewOfFile), unmapped with the owner.
struct MappedViewTraits {
  using Type = void*;
  static Type None() { return nullptr; }
  static bool Valid(Type v) { return v != nullptr; }
  static void Close(Type v) { UnmapViewOfFile(v); }
};

using Handle = Owned<KernelHandleTraits>;          // files, processes, threads, events, file mappings
using MappedView = Owned<MappedViewTraits>;
using FindHandle = Owned<FindHandleTraits>;        // FindFirstFile
using RegKey = Owned<RegKeyTraits>;
using InternetHandle = Owned<InternetHandleTraits>;
using Module = Owned<ModuleTraits>;                // LoadLibrary
using MemoryDc = Owned<MemoryDcTraits>;            // CreateCompatibleDC
using Bitmap = Owned<GdiObjectTraits<HBITMAP>>;
using Font = Owned<GdiObjectTraits<HFONT>>;
using Pen = Owned<GdiObjectTraits<HPEN>>;
using Brush = Owned<GdiObjectTraits<HBRUSH>>;
using Region = Owned<GdiObjectTraits<HRGN>>;

// A window's device context from GetDC, released to its window.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context for one scope; the earlier
// selection comes back at the end, so that the object is free to be deleted
// (declare it after the object it selects).
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selection() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace ul
