// Verification of a group of downloaded files against the CRC-32 values of an SFV file.
#pragma once

#include <cstdint>
#include <string>

enum SfvResult : int32_t {
    SfvVerified = 0,   // every listed file matched (also when none is listed)
    SfvNoPath = -1,    // the SFV path is empty
    SfvMismatch = -2,  // the SFV file cannot be opened, or a listed file did not match
    SfvStopped = -3,   // the host asked to stop
};

// Checks every file that the SFV file lists, announcing each one to the host before and after
// its checksum is computed. A listed file that cannot be read never counts as verified.
int32_t VerifySfv(const std::string& sfvPath);

// CRC-32 of a whole file, read in 1 MiB blocks. False when the file cannot be opened or read.
bool FileCrc32(const std::string& path, uint32_t& crc);

// Reads an SFV checksum text: leading white space, an optional sign and 0x prefix, then hex
// digits up to the first other character. No digit gives 0; a value past 32 bits gives
// FFFFFFFF.
uint32_t ParseSfvChecksum(const std::string& text);

// Splits one SFV line (already cut at its terminator) into the listed name and its checksum.
// False for a comment or a line that holds nothing but spaces.
bool SplitSfvLine(const std::string& line, std::string& name, std::string& checksum);
