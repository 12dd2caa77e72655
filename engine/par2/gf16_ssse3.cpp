// The SSSE3 kernel: 16 words at a time, their low and high bytes gathered into a register each,
// each nibble looked up with PSHUFB in the low-byte and the high-byte table of its position, and
// the two halves of the products interleaved back into words. Compiled with -mssse3.
#include "engine/par2/gf16_kernels.h"

#include <tmmintrin.h>

namespace gf16 {
namespace kernels {

size_t AccumulateSsse3(const uint8_t* tables, uint8_t* dst, const uint8_t* src, size_t bytes)
{
    auto table = [tables](int i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(tables + 16 * i)); };
    const __m128i low0 = table(0), low1 = table(1), low2 = table(2), low3 = table(3);
    const __m128i high0 = table(4), high1 = table(5), high2 = table(6), high3 = table(7);
    const __m128i lowBytes = _mm_set1_epi16(0x00ff), nibble = _mm_set1_epi8(0x0f);
    const size_t whole = bytes - bytes % 32;
    for (size_t i = 0; i < whole; i += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 16));
        // The words' low bytes in one register and their high bytes in another, in word order.
        const __m128i lo = _mm_packus_epi16(_mm_and_si128(a, lowBytes), _mm_and_si128(b, lowBytes));
        const __m128i hi = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
        const __m128i n0 = _mm_and_si128(lo, nibble), n1 = _mm_and_si128(_mm_srli_epi16(lo, 4), nibble);
        const __m128i n2 = _mm_and_si128(hi, nibble), n3 = _mm_and_si128(_mm_srli_epi16(hi, 4), nibble);
        const __m128i productLow =
            _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(low0, n0), _mm_shuffle_epi8(low1, n1)),
                          _mm_xor_si128(_mm_shuffle_epi8(low2, n2), _mm_shuffle_epi8(low3, n3)));
        const __m128i productHigh =
            _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(high0, n0), _mm_shuffle_epi8(high1, n1)),
                          _mm_xor_si128(_mm_shuffle_epi8(high2, n2), _mm_shuffle_epi8(high3, n3)));
        __m128i* out = reinterpret_cast<__m128i*>(dst + i);
        _mm_storeu_si128(out, _mm_xor_si128(_mm_loadu_si128(out), _mm_unpacklo_epi8(productLow, productHigh)));
        _mm_storeu_si128(out + 1,
                         _mm_xor_si128(_mm_loadu_si128(out + 1), _mm_unpackhi_epi8(productLow, productHigh)));
    }
    return whole;
}

}  // namespace kernels
}  // namespace gf16
