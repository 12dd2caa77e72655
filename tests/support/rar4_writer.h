// Writes RAR 4 archives of stored files: the format of the old volume naming (name.rar,
// name.r00, name.r01, ...), which the current rar tool no longer writes.
#pragma once

#include <string>
#include <vector>

struct Rar4Entry {
    std::string name;  // ASCII, backslash separators
    std::string content;
};

// Writes the entries as one archive when `volumeDataSize` is 0, otherwise as a volume set with
// at most that many data bytes per volume, entries split across volumes as needed. Volumes
// after `firstVolume` (x.rar) are named x.r00, x.r01, ... Returns the paths of the volumes.
std::vector<std::string> WriteRar4(const std::string& firstVolume, const std::vector<Rar4Entry>& entries,
                                   size_t volumeDataSize = 0);
