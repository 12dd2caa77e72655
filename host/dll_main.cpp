// The module entry point: keeps the module's own instance handle, from which every resource
// and the settings file's location are taken.
#include <windows.h>

#include "host/module.h"

HINSTANCE ModuleInstance = nullptr;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ModuleInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
