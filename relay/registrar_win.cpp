#include "registrar_win.h"

#include <oleauto.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "owned_win.h"
#include "reg_script.h"

namespace bvx {

namespace {

const int kScriptResource = 101;

HRESULT FromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

HRESULT LastError() {
  const DWORD e = GetLastError();
  return e == 0 ? E_FAIL : HRESULT_FROM_WIN32(e);
}

HKEY HiveOf(const std::string& name) {
  const char* n = name.c_str();
  if (!lstrcmpiA(n, "HKCR") || !lstrcmpiA(n, "HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
  if (!lstrcmpiA(n, "HKCU") || !lstrcmpiA(n, "HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
  if (!lstrcmpiA(n, "HKLM") || !lstrcmpiA(n, "HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
  if (!lstrcmpiA(n, "HKU") || !lstrcmpiA(n, "HKEY_USERS")) return HKEY_USERS;
  return nullptr;
}

// Deletes a key with everything below it. A key that is not there counts as
// deleted.
LONG DeleteTree(HKEY parent, const char* name) {
  RegKey key;
  LONG rc = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, key.Receive());
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  char child[256];
  for (;;) {
    DWORD len = sizeof child;
    // Always the first: the one before was just deleted.
    rc = RegEnumKeyExA(key.Get(), 0, child, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_SUCCESS) rc = DeleteTree(key.Get(), child);
    if (rc != ERROR_SUCCESS) return rc;
  }
  // Closed before the key itself goes.
  key.Reset();
  return RegDeleteKeyA(parent, name);
}

LONG SetValue(HKEY key, const ScriptValue& v) {
  if (v.type == 'd') {
    const DWORD number = static_cast<DWORD>(v.number);
    return RegSetValueExA(key, v.name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
  }
  return RegSetValueExA(key, v.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                        static_cast<DWORD>(v.text.size() + 1));
}

HRESULT Register(HKEY parent, const std::vector<ScriptKey>& keys) {
  for (const ScriptKey& k : keys) {
    if (k.removal == ScriptKey::kForceRemove) {
      const LONG rc = DeleteTree(parent, k.name.c_str());
      if (rc != ERROR_SUCCESS) return FromWin32(rc);
    }
    RegKey key;
    LONG rc = RegCreateKeyExA(parent, k.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, key.Receive(), nullptr);
    if (rc != ERROR_SUCCESS) return FromWin32(rc);
    if (k.hasDefault) rc = SetValue(key.Get(), k.defaultValue);
    for (std::size_t i = 0; rc == ERROR_SUCCESS && i < k.values.size(); ++i)
      rc = SetValue(key.Get(), k.values[i]);
    HRESULT hr = FromWin32(rc);
    if (SUCCEEDED(hr)) hr = Register(key.Get(), k.children);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Unregister(HKEY parent, const std::vector<ScriptKey>& keys) {
  for (const ScriptKey& k : keys) {
    if (k.removal == ScriptKey::kForceRemove) {
      const LONG rc = DeleteTree(parent, k.name.c_str());
      if (rc != ERROR_SUCCESS) return FromWin32(rc);
      continue;
    }
    RegKey key;
    LONG rc = RegOpenKeyExA(parent, k.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Receive());
    if (rc == ERROR_FILE_NOT_FOUND) continue;
    if (rc != ERROR_SUCCESS) return FromWin32(rc);
    HRESULT hr = Unregister(key.Get(), k.children);
    if (SUCCEEDED(hr) && k.removal == ScriptKey::kPlain) {
      for (const ScriptValue& v : k.values) RegDeleteValueA(key.Get(), v.name.c_str());
      // A plain key goes when nothing that others wrote is left below it.
      DWORD subKeys = 0;
      rc = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr);
      key.Reset();
      if (rc == ERROR_SUCCESS && subKeys == 0) rc = RegDeleteKeyA(parent, k.name.c_str());
      hr = FromWin32(rc);
    }
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// The module's path, long form, wide. Empty on failure.
std::wstring ModulePathW(HINSTANCE module) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(path, n);
}

// Loads the type library from the module's resource, or else from the file
// beside it with the extension ".tlb". *from receives the path it came from.
HRESULT LoadOwnTypeLib(HINSTANCE module, ITypeLib** lib, std::wstring* from) {
  *lib = nullptr;
  std::wstring path = ModulePathW(module);
  if (path.empty()) return LastError();
  HRESULT hr = LoadTypeLib(path.c_str(), lib);
  if (FAILED(hr)) {
    const std::wstring::size_type slash = path.find_last_of(L"\\/");
    const std::wstring::size_type dot = path.find_last_of(L'.');
    std::wstring tlb = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
                           ? path.substr(0, dot)
                           : path;
    tlb += L".tlb";
    const HRESULT hrFile = LoadTypeLib(tlb.c_str(), lib);
    if (FAILED(hrFile)) return hr;
    path = tlb;
  }
  *from = path;
  return S_OK;
}

}  // namespace

HRESULT RunRegistrationScript(HINSTANCE module, bool registering) {
  try {
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(kScriptResource), "REGISTRY");
    if (!res) return LastError();
    HGLOBAL data = LoadResource(module, res);
    const DWORD size = SizeofResource(module, res);
    const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (!bytes) return LastError();
    const std::string script(bytes, size);

    // The script names the module by its short path, which holds no blanks
    // and no characters outside the code page. Quotes in it are doubled
    // because the script quotes its texts.
    char longPath[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, longPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return LastError();
    char shortPath[MAX_PATH];
    const DWORD s = GetShortPathNameA(longPath, shortPath, MAX_PATH);
    const char* modulePath = (s > 0 && s < MAX_PATH) ? shortPath : longPath;
    const std::string quoted = QuoteForScript(modulePath);
    const ScriptReplacement replacements[] = {{"MODULE", quoted.c_str()}};

    std::string expanded;
    if (!ExpandScript(script.c_str(), replacements, 1, &expanded)) return E_UNEXPECTED;
    std::vector<ScriptRoot> roots;
    std::string error;
    if (!ParseScript(expanded, &roots, &error)) return E_UNEXPECTED;

    for (const ScriptRoot& root : roots) {
      const HKEY hive = HiveOf(root.hive);
      if (!hive) return E_UNEXPECTED;
      const HRESULT hr = registering ? Register(hive, root.keys) : Unregister(hive, root.keys);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RegisterOwnTypeLib(HINSTANCE module) {
  try {
    ITypeLib* lib = nullptr;
    std::wstring path;
    HRESULT hr = LoadOwnTypeLib(module, &lib, &path);
    if (FAILED(hr)) return hr;
    std::wstring folder = path.substr(0, path.find_last_of(L"\\/") == std::wstring::npos
                                             ? 0
                                             : path.find_last_of(L"\\/"));
    hr = RegisterTypeLib(lib, const_cast<wchar_t*>(path.c_str()),
                         folder.empty() ? nullptr : const_cast<wchar_t*>(folder.c_str()));
    lib->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterOwnTypeLib(HINSTANCE module) {
  try {
    // Looked up at run time: an automation library without the function
    // leaves nothing to undo.
    typedef HRESULT(WINAPI * UnregisterFn)(REFGUID, WORD, WORD, LCID, SYSKIND);
    HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    UnregisterFn unregister =
        oleaut ? reinterpret_cast<UnregisterFn>(GetProcAddress(oleaut, "UnRegisterTypeLib")) : nullptr;
    if (!unregister) return S_OK;

    ITypeLib* lib = nullptr;
    std::wstring path;
    HRESULT hr = LoadOwnTypeLib(module, &lib, &path);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) {
      hr = unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
      lib->ReleaseTLibAttr(attr);
    }
    lib->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace bvx
