// Entry points of the page relay component: the class factory of Quillet,
// the module's lock count and self-registration.
#include <windows.h>
#include <objbase.h>

#include "bvx_h.h"
#include "module_win.h"
#include "quillet_win.h"
#include "registrar_win.h"

namespace bvx {

namespace {

HINSTANCE g_module = nullptr;
LONG g_locks = 0;

// One factory for the process. It lives as long as the module, so its own
// references do not hold the module; clients that keep it use LockServer.
class QuilletFactory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregating object must hold the inner object by its own IUnknown.
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    Quillet* object = Quillet::Create(outer);
    if (!object) return E_OUTOFMEMORY;
    IUnknown* inner = object->Inner();
    const HRESULT hr = inner->QueryInterface(riid, ppv);
    inner->Release();  // the creation reference; destroys the object if the query failed
    return hr;
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }
};

QuilletFactory g_factory;

}  // namespace

HINSTANCE ModuleInstance() { return g_module; }
void LockModule() { InterlockedIncrement(&g_locks); }
void UnlockModule() { InterlockedDecrement(&g_locks); }

}  // namespace bvx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    bvx::g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  // Nothing module-wide to release on detach: each object releases its own
  // type information.
  return TRUE;
}

STDAPI DllCanUnloadNow() { return bvx::g_locks == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, CLSID_Quillet)) return CLASS_E_CLASSNOTAVAILABLE;
  return bvx::g_factory.QueryInterface(riid, ppv);
}

STDAPI DllRegisterServer() {
  HRESULT hr = bvx::RunRegistrationScript(bvx::g_module, true);
  if (SUCCEEDED(hr)) hr = bvx::RegisterOwnTypeLib(bvx::g_module);
  return hr;
}

STDAPI DllUnregisterServer() {
  const HRESULT script = bvx::RunRegistrationScript(bvx::g_module, false);
  const HRESULT typeLib = bvx::UnregisterOwnTypeLib(bvx::g_module);
  return FAILED(script) ? script : typeLib;
}
