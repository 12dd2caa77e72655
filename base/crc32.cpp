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

// a * b modulo the CRC polynomial, both as reflected polynomials over GF(2).
uint32_t MultiplyModulo(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (uint32_t bit = 1u << 31; bit != 0; bit >>= 1) {
        if (a & bit)
            product ^= b;
        b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return product;
}

// x^(2^k) modulo the polynomial for k = 0..66, each the square of the one before: the bits of
// a 64-bit count of bytes are the powers 2^3 to 2^66 of a count of bits.
struct PowersOfX {
    uint32_t entries[67];
    PowersOfX()
    {
        entries[0] = 1u << 30;  // x^1, reflected
        for (int k = 1; k < 67; ++k)
            entries[k] = MultiplyModulo(entries[k - 1], entries[k - 1]);
    }
};

}  // namespace

uint32_t Crc32Combine(uint32_t first, uint32_t second, uint64_t secondLength)
{
    // Appending n bytes multiplies the first CRC's remainder by x^(8n): the bits of n pick the
    // powers to multiply together, from x^(2^3) on.
    static const PowersOfX powers;
    uint32_t factor = 1u << 31;  // x^0, reflected
    for (int k = 3; secondLength != 0; secondLength >>= 1, ++k)
        if (secondLength & 1)
            factor = MultiplyModulo(powers.entries[k], factor);
    return MultiplyModulo(factor, first) ^ second;
}

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
