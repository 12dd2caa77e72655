// The process-wide settings that steer what the engine verifies, deletes and keeps.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// The kept extensions: the text after each pattern's last dot. They compare byte for byte, so
// "nfo" does not match "NFO".
typedef std::set<std::string> KeepExtensionSet;

// The settings and, through its member initialisers, the one set of defaults: what the engine
// runs with when the settings file lacks a key or is missing, what the settings file is created
// with, and what the dialog shows on a first run. Nothing destructive is on by default.
struct SettingsRecord {
    int32_t deleteTemp = 0;
    int32_t keepOverwritten = 1;
    int32_t deleteSrcDuring = 0;
    int32_t keepSrcNoSfv = 1;
    int32_t checkCrc = 0;
    int32_t deleteSfv = 0;
    std::string fileToKeep;  // the keep patterns as the user wrote them, comma separated
    std::vector<std::string> keepPatterns;
    KeepExtensionSet keepExtensions;
};

// Fills the record from where the settings are kept. Called once, by the first
// SnapshotUnpackSettings, outside the settings lock; it installs what it read.
typedef void (*UnpackSettingsLoader)();

// Names the loader. Without one (the engine's own tests), the record is used as it stands.
void SetUnpackSettingsLoader(UnpackSettingsLoader loader);

// The process keeps one record, reached only through the two calls below, because a background
// PackFiles may be copying it at the moment another thread installs a new one.

// A copy of the record, taken under the settings lock. The first call runs the loader; calls
// on other threads meanwhile wait for it. Each PackFiles runs on its own copy, so settings
// accepted meanwhile apply from the next call.
SettingsRecord SnapshotUnpackSettings();

// Installs a whole record, under the settings lock.
void InstallUnpackSettings(const SettingsRecord& record);

// Sets the pattern text and what is derived from it: the parsed patterns and the kept extensions.
void SetKeepPatternText(SettingsRecord& record, const std::string& text);

// Splits a comma-separated pattern text into patterns: spaces are dropped wherever they
// stand, tokens shorter than two characters are dropped, duplicates stay.
void ParseKeepPatterns(const std::string& text, std::vector<std::string>& patterns);

// Builds the kept extensions from patterns: the text after a pattern's last dot, or the whole
// pattern when it has none.
void BuildKeepExtensions(const std::vector<std::string>& patterns, KeepExtensionSet& keepExtensions);
