// The SIMD kernels behind gf16::Multiplier::Accumulate, each in a source file of its own that is
// compiled for the instructions it uses; gf16.cpp calls one only when the processor has them.
//
// They take a factor's split 4-bit tables, 128 bytes: for nibble q of a source word (q = 0 the
// lowest) and x in 0..15, tables[16 * q + x] is the low byte of factor * (x << 4q) and
// tables[64 + 16 * q + x] its high byte. A word's product is the XOR of its four nibbles'
// entries, so each table is one byte shuffle of 16 entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gf16 {
namespace kernels {

// dst ^= factor * src over the whole blocks of `bytes` (32 bytes for SSSE3, 64 for AVX2), with
// any alignment; returns the bytes done, which the caller finishes.
size_t AccumulateSsse3(const uint8_t* tables, uint8_t* dst, const uint8_t* src, size_t bytes);
size_t AccumulateAvx2(const uint8_t* tables, uint8_t* dst, const uint8_t* src, size_t bytes);

}  // namespace kernels
}  // namespace gf16
