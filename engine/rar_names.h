// The names that the files of a RAR set take on this machine.
#pragma once

#include <windows.h>

#include <string>

#include "engine/rar_layout.h"

// The path below the destination that `file` comes out under, as the UnRAR library names it
// here: a RAR 4 name without a Unicode form read in the OEM code page, "\" between folders,
// and the dots and spaces that end a component dropped, as Windows drops them.
std::string LocalName(const RarFile& file);

// `time`, or null when it is zero: a time that an archive does not carry.
inline const FILETIME* TimeOrNull(const FILETIME& time)
{
    return time.dwLowDateTime || time.dwHighDateTime ? &time : nullptr;
}

// The times that a file of a set carries, as the output takes them: UTC (a RAR 4 time, which is
// local, taken in this machine's zone, as the UnRAR library takes it), null for one it does not.
class FileTimes {
public:
    explicit FileTimes(const RarFile& file);
    const FILETIME* creation() const { return TimeOrNull(creation_); }
    const FILETIME* access() const { return TimeOrNull(access_); }
    const FILETIME* write() const { return TimeOrNull(write_); }

private:
    FILETIME creation_;
    FILETIME access_;
    FILETIME write_;
};
