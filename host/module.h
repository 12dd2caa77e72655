// The module's own instance handle, kept from process attach.
#pragma once

#include <windows.h>

extern HINSTANCE ModuleInstance;
