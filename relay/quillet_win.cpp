#include "quillet_win.h"

#include <new>
#include <string>

#include "bvx_trace.h"
#include "module_win.h"
#include "object_safety.h"
#include "registry_win.h"
#include "relay_text.h"

namespace bvx {

namespace {

// Message that the client's main window receives with the atom of the text.
const UINT kRelayMessage = WM_USER + 200;

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

// The string in the ANSI code page; a null string is empty.
std::string ToAnsi(BSTR s) {
  std::string out;
  const int wideLength = static_cast<int>(SysStringLen(s));
  if (wideLength == 0) return out;
  const int n = WideCharToMultiByte(CP_ACP, 0, s, wideLength, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return out;
  out.resize(n);
  WideCharToMultiByte(CP_ACP, 0, s, wideLength, &out[0], n, nullptr, nullptr);
  // A text ends at its first terminator, as every later step reads it.
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

// Traces the title and the text; false, with the reason traced, when either
// is empty.
bool InputUsable(const char* title, const char* text) {
  Trace("bvx]title=");
  if (title[0] == '\0') {
    Trace("strTitle 길이가 0");
    return false;
  }
  Trace(title);
  Trace("bvx]msg=");
  if (text[0] == '\0') {
    Trace("strMsg 길이가 0");
    return false;
  }
  Trace(text);
  return true;
}

// Reads the client's running mark into *running; false when no client key
// exists at all.
bool ReadRunningMark(bool* running) {
  char path[kRegPathCap];
  SetRegKeySubPath(path);
  if (path[0] == '\0') {
    Trace("SendMessage::SetRegKeySubPath strlen <= 0");
    return false;
  }
  char value[kRegValueCap];
  *running = GetRunningValue(path, value) == 1;
  Trace("SendMessage::GetRunningValue value");
  Trace(value);
  return true;
}

void Forward(HWND window, const char* windowTitle, const char* text) {
  Trace("bvx]윈도우 찾기 성공");
  Trace(windowTitle);
  Trace(text);
  // The client deletes the atom once it has read it. A text too long for
  // an atom gets atom 0, which is posted all the same.
  const ATOM atom = GlobalAddAtomA(text);
  PostMessageA(window, kRelayMessage, atom, 0);
}

}  // namespace

Quillet* Quillet::Create(IUnknown* outer) { return new (std::nothrow) Quillet(outer); }

Quillet::Quillet(IUnknown* outer) : inner_(this), outer_(outer ? outer : &inner_) { LockModule(); }

Quillet::~Quillet() {
  if (typeInfo_) typeInfo_->Release();
  UnlockModule();
}

// ---- IUnknown ----

STDMETHODIMP Quillet::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  Quillet* q = owner_;
  if (IsEqualIID(riid, IID_IUnknown)) {
    *ppv = static_cast<IUnknown*>(this);
  } else if (IsEqualIID(riid, IID_IQuillet)) {
    *ppv = static_cast<IQuillet*>(q);
  } else if (IsEqualIID(riid, IID_IDispatch)) {
    *ppv = static_cast<IDispatch*>(q);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *ppv = static_cast<ISupportErrorInfo*>(q);
  } else if (IsEqualIID(riid, IID_IObjectSafety)) {
    *ppv = static_cast<IObjectSafety*>(q);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) Quillet::InnerUnknown::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&owner_->refs_));
}

STDMETHODIMP_(ULONG) Quillet::InnerUnknown::Release() {
  const LONG n = InterlockedDecrement(&owner_->refs_);
  if (n == 0) delete owner_;
  return static_cast<ULONG>(n);
}

STDMETHODIMP Quillet::QueryInterface(REFIID riid, void** ppv) { return outer_->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) Quillet::AddRef() { return outer_->AddRef(); }
STDMETHODIMP_(ULONG) Quillet::Release() { return outer_->Release(); }

// ---- IQuillet ----

STDMETHODIMP Quillet::SendMessage(BSTR appTitle, BSTR msg, LONG* iRetCode) {
  if (!iRetCode) return E_POINTER;
  try {
    CheckOsVersion();
    const std::string title = ToAnsi(appTitle);
    const std::string text = ToAnsi(msg);
    Relay(title.c_str(), text.c_str(), iRetCode);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// Hands text to the client's window. *iRetCode is written only when the
// input is unusable; a page cannot tell a forwarded text from one that found
// no window.
void Quillet::Relay(const char* title, const char* text, LONG* iRetCode) {
  if (!InputUsable(title, text)) {
    *iRetCode = -1;
    return;
  }
  const char* windowTitle = WindowTitleToFind(title, IsLeadByte);

  MessageTokens tokens;
  SplitMessageTokens(text, &tokens);
  if (!tokens.first || tokens.first[0] == '\0') {
    *iRetCode = -1;
    return;
  }

  const bool contentRequest = IsContentRequest(tokens);
  const bool startRequest = contentRequest && IsStartRequest(tokens);
  // Content is only worth sending to a client that says it runs; a window
  // with the right title alone may be a client that is still starting.
  bool running = true;
  if (contentRequest && !ReadRunningMark(&running)) {
    *iRetCode = -1;
    return;
  }
  const HWND window = FindWindowA(nullptr, windowTitle);
  if (running && window != nullptr) {
    Forward(window, windowTitle, text);
    return;
  }
  Trace("bvx]윈도우 찾기 실패");
  Trace(windowTitle);
  Trace(text);
  if (startRequest) {
    MessageBoxA(nullptr, "울메를 실행하신 후 다운로드 해 주세요.", "Ulmet", MB_OK | MB_ICONEXCLAMATION);
  }
}

// ---- IDispatch ----

HRESULT Quillet::LoadTypeInfo() {
  if (typeInfo_) return S_OK;
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &lib);
  if (FAILED(hr)) return hr;
  hr = lib->GetTypeInfoOfGuid(IID_IQuillet, &typeInfo_);
  lib->Release();
  return hr;
}

STDMETHODIMP Quillet::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP Quillet::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  const HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  typeInfo_->AddRef();
  *info = typeInfo_;
  return S_OK;
}

STDMETHODIMP Quillet::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  return DispGetIDsOfNames(typeInfo_, names, count, ids);
}

STDMETHODIMP Quillet::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const HRESULT hr = LoadTypeInfo();
  if (FAILED(hr)) return hr;
  return DispInvoke(static_cast<IQuillet*>(this), typeInfo_, id, flags, params, result, exception,
                    argError);
}

// ---- ISupportErrorInfo ----

STDMETHODIMP Quillet::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID_IQuillet) ? S_OK : S_FALSE;
}

// ---- IObjectSafety ----

STDMETHODIMP Quillet::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  IUnknown* probe = nullptr;
  const HRESULT hr = inner_.QueryInterface(riid, reinterpret_cast<void**>(&probe));
  if (FAILED(hr)) {
    *supported = 0;
    *enabled = 0;
    return hr;
  }
  probe->Release();
  *supported = kSupportedSafety;
  *enabled = safety_;
  return S_OK;
}

STDMETHODIMP Quillet::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  IUnknown* probe = nullptr;
  if (FAILED(inner_.QueryInterface(riid, reinterpret_cast<void**>(&probe)))) return E_NOINTERFACE;
  probe->Release();
  return ApplySafetyOptions(&safety_, mask, enabled) ? S_OK : E_FAIL;
}

}  // namespace bvx
