// CRC-32 as ZIP, Ethernet and SFV files use it (reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

// Continues a CRC-32 over more data. Start with 0; the result of one call is the CRC of all
// data so far and can be passed to the next call.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

// Carry-less multiplication folding: processes whole 16-byte blocks of at least 64 bytes.
// `state` is the inverted running value. Callable only when Crc32ClmulSupported() is true.
uint32_t Crc32ClmulBlocks(uint32_t state, const unsigned char* data, size_t length);
bool Crc32ClmulSupported();
