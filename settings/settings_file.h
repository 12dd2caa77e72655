// The owner of the settings: where the settings file lives, reading and writing it, and the
// resource source (the module or its language module). Nothing here reads a file or loads a
// library while the host loads the module: DllMain only keeps the module's handle (and
// releases the language module at detach); the settings and the language module are loaded by
// the first call that needs them.
#pragma once

#include <windows.h>

#include <string>

#include "settings/unpack_settings.h"

// The outcome of reading or writing the settings file: the file, and on failure the system's
// error code.
struct SettingsFileResult {
    bool ok = false;
    std::string path;
    DWORD error = ERROR_SUCCESS;

    // The system's text for the error, without the line end.
    std::string Reason() const;
};

// Process attach: keeps the module's handle and names LoadModuleSettings as the loader of the
// engine's settings. Touches no file and loads no library.
void KeepModuleInstance(HINSTANCE module);

// The ini file that the host suggests for plugin settings (PackSetDefaultParams). Its folder is
// where the settings file goes when the module's own folder cannot take it. Counts only until
// the settings are first loaded; later calls change nothing.
void SuggestSettingsIni(const char* iniFile);

// Where the settings file lives, decided once, at the first load:
// 1. "ravelpak.xml" beside the module, when it exists (a portable install carries its own);
// 2. "ravelpak.xml" in the folder of the suggested ini file, when that one exists;
// 3. beside the module, when the module's folder is writable;
// 4. in the folder of the suggested ini file.
// Without a suggested ini file, always beside the module.
std::string SettingsFilePath();

// The user's key, which vouches for the journals of their jobs (see engine/journal.h): 32
// random bytes made once and never written again, in "ravelpak.key" beside the settings file
// when that lies beside the module (a portable install), in %LOCALAPPDATA%\Ravelpak otherwise.
// `bytes` is empty when no key can be read or made there; `path` says where it is looked for.
struct JournalKey {
    std::string bytes;
    std::string path;
};
JournalKey LoadJournalKey();

// Reads the file into `record`, which keeps its defaults for every key the file lacks.
// A file declared as UTF-8, or without a declaration, is converted to the ANSI code page that
// the module works in; any other declaration is read byte for byte (older versions wrote the
// ANSI code page under an ISO-8859-1 declaration).
SettingsFileResult ReadSettingsFile(const std::string& path, SettingsRecord& record);

// Writes every key of `record` as UTF-8, creating the file's folder when it is missing.
SettingsFileResult WriteSettingsFile(const std::string& path, const SettingsRecord& record);

// The loader of the engine's settings: reads the settings file, or creates it with the
// defaults when nothing stands at its path, and installs what it read.
void LoadModuleSettings();

// Writes the record to the settings file and, when that worked, installs it for the engine.
SettingsFileResult SaveModuleSettings(const SettingsRecord& record);
