#include "base/md5.h"

#include <cstring>

namespace {

uint32_t RotateLeft(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

// One step of RFC 1321: `mixed` is the round's function of b, c and d. The word and the
// constant are added first: they do not wait for the step before.
inline void Step(uint32_t& a, uint32_t b, uint32_t mixed, uint32_t word, uint32_t sine, int shift)
{
    a = b + RotateLeft((a + word + sine) + mixed, shift);
}

inline uint32_t F(uint32_t b, uint32_t c, uint32_t d)
{
    return d ^ (b & (c ^ d));
}
// The second round's function, (b & d) | (c & ~d), as a sum of its two disjoint halves: the
// half without b, the word computed by the step before, is added while b is still on its way.
inline void StepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t word, uint32_t sine, int shift)
{
    a = b + RotateLeft(((a + word + sine) + (c & ~d)) + (b & d), shift);
}
inline uint32_t H(uint32_t b, uint32_t c, uint32_t d)
{
    return b ^ c ^ d;
}
inline uint32_t I(uint32_t b, uint32_t c, uint32_t d)
{
    return c ^ (b | ~d);
}

}  // namespace

void Md5::Reset()
{
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    length_ = 0;
    pendingSize_ = 0;
}

void Md5::Block(const uint8_t* block)
{
    uint32_t x[16];
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(x, block, sizeof x);
#else
    for (int i = 0; i < 16; ++i)
        x[i] = static_cast<uint32_t>(block[4 * i]) | static_cast<uint32_t>(block[4 * i + 1]) << 8 |
               static_cast<uint32_t>(block[4 * i + 2]) << 16 | static_cast<uint32_t>(block[4 * i + 3]) << 24;
#endif
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    // The 64 steps written out, with the sine-derived constants of RFC 1321: a loop with the
    // round chosen at each step runs at a fraction of the speed.
    Step(a, b, F(b, c, d), x[0], 0xd76aa478, 7);
    Step(d, a, F(a, b, c), x[1], 0xe8c7b756, 12);
    Step(c, d, F(d, a, b), x[2], 0x242070db, 17);
    Step(b, c, F(c, d, a), x[3], 0xc1bdceee, 22);
    Step(a, b, F(b, c, d), x[4], 0xf57c0faf, 7);
    Step(d, a, F(a, b, c), x[5], 0x4787c62a, 12);
    Step(c, d, F(d, a, b), x[6], 0xa8304613, 17);
    Step(b, c, F(c, d, a), x[7], 0xfd469501, 22);
    Step(a, b, F(b, c, d), x[8], 0x698098d8, 7);
    Step(d, a, F(a, b, c), x[9], 0x8b44f7af, 12);
    Step(c, d, F(d, a, b), x[10], 0xffff5bb1, 17);
    Step(b, c, F(c, d, a), x[11], 0x895cd7be, 22);
    Step(a, b, F(b, c, d), x[12], 0x6b901122, 7);
    Step(d, a, F(a, b, c), x[13], 0xfd987193, 12);
    Step(c, d, F(d, a, b), x[14], 0xa679438e, 17);
    Step(b, c, F(c, d, a), x[15], 0x49b40821, 22);

    StepG(a, b, c, d, x[1], 0xf61e2562, 5);
    StepG(d, a, b, c, x[6], 0xc040b340, 9);
    StepG(c, d, a, b, x[11], 0x265e5a51, 14);
    StepG(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    StepG(a, b, c, d, x[5], 0xd62f105d, 5);
    StepG(d, a, b, c, x[10], 0x02441453, 9);
    StepG(c, d, a, b, x[15], 0xd8a1e681, 14);
    StepG(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    StepG(a, b, c, d, x[9], 0x21e1cde6, 5);
    StepG(d, a, b, c, x[14], 0xc33707d6, 9);
    StepG(c, d, a, b, x[3], 0xf4d50d87, 14);
    StepG(b, c, d, a, x[8], 0x455a14ed, 20);
    StepG(a, b, c, d, x[13], 0xa9e3e905, 5);
    StepG(d, a, b, c, x[2], 0xfcefa3f8, 9);
    StepG(c, d, a, b, x[7], 0x676f02d9, 14);
    StepG(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    Step(a, b, H(b, c, d), x[5], 0xfffa3942, 4);
    Step(d, a, H(a, b, c), x[8], 0x8771f681, 11);
    Step(c, d, H(d, a, b), x[11], 0x6d9d6122, 16);
    Step(b, c, H(c, d, a), x[14], 0xfde5380c, 23);
    Step(a, b, H(b, c, d), x[1], 0xa4beea44, 4);
    Step(d, a, H(a, b, c), x[4], 0x4bdecfa9, 11);
    Step(c, d, H(d, a, b), x[7], 0xf6bb4b60, 16);
    Step(b, c, H(c, d, a), x[10], 0xbebfbc70, 23);
    Step(a, b, H(b, c, d), x[13], 0x289b7ec6, 4);
    Step(d, a, H(a, b, c), x[0], 0xeaa127fa, 11);
    Step(c, d, H(d, a, b), x[3], 0xd4ef3085, 16);
    Step(b, c, H(c, d, a), x[6], 0x04881d05, 23);
    Step(a, b, H(b, c, d), x[9], 0xd9d4d039, 4);
    Step(d, a, H(a, b, c), x[12], 0xe6db99e5, 11);
    Step(c, d, H(d, a, b), x[15], 0x1fa27cf8, 16);
    Step(b, c, H(c, d, a), x[2], 0xc4ac5665, 23);

    Step(a, b, I(b, c, d), x[0], 0xf4292244, 6);
    Step(d, a, I(a, b, c), x[7], 0x432aff97, 10);
    Step(c, d, I(d, a, b), x[14], 0xab9423a7, 15);
    Step(b, c, I(c, d, a), x[5], 0xfc93a039, 21);
    Step(a, b, I(b, c, d), x[12], 0x655b59c3, 6);
    Step(d, a, I(a, b, c), x[3], 0x8f0ccc92, 10);
    Step(c, d, I(d, a, b), x[10], 0xffeff47d, 15);
    Step(b, c, I(c, d, a), x[1], 0x85845dd1, 21);
    Step(a, b, I(b, c, d), x[8], 0x6fa87e4f, 6);
    Step(d, a, I(a, b, c), x[15], 0xfe2ce6e0, 10);
    Step(c, d, I(d, a, b), x[6], 0xa3014314, 15);
    Step(b, c, I(c, d, a), x[13], 0x4e0811a1, 21);
    Step(a, b, I(b, c, d), x[4], 0xf7537e82, 6);
    Step(d, a, I(a, b, c), x[11], 0xbd3af235, 10);
    Step(c, d, I(d, a, b), x[2], 0x2ad7d2bb, 15);
    Step(b, c, I(c, d, a), x[9], 0xeb86d391, 21);

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::Update(const void* data, size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    length_ += size;
    if (pendingSize_ > 0) {
        const size_t take = size < 64 - pendingSize_ ? size : 64 - pendingSize_;
        std::memcpy(pending_ + pendingSize_, bytes, take);
        pendingSize_ += take;
        bytes += take;
        size -= take;
        if (pendingSize_ < 64)
            return;
        Block(pending_);
        pendingSize_ = 0;
    }
    for (; size >= 64; bytes += 64, size -= 64)
        Block(bytes);
    if (size > 0)
        std::memcpy(pending_, bytes, size);
    pendingSize_ = size;
}

Md5Digest Md5::Final()
{
    // A one bit, zeros up to 56 bytes into a block, then the message's length in bits.
    const uint64_t bits = length_ << 3;
    uint8_t tail[72] = {0x80};
    const size_t padding = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    for (int i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<uint8_t>(bits >> (8 * i));
    Update(tail, padding + 8);
    Md5Digest digest;
    for (int i = 0; i < 16; ++i)
        digest[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
    Reset();
    return digest;
}

Md5Digest Md5Of(const void* data, size_t size)
{
    Md5 md5;
    md5.Update(data, size);
    return md5.Final();
}
