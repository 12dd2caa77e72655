// CRC-32 as ZIP, Ethernet and SFV files use it (reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

// Continues a CRC-32 over more data. Start with 0; the result of one call is the CRC of all
// data so far and can be passed to the next call.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

// The CRC-32 of two pieces of data one after the other, from the CRC-32 of each and the length
// of the second: the pieces of one file read apart need not be read again to check the whole.
// The length is any 64-bit count; the work grows with its number of bits.
uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength);

// Carry-less multiplication folding: processes whole 16-byte blocks of at least 64 bytes.
// `state` is the inverted running value. Callable only when Crc32ClmulSupported() is true.
uint32_t Crc32ClmulBlocks(uint32_t state, const unsigned char* data, size_t length);
bool Crc32ClmulSupported();
