// The names that the files of a RAR set take on this machine.
#pragma once

#include <windows.h>

#include <string>

#include "engine/rar_layout.h"

// The path below the destination that `file` comes out under, as the UnRAR library names it
// here: a RAR 4 name without a Unicode form read in the OEM code page, "\" between folders,
// and the dots and spaces that end a component dropped, as Windows drops them.
std::string LocalName(const RarFile& file);

// The times that a file of a set carries, as the output takes them: UTC (a RAR 4 time, which is
// local, taken in this machine's zone, as the UnRAR library takes it), null for one it does not.
class FileTimes {
public:
    explicit FileTimes(const RarFile& file);
    const FILETIME* creation() const { return OrNull(creation_); }
    const FILETIME* access() const { return OrNull(access_); }
    const FILETIME* write() const { return OrNull(write_); }

private:
    static const FILETIME* OrNull(const FILETIME& time)
    {
        return time.dwLowDateTime || time.dwHighDateTime ? &time : nullptr;
    }

    FILETIME creation_;
    FILETIME access_;
    FILETIME write_;
};
