// What every stage of one PackFiles call reads: the settings copied when the call began and
// the facts of the group being unpacked.
#pragma once

#include "settings/unpack_settings.h"

struct UnrarLibrary;

struct UnpackContext {
    SettingsRecord settings;
    // True while the group being processed has an SFV file, checked or not.
    bool sfvPresent = false;
    // The UnRAR library loaded for the call; null when it is not available, and every RAR
    // archive then counts as one that cannot be opened.
    const UnrarLibrary* unrar = nullptr;
};
