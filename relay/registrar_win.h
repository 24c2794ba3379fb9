// What registering the component writes: the registration script (resource
// REGISTRY 101) and the type library (resource TYPELIB 1).
#pragma once

#include <windows.h>

namespace bvx {

// Applies the registration script in register or unregister mode.
HRESULT RunRegistrationScript(HINSTANCE module, bool registering);

// Registers or unregisters the module's type library.
HRESULT RegisterOwnTypeLib(HINSTANCE module);
HRESULT UnregisterOwnTypeLib(HINSTANCE module);

}  // namespace bvx
