// The module from which the dialog's resources are loaded.
#pragma once

#include "host/module.h"

inline HINSTANCE ResourceSource() { return ModuleInstance; }
