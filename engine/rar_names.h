// The names that the files of a RAR set take on this machine.
#pragma once

#include <windows.h>

#include <string>

#include "engine/rar_layout.h"

// The path below the destination that `file` comes out under, as the UnRAR library names it
// here: a RAR 4 name without a Unicode form read in the OEM code page, "\" between folders,
// and the dots and spaces that end a component dropped, as Windows drops them.
std::string LocalName(const RarFile& file);

// The times that a file of a set carries, as the output takes them: null for one it does not.
class FileTimes {
public:
    // `write` in place of the file's own write time: a RAR 4 time made UTC.
    explicit FileTimes(const RarFile& file) : FileTimes(file, file.writeTime) {}
    FileTimes(const RarFile& file, uint64_t write)
        : creation_(Of(file.creationTime)), access_(Of(file.accessTime)), write_(Of(file.hasTime ? write : 0))
    {
    }
    const FILETIME* creation() const { return OrNull(creation_); }
    const FILETIME* access() const { return OrNull(access_); }
    const FILETIME* write() const { return OrNull(write_); }

private:
    static FILETIME Of(uint64_t time) { return {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)}; }
    static const FILETIME* OrNull(const FILETIME& time)
    {
        return time.dwLowDateTime || time.dwHighDateTime ? &time : nullptr;
    }

    FILETIME creation_;
    FILETIME access_;
    FILETIME write_;
};
