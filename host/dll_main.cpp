// The module entry point. It runs under the loader lock, so it only keeps the module's own
// instance handle: the settings and the language module are loaded by the first call that
// needs them (see settings/settings_file.h and ui/resource_module.h), after
// PackSetDefaultParams when the host makes it.
#include <windows.h>

#include "settings/settings_file.h"
#include "ui/resource_module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        KeepModuleInstance(instance);
        KeepResourceInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        // A non-null `reserved` means the whole process is ending.
        ReleaseResourceModule(reserved != nullptr);
    }
    return TRUE;
}
