// Folding CRC-32 with carry-less multiplication: four 128-bit lanes fold 64 bytes per step,
// then fold into one lane, reduce 128 to 64 bits and finish with a Barrett reduction. This
// file is compiled with PCLMUL and SSE4.1 enabled; callers check Crc32ClmulSupported().
#include "base/crc32.h"

#include <emmintrin.h>
#include <smmintrin.h>
#include <wmmintrin.h>

namespace {
// x^(4*128+32) mod P, x^(4*128-32) mod P; x^(128+32), x^(128-32); x^64; P' and mu, all
// bit-reflected, for the reflected polynomial 0xEDB88320.
alignas(16) const uint64_t kFold4[2] = {0x0154442bd4ull, 0x01c6e41596ull};
alignas(16) const uint64_t kFold1[2] = {0x01751997d0ull, 0x00ccaa009eull};
alignas(16) const uint64_t kFold64[2] = {0x0163cd6124ull, 0x0000000000ull};
alignas(16) const uint64_t kBarrett[2] = {0x01db710641ull, 0x01f7011641ull};

inline __m128i Load(const unsigned char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline __m128i Fold(__m128i lane, __m128i constants, __m128i next)
{
    __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}
}  // namespace

uint32_t Crc32ClmulBlocks(uint32_t state, const unsigned char* data, size_t length)
{
    __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x2 = Load(data + 16);
    __m128i x3 = Load(data + 32);
    __m128i x4 = Load(data + 48);
    data += 64;
    length -= 64;

    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold4));
    while (length >= 64) {
        x1 = Fold(x1, k, Load(data));
        x2 = Fold(x2, k, Load(data + 16));
        x3 = Fold(x3, k, Load(data + 32));
        x4 = Fold(x4, k, Load(data + 48));
        data += 64;
        length -= 64;
    }

    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold1));
    x1 = Fold(x1, k, x2);
    x1 = Fold(x1, k, x3);
    x1 = Fold(x1, k, x4);
    while (length >= 16) {
        x1 = Fold(x1, k, Load(data));
        data += 16;
        length -= 16;
    }

    // 128 bits to 64.
    __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i x2b = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
    __m128i shifted = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x00), shifted);

    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), k, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}
