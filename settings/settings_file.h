// The settings file "ravelpak.xml" beside the module, the resource source, and what the
// module does when it is attached to and detached from the host process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class XmlParamDocument;

// The keys of the settings file.
extern const char kKeyDeleteTemp[];
extern const char kKeyKeepOverwritten[];
extern const char kKeyFileToKeep[];
extern const char kKeyDeleteSrcDuring[];
extern const char kKeyKeepSrcNoSfv[];
extern const char kKeyCheckCrc[];
extern const char kKeyDeleteSfv[];

// The module's directory + "ravelpak.xml"; the bare name when the module's file name has no
// backslash.
std::string SettingsFilePath(HINSTANCE module);

// True when something (a file, or anything else) stands at the settings path: the module and
// the dialog create a settings file only where nothing is.
bool SettingsFileExists(const std::string& path);

// Where dialogs, strings and bitmaps are loaded from: the language module when one was
// loaded at attach, else the module itself.
HINSTANCE ResourceModule();

// Sets the value text of a key, creating the elements that are missing.
void SetValue(XmlParamDocument& document, const char* key, const char* value);

// Reads a flag: when the key exists and its text begins with a number, `flag` becomes 1 for
// the number 1 and 0 for any other; otherwise `flag` keeps its value (the caller's default).
void ReadFlag(const XmlParamDocument& document, const char* key, int32_t& flag);

// Process attach: takes the resource source, creates the settings file with its first two
// keys when there is none, and fills UnpackSettings from it.
void LoadUnpackSettings(HINSTANCE module);

// Process detach: releases the language module (unless the process is ending, when the
// loader frees everything itself) and the keep-extension map.
void UnloadUnpackSettings(bool processEnding);
