// bvx.dll from a C++ client: the class object, the lock count, the
// interfaces of a Quillet object, its safety options and its type library.
// The DLL is loaded directly, so nothing here depends on registration.
#include <windows.h>
#include <objsafe.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "bvx_h.h"

namespace {

std::wstring g_dllPath;
HMODULE g_dll = nullptr;
HRESULT(STDAPICALLTYPE* g_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
HRESULT(STDAPICALLTYPE* g_canUnloadNow)() = nullptr;

IClassFactory* Factory() {
  IClassFactory* f = nullptr;
  EXPECT_EQ(g_getClassObject(CLSID_Quillet, IID_IClassFactory, reinterpret_cast<void**>(&f)), S_OK);
  return f;
}

template <class T>
T* Create(REFIID riid) {
  IClassFactory* f = Factory();
  if (!f) return nullptr;
  T* p = nullptr;
  EXPECT_EQ(f->CreateInstance(nullptr, riid, reinterpret_cast<void**>(&p)), S_OK);
  f->Release();
  return p;
}

struct Bstr {
  explicit Bstr(const wchar_t* s) : b(SysAllocString(s)) {}
  ~Bstr() { SysFreeString(b); }
  BSTR b;
};

TEST(RelayClassObject, OnlyForQuillet) {
  const CLSID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(g_getClassObject(other, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(g_getClassObject(CLSID_Quillet, IID_IDispatch, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  IClassFactory* f = Factory();
  ASSERT_NE(f, nullptr);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IPersist, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  f->Release();
  // The failed creation left no object behind.
  EXPECT_EQ(g_canUnloadNow(), S_OK);
}

TEST(RelayUnload, ObjectsAndLocksHoldTheModule) {
  ASSERT_EQ(g_canUnloadNow(), S_OK);
  IQuillet* a = Create<IQuillet>(IID_IQuillet);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(g_canUnloadNow(), S_FALSE);
  IDispatch* b = Create<IDispatch>(IID_IDispatch);
  ASSERT_NE(b, nullptr);
  a->Release();
  EXPECT_EQ(g_canUnloadNow(), S_FALSE);
  IDispatch* again = nullptr;
  ASSERT_EQ(b->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&again)), S_OK);
  b->Release();
  EXPECT_EQ(g_canUnloadNow(), S_FALSE);
  again->Release();
  EXPECT_EQ(g_canUnloadNow(), S_OK);

  IClassFactory* f = Factory();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  f->Release();
  EXPECT_EQ(g_canUnloadNow(), S_FALSE);
  f = Factory();
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(g_canUnloadNow(), S_FALSE);
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  f->Release();
  EXPECT_EQ(g_canUnloadNow(), S_OK);
}

// A controlling object that counts its references and answers nothing of
// its own beyond IUnknown.
class Outer : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown)) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (inner) return inner->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
  IUnknown* inner = nullptr;
};

TEST(RelayAggregation, InnerObjectDelegatesToOuter) {
  IClassFactory* f = Factory();
  ASSERT_NE(f, nullptr);
  Outer outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(&outer, IID_IQuillet, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(g_canUnloadNow(), S_OK);

  ASSERT_EQ(f->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  f->Release();
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(g_canUnloadNow(), S_FALSE);

  IQuillet* q = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IQuillet, reinterpret_cast<void**>(&q)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // the interface's reference went to the outer object
  IUnknown* identity = nullptr;
  ASSERT_EQ(q->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  identity->Release();

  Bstr title(L""), msg(L"x");
  LONG ret = 0;
  EXPECT_EQ(q->SendMessage(title.b, msg.b, &ret), S_OK);
  EXPECT_EQ(ret, -1);
  q->Release();
  EXPECT_EQ(outer.refs, 1u);

  EXPECT_EQ(outer.inner->Release(), 0u);
  outer.inner = nullptr;
  EXPECT_EQ(g_canUnloadNow(), S_OK);
}

TEST(RelayObject, AnswersItsFourInterfaces) {
  IQuillet* q = Create<IQuillet>(IID_IQuillet);
  ASSERT_NE(q, nullptr);
  IUnknown* id1 = nullptr;
  ASSERT_EQ(q->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&id1)), S_OK);
  for (const IID* iid : {&IID_IDispatch, &IID_ISupportErrorInfo, &IID_IObjectSafety, &IID_IQuillet}) {
    IUnknown* p = nullptr;
    ASSERT_EQ(q->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
    IUnknown* id2 = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&id2)), S_OK);
    EXPECT_EQ(id1, id2);
    id2->Release();
    p->Release();
  }
  for (const IID* iid : {&IID_IPersist, &IID_IClassFactory, &IID_IPersistStream}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(q->QueryInterface(*iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
  id1->Release();

  ISupportErrorInfo* e = nullptr;
  ASSERT_EQ(q->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&e)), S_OK);
  EXPECT_EQ(e->InterfaceSupportsErrorInfo(IID_IQuillet), S_OK);
  EXPECT_EQ(e->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(e->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
  e->Release();
  q->Release();
}

TEST(RelayObject, SendMessageWritesTheResultOnlyForBadInput) {
  IQuillet* q = Create<IQuillet>(IID_IQuillet);
  ASSERT_NE(q, nullptr);
  Bstr some(L"NoSuchWindow-relay-test"), empty(L""), ff(L"\f\f\f"), plain(L"plain text");
  LONG ret = 77;
  EXPECT_EQ(q->SendMessage(empty.b, plain.b, &ret), S_OK);
  EXPECT_EQ(ret, -1);
  ret = 77;
  EXPECT_EQ(q->SendMessage(nullptr, plain.b, &ret), S_OK);
  EXPECT_EQ(ret, -1);
  ret = 77;
  EXPECT_EQ(q->SendMessage(some.b, empty.b, &ret), S_OK);
  EXPECT_EQ(ret, -1);
  ret = 77;
  EXPECT_EQ(q->SendMessage(some.b, ff.b, &ret), S_OK);
  EXPECT_EQ(ret, -1);
  // No window of that title: nothing is sent and the result stays as it was.
  ret = 77;
  EXPECT_EQ(q->SendMessage(some.b, plain.b, &ret), S_OK);
  EXPECT_EQ(ret, 77);
  // Without a place for the result nothing is done.
  EXPECT_EQ(q->SendMessage(some.b, empty.b, nullptr), E_POINTER);
  q->Release();
}

TEST(RelayDispatch, WorksFromTheTypeInformation) {
  IDispatch* d = Create<IDispatch>(IID_IDispatch);
  ASSERT_NE(d, nullptr);
  UINT count = 0;
  EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(d->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  ASSERT_EQ(d->GetTypeInfo(0, 0, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IQuillet));
  info->ReleaseTypeAttr(attr);
  info->Release();

  for (const wchar_t* spelling : {L"SendMessage", L"sendmessage"}) {
    LPOLESTR name = const_cast<LPOLESTR>(spelling);
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 0x60010000);
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"PostMessage");
  DISPID id = 0;
  EXPECT_EQ(d->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  LPOLESTR name = const_cast<LPOLESTR>(L"SendMessage");
  EXPECT_EQ(d->GetIDsOfNames(IID_IQuillet, &name, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);

  // Arguments in reverse order, as automation passes them.
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[1].vt = VT_BSTR;
  args[1].bstrVal = SysAllocString(L"");
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(L"CONTENTS\fSTART");
  DISPPARAMS params = {args, nullptr, 2, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(d->Invoke(0x60010000, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, -1);
  VariantClear(&result);

  params.cArgs = 1;
  params.rgvarg = &args[1];
  UINT bad = 0;
  EXPECT_EQ(d->Invoke(0x60010000, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, &bad),
            DISP_E_BADPARAMCOUNT);
  VariantClear(&args[0]);
  VariantClear(&args[1]);
  d->Release();
}

TEST(RelaySafety, ReportsOptionsForAnsweredInterfacesOnly) {
  IObjectSafety* s = Create<IObjectSafety>(IID_IObjectSafety);
  ASSERT_NE(s, nullptr);
  DWORD supported = 0xFF, enabled = 0xFF;
  EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
  EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_POINTER);
  EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IPersist, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(enabled, 0u);
  for (const IID* iid : {&IID_IDispatch, &IID_IQuillet, &IID_IUnknown, &IID_IObjectSafety}) {
    supported = enabled = 0xFF;
    EXPECT_EQ(s->GetInterfaceSafetyOptions(*iid, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, static_cast<DWORD>(INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA));
    EXPECT_EQ(enabled, 0u);
  }
  EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IPersist, 1, 1), E_NOINTERFACE);
  EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
  EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4), E_FAIL);
  EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 0x80000001u, 0), E_FAIL);
  EXPECT_EQ(s->SetInterfaceSafetyOptions(IID_IPersist, 4, 0), E_NOINTERFACE);
  EXPECT_EQ(s->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 3u);  // the refused requests changed nothing
  s->Release();
}

TEST(RelaySafety, OptionArithmetic) {
  IObjectSafety* s = Create<IObjectSafety>(IID_IObjectSafety);
  ASSERT_NE(s, nullptr);
  // The current options lose the bits of the enabled argument and gain the
  // bits of the mask: a bit named in the mask is set whatever enabled says.
  struct Step {
    DWORD mask, enabled, expected;
  };
  const Step steps[] = {
      {3, 3, 3},  // what a browser asks for
      {1, 0, 3},  // mask 1 without enabling it still leaves 1 set
      {0, 1, 2},  // enabled 1 without the mask clears 1
      {0, 3, 0},
      {2, 2, 2},
      {1, 1, 3},
      {0, 0, 3},
      {2, 1, 2},
      {0, 2, 0},
      {1, 2, 1},
      {2, 0, 3},
      {3, 0, 3},
      {0, 3, 0},
  };
  DWORD supported = 0, enabled = 0;
  for (const Step& st : steps) {
    ASSERT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, st.mask, st.enabled), S_OK);
    ASSERT_EQ(s->GetInterfaceSafetyOptions(IID_IQuillet, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, st.expected) << "mask " << st.mask << " enabled " << st.enabled;
  }
  // Each object has its own options.
  ASSERT_EQ(s->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
  IObjectSafety* other = Create<IObjectSafety>(IID_IObjectSafety);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
  EXPECT_EQ(enabled, 0u);
  other->Release();
  s->Release();
}

TEST(RelayTypeLibrary, EmbeddedAndComplete) {
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadTypeLibEx(g_dllPath.c_str(), REGKIND_NONE, &lib), S_OK);
  TLIBATTR* la = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
  EXPECT_TRUE(IsEqualGUID(la->guid, LIBID_BREVIXLib));
  EXPECT_EQ(la->wMajorVerNum, 1);
  EXPECT_EQ(la->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(la);
  BSTR name = nullptr, doc = nullptr;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"BREVIXLib");
  EXPECT_STREQ(doc, L"Brevix 1.0 Type Library");
  SysFreeString(name);
  SysFreeString(doc);

  ITypeInfo* cls = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Quillet, &cls), S_OK);
  ASSERT_EQ(cls->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"Quillet");
  EXPECT_STREQ(doc, L"Quillet Class");
  SysFreeString(name);
  SysFreeString(doc);
  cls->Release();

  ITypeInfo* itf = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IQuillet, &itf), S_OK);
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(itf->GetTypeAttr(&ta), S_OK);
  EXPECT_EQ(ta->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  EXPECT_EQ(ta->cFuncs, 1);
  EXPECT_EQ(ta->cImplTypes, 1);
  itf->ReleaseTypeAttr(ta);
  ASSERT_EQ(itf->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(doc, L"IQuillet Interface");
  SysFreeString(name);
  SysFreeString(doc);

  FUNCDESC* fd = nullptr;
  ASSERT_EQ(itf->GetFuncDesc(0, &fd), S_OK);
  EXPECT_EQ(fd->memid, 0x60010000);
  EXPECT_EQ(fd->oVft, 3 * static_cast<int>(sizeof(void*)));  // right after IUnknown's three slots
  EXPECT_EQ(fd->cParams, 3);
  EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT);
  ASSERT_EQ(fd->cParams, 3);
  EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
  EXPECT_EQ(fd->lprgelemdescParam[1].tdesc.vt, VT_BSTR);
  EXPECT_EQ(fd->lprgelemdescParam[2].tdesc.vt, VT_PTR);
  EXPECT_EQ(fd->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  ASSERT_EQ(itf->GetDocumentation(fd->memid, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_STREQ(name, L"SendMessage");
  EXPECT_STREQ(doc, L"method SendMessage");
  SysFreeString(name);
  SysFreeString(doc);
  itf->ReleaseFuncDesc(fd);
  itf->Release();
  lib->Release();
}

TEST(RelayModuleResources, VersionAndProjectName) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(g_dllPath.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(g_dllPath.c_str(), 0, size, &data[0]));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  ASSERT_TRUE(VerQueryValueW(&data[0], L"\\", reinterpret_cast<void**>(&fixed), &len));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000006u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000006u);
  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } strings[] = {{L"InternalName", L"Brevix"},
                 {L"OriginalFilename", L"Brevix.DLL"},
                 {L"ProductName", L"Brevix Module"},
                 {L"FileVersion", L"1.0.0.6"}};
  for (const auto& s : strings) {
    wchar_t* value = nullptr;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\041204b0\\") + s.name;
    ASSERT_TRUE(VerQueryValueW(&data[0], key.c_str(), reinterpret_cast<void**>(&value), &len));
    EXPECT_STREQ(value, s.value);
  }
  wchar_t project[32] = L"";
  EXPECT_GT(LoadStringW(g_dll, 100, project, 32), 0);
  EXPECT_STREQ(project, L"Brevix");
  EXPECT_NE(FindResourceW(g_dll, MAKEINTRESOURCEW(101), L"REGISTRY"), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: %s path-to-bvx.dll\n", argv[0]);
    return 2;
  }
  // ctest hands over a host path; the drive Z: shows the host's root.
  std::string path = argv[1];
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  g_dllPath.assign(path.begin(), path.end());
  CoInitialize(nullptr);
  g_dll = LoadLibraryW(g_dllPath.c_str());
  if (!g_dll) {
    fprintf(stderr, "cannot load %s (error %lu)\n", path.c_str(), GetLastError());
    return 2;
  }
  g_getClassObject = reinterpret_cast<decltype(g_getClassObject)>(GetProcAddress(g_dll, "DllGetClassObject"));
  g_canUnloadNow = reinterpret_cast<decltype(g_canUnloadNow)>(GetProcAddress(g_dll, "DllCanUnloadNow"));
  if (!g_getClassObject || !g_canUnloadNow) return 2;
  const int rc = RUN_ALL_TESTS();
  CoUninitialize();
  return rc;
}
