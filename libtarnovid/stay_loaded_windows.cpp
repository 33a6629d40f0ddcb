// Windows: the module that holds this code is pinned, so FreeLibrary never unloads it.

#include "stay_loaded.h"

#include <windows.h>

namespace tarnovid::lib {

void stayLoaded() noexcept {
    HMODULE self = nullptr;
    // Pinning is idempotent; a failure leaves the DLL as unloadable as before, nothing worse.
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&stayLoaded), &self);
}

} // namespace tarnovid::lib
