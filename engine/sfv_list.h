// What an SFV file lists, read from its text: the names of files with the CRC-32 of each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A line of an SFV file that lists a file.
struct SfvEntry {
    std::string name;  // as the line writes it; it may still reach outside the SFV file's folder
    uint32_t crc = 0;
};

// The entries of an SFV text in UTF-8, in their order. Lines end at CR, at LF or at CR LF; the
// last one needs no terminator. A line is split by SplitSfvLine, its checksum read by
// ParseSfvChecksum; comments and blank lines list nothing.
std::vector<SfvEntry> ReadSfvEntries(const std::string& text);

// Reads an SFV checksum text: leading white space, an optional sign and 0x prefix, then hex
// digits up to the first other character. No digit gives 0; a value past 32 bits gives
// FFFFFFFF.
uint32_t ParseSfvChecksum(const std::string& text);

// Splits one SFV line (already cut at its terminator) into the listed name and its checksum,
// at the last run of spaces. False for a comment or a line that holds nothing but spaces.
bool SplitSfvLine(const std::string& line, std::string& name, std::string& checksum);
