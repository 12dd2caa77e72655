// The AVX2 kernel: the SSSE3 one on 32-byte registers, each 16-byte lane with its own copy of the
// tables. Packing and unpacking work within lanes, so the words come back where they were.
// Compiled with -mavx2.
#include "engine/par2/gf16_kernels.h"

#include <immintrin.h>

namespace gf16 {
namespace kernels {

size_t AccumulateAvx2(const uint8_t* tables, uint8_t* dst, const uint8_t* src, size_t bytes)
{
    auto table = [tables](int i) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tables + 16 * i)));
    };
    const __m256i low0 = table(0), low1 = table(1), low2 = table(2), low3 = table(3);
    const __m256i high0 = table(4), high1 = table(5), high2 = table(6), high3 = table(7);
    const __m256i lowBytes = _mm256_set1_epi16(0x00ff), nibble = _mm256_set1_epi8(0x0f);
    const size_t whole = bytes - bytes % 64;
    for (size_t i = 0; i < whole; i += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32));
        const __m256i lo = _mm256_packus_epi16(_mm256_and_si256(a, lowBytes), _mm256_and_si256(b, lowBytes));
        const __m256i hi = _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
        const __m256i n0 = _mm256_and_si256(lo, nibble), n1 = _mm256_and_si256(_mm256_srli_epi16(lo, 4), nibble);
        const __m256i n2 = _mm256_and_si256(hi, nibble), n3 = _mm256_and_si256(_mm256_srli_epi16(hi, 4), nibble);
        const __m256i productLow =
            _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(low0, n0), _mm256_shuffle_epi8(low1, n1)),
                             _mm256_xor_si256(_mm256_shuffle_epi8(low2, n2), _mm256_shuffle_epi8(low3, n3)));
        const __m256i productHigh =
            _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(high0, n0), _mm256_shuffle_epi8(high1, n1)),
                             _mm256_xor_si256(_mm256_shuffle_epi8(high2, n2), _mm256_shuffle_epi8(high3, n3)));
        __m256i* out = reinterpret_cast<__m256i*>(dst + i);
        _mm256_storeu_si256(out,
                            _mm256_xor_si256(_mm256_loadu_si256(out), _mm256_unpacklo_epi8(productLow, productHigh)));
        _mm256_storeu_si256(
            out + 1, _mm256_xor_si256(_mm256_loadu_si256(out + 1), _mm256_unpackhi_epi8(productLow, productHigh)));
    }
    return whole;
}

}  // namespace kernels
}  // namespace gf16
