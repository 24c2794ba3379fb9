// The Quillet class: relays a text from a page to the client's main window.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <oleauto.h>

#include <cstdint>

#include "bvx_h.h"

namespace bvx {

class Quillet final : public IQuillet,
                public IDispatch,
                public ISupportErrorInfo,
                public IObjectSafety {
 public:
  // Creates an object with one reference on its own (non-delegating)
  // IUnknown. outer is the controlling object when this one is aggregated.
  static Quillet* Create(IUnknown* outer);
  IUnknown* Inner() { return &inner_; }

  // IUnknown, delegated to the controlling object.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IQuillet. (The Windows headers rename SendMessage; the type library keeps
  // the plain name, which is what script calls.)
  STDMETHODIMP SendMessage(BSTR appTitle, BSTR msg, LONG* iRetCode) override;

  // IDispatch, from the type information of IQuillet.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // IObjectSafety
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

 private:
  // The object's own IUnknown: the one that counts references and answers
  // the interfaces, also when the object is aggregated.
  class InnerUnknown : public IUnknown {
   public:
    explicit InnerUnknown(Quillet* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    Quillet* owner_;
  };

  explicit Quillet(IUnknown* outer);
  ~Quillet();
  Quillet(const Quillet&) = delete;
  Quillet& operator=(const Quillet&) = delete;

  HRESULT LoadTypeInfo();
  void Relay(const char* title, const char* text, LONG* iRetCode);

  InnerUnknown inner_;
  IUnknown* outer_;
  LONG refs_ = 1;
  std::uint32_t safety_ = 0;
  ITypeInfo* typeInfo_ = nullptr;
};

}  // namespace bvx
