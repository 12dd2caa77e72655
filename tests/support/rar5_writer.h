// Builds stored RAR 5 volume sets byte by byte for the tests, with what the real tool here does
// not write: a Windows host and chosen attributes in the file headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rar5Entry {
    std::string name;  // UTF-8, folders separated by "/"
    std::string data;
    uint32_t attributes = 0x20;  // as a Windows host stores them
};

// The volumes of a stored set of `entries`, each volume holding at most `volumeData` bytes of
// file data; a file goes on into the next volume where it does not fit.
std::vector<std::string> BuildRar5Set(const std::vector<Rar5Entry>& entries, size_t volumeData);
