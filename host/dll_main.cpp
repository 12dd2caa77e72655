// The module entry point: keeps the module's own instance handle and loads the settings when
// the host loads the module; releases what they hold when it is unloaded.
#include <windows.h>

#include "host/module.h"
#include "settings/settings_file.h"

HINSTANCE ModuleInstance = nullptr;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    try {
        if (reason == DLL_PROCESS_ATTACH) {
            ModuleInstance = instance;
            LoadUnpackSettings(instance);
            DisableThreadLibraryCalls(instance);
        } else if (reason == DLL_PROCESS_DETACH) {
            // A non-null `reserved` means the whole process is ending.
            UnloadUnpackSettings(reserved != nullptr);
        }
    } catch (...) {
        // Out of memory while reading the settings: the defaults stay, the host goes on.
    }
    return TRUE;
}
