#include "base/crc32.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace {

struct Crc32Table {
    uint32_t entries[256];
    Crc32Table()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
            entries[i] = value;
        }
    }
};

const Crc32Table& Table()
{
    static const Crc32Table table;
    return table;
}

bool DetectClmul()
{
    // PCLMULQDQ is bit 1 and SSE4.1 bit 19 of ECX for leaf 1.
    unsigned int ecx = 0;
#if defined(_MSC_VER)
    int registers[4];
    __cpuid(registers, 1);
    ecx = static_cast<unsigned int>(registers[2]);
#else
    unsigned int eax, ebx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
#endif
    return (ecx & (1u << 1)) && (ecx & (1u << 19));
}

uint32_t UpdateState(uint32_t state, const unsigned char* bytes, size_t length)
{
    const uint32_t* table = Table().entries;
    for (size_t i = 0; i < length; ++i)
        state = table[(state ^ bytes[i]) & 0xFF] ^ (state >> 8);
    return state;
}

}  // namespace

bool Crc32ClmulSupported()
{
    static const bool supported = DetectClmul();
    return supported;
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    uint32_t state = ~crc;
    if (length >= 64 && Crc32ClmulSupported()) {
        size_t blocks = length & ~static_cast<size_t>(15);
        state = Crc32ClmulBlocks(state, bytes, blocks);
        bytes += blocks;
        length -= blocks;
    }
    return ~UpdateState(state, bytes, length);
}
