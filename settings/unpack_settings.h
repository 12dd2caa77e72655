// The process-wide settings that steer what the engine verifies, deletes and keeps.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Maps a kept extension (the text after a pattern's last dot) to the position of the first
// pattern that yields it. Keys compare byte for byte, so "nfo" does not match "NFO".
typedef std::map<std::string, int32_t> KeepExtensionMap;

struct SettingsRecord {
    int32_t deleteTemp = 0;
    int32_t keepOverwritten = 1;
    int32_t deleteSrcDuring = 0;
    int32_t keepSrcNoSfv = 1;
    int32_t checkCrc = 0;
    int32_t deleteSfv = 0;
    std::string fileToKeep;
    std::vector<std::string> keepPatterns;
    KeepExtensionMap keepExtensions;
};

// The six flags as the configuration dialog hands them over.
struct SettingsFlags {
    int32_t deleteTemp;
    int32_t keepOverwritten;
    int32_t deleteSrcDuring;
    int32_t keepSrcNoSfv;
    int32_t checkCrc;
    int32_t deleteSfv;
};

// The one record of the process. Filled at attach; afterwards written only through
// ReplaceUnpackSettings, because a background PackFiles may be copying it at that moment.
extern SettingsRecord UnpackSettings;

// A copy of the record, taken under the settings lock. Each PackFiles runs on its own copy,
// so settings accepted meanwhile apply from the next call.
SettingsRecord SnapshotUnpackSettings();

// Installs the flags and the keep map that the user accepted, under the settings lock.
void ReplaceUnpackSettings(const SettingsFlags& flags, const KeepExtensionMap& keepExtensions);

// Splits a comma-separated pattern text into patterns: spaces are dropped wherever they
// stand, tokens shorter than two characters are dropped, duplicates stay.
void ParseKeepPatterns(const std::string& text, std::vector<std::string>& patterns);

// Builds the extension map from patterns: the key is the text after a pattern's last dot,
// or the whole pattern when it has none; the first pattern that yields a key wins.
void BuildKeepExtensions(const std::vector<std::string>& patterns, KeepExtensionMap& keepExtensions);
