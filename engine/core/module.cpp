// Finds the module this code lives in, without needing DllMain: whichever
// image the engine core was linked into carries its resources.
#include "core/module.h"

HINSTANCE EngineModule() {
    static HMODULE module = nullptr;
    if (!module) {
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&EngineModule), &module);
    }
    return module;
}
