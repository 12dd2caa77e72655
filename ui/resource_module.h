// Where the dialog, its strings and its bitmaps come from: the language module
// "ravelpak_chs.dll" beside the module when there is one, else the module itself. Nothing is
// loaded while the host loads the module: DllMain only keeps the module's handle (and releases
// the language module at detach); the language module is mapped by the first call that needs it.
#pragma once

#include <windows.h>

#include <string>

// Process attach: keeps the module's handle, whose folder is searched for the language module
// and whose own resources stand in for it. Loads nothing.
void KeepResourceInstance(HINSTANCE module);

// The resource source: the language module when there is one (mapped as data on the first
// call), else the module.
HINSTANCE ResourceModule();

// String `id` of the resource source; from the module itself when the language module lacks it.
std::string ResourceString(UINT id);

// Process detach: unmaps the language module, unless the process is ending (the system then
// unmaps everything itself). Mapped as data, it runs no code.
void ReleaseResourceModule(bool processEnding);
