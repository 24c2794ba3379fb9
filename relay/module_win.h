// Module-wide state of the component: its instance handle and the lock count
// (live objects plus class-factory locks) that decides whether the DLL may be
// unloaded.
#pragma once

#include <windows.h>

namespace bvx {

HINSTANCE ModuleInstance();
void LockModule();
void UnlockModule();

}  // namespace bvx
