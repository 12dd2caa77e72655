// UnRAR hashes every byte it unpacks from a split file twice: once per volume part and once
// for the whole file. Its own table method runs at about 2 GB/s, which made those two hashes
// the largest cost of unpacking a stored set. This is the library's CRC32 entry point on the
// module's folding implementation; the library's table version is compiled under another name.
#include <cstddef>

#include "base/crc32.h"

// The library passes and returns the running register (start 0xFFFFFFFF, invert at the end);
// Crc32Update takes and returns finished values, which are its inverse.
unsigned int CRC32(unsigned int StartCRC, const void* Addr, size_t Size)
{
    return ~Crc32Update(~StartCRC, Addr, Size);
}
