#include "engine/par2/gf16.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define RAVELPAK_GF16_X86 1
#include "engine/par2/gf16_kernels.h"
#else
#define RAVELPAK_GF16_X86 0
#endif

namespace gf16 {

namespace {

struct Tables {
    uint16_t exp[2 * kGroupOrder];  // doubled so that a sum of two logarithms needs no reduction
    uint16_t log[65536];
    uint16_t sliceLog[kMaxInputSlices];

    Tables()
    {
        uint32_t value = 1;
        for (uint32_t n = 0; n < kGroupOrder; ++n) {
            exp[n] = exp[n + kGroupOrder] = static_cast<uint16_t>(value);
            log[value] = static_cast<uint16_t>(n);
            value <<= 1;
            if (value & 0x10000)
                value ^= 0x1100B;
        }
        log[0] = 0;
        uint32_t n = 0;
        for (uint32_t i = 0; i < kMaxInputSlices; ++i) {
            do
                ++n;
            while (n % 3 == 0 || n % 5 == 0 || n % 17 == 0 || n % 257 == 0);
            sliceLog[i] = static_cast<uint16_t>(n);
        }
    }
};

// Built once, at the first use, whichever thread comes first.
const Tables& Get()
{
    static const Tables tables;
    return tables;
}

}  // namespace

uint16_t Multiply(uint16_t a, uint16_t b)
{
    if (a == 0 || b == 0)
        return 0;
    const Tables& t = Get();
    return t.exp[t.log[a] + t.log[b]];
}

uint16_t Power(uint16_t a, uint64_t n)
{
    if (n == 0)
        return 1;
    if (a == 0)
        return 0;
    return Exp2(Get().log[a] * (n % kGroupOrder));
}

uint16_t Inverse(uint16_t a)
{
    const Tables& t = Get();
    return t.exp[kGroupOrder - t.log[a]];
}

uint16_t Exp2(uint64_t n)
{
    return Get().exp[n % kGroupOrder];
}

uint16_t Log2(uint16_t a)
{
    return Get().log[a];
}

uint16_t InputSliceLog(uint32_t index)
{
    return Get().sliceLog[index];
}

uint16_t RecoveryCoefficient(uint32_t index, uint32_t exponent)
{
    return Exp2(static_cast<uint64_t>(InputSliceLog(index)) * exponent);
}

namespace {

std::vector<Kernel> FindKernels()
{
    std::vector<Kernel> kernels{Kernel::Portable};
#if RAVELPAK_GF16_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3"))
        kernels.push_back(Kernel::Ssse3);
    // Also tells whether the system saves the 32-byte registers.
    if (__builtin_cpu_supports("avx2"))
        kernels.push_back(Kernel::Avx2);
#endif
    return kernels;
}

Kernel Fastest()
{
    static const Kernel fastest = AvailableKernels().back();
    return fastest;
}

}  // namespace

const char* KernelName(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Ssse3:
        return "ssse3";
    case Kernel::Avx2:
        return "avx2";
    default:
        return "portable";
    }
}

const std::vector<Kernel>& AvailableKernels()
{
    static const std::vector<Kernel> kernels = FindKernels();
    return kernels;
}

Multiplier::Multiplier(uint16_t factor) : factor_(factor)
{
    // Multiplication distributes over XOR: the product of a byte is the XOR of its bits' products.
    low_[0] = high_[0] = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const uint16_t lowBit = Multiply(factor, static_cast<uint16_t>(1u << bit));
        const uint16_t highBit = Multiply(factor, static_cast<uint16_t>(1u << (bit + 8)));
        for (int x = 0; x < (1 << bit); ++x) {
            low_[(1 << bit) + x] = lowBit ^ low_[x];
            high_[(1 << bit) + x] = highBit ^ high_[x];
        }
    }
    // A nibble's products are entries of its byte's table.
    for (int x = 0; x < 16; ++x) {
        const uint16_t products[4] = {low_[x], low_[x << 4], high_[x], high_[x << 4]};
        for (int q = 0; q < 4; ++q) {
            nibbles_[16 * q + x] = static_cast<uint8_t>(products[q]);
            nibbles_[64 + 16 * q + x] = static_cast<uint8_t>(products[q] >> 8);
        }
    }
}

void Multiplier::Accumulate(uint8_t* dst, const uint8_t* src, size_t bytes) const
{
    Accumulate(dst, src, bytes, Fastest());
}

void Multiplier::Accumulate(uint8_t* dst, const uint8_t* src, size_t bytes, Kernel kernel) const
{
    if (factor_ == 0)
        return;
    size_t done = 0;
#if RAVELPAK_GF16_X86
    if (kernel == Kernel::Avx2)
        done = kernels::AccumulateAvx2(nibbles_, dst, src, bytes);
    else if (kernel == Kernel::Ssse3)
        done = kernels::AccumulateSsse3(nibbles_, dst, src, bytes);
#else
    (void)kernel;
#endif
    AccumulatePortable(dst + done, src + done, bytes - done);
}

void Multiplier::AccumulatePortable(uint8_t* dst, const uint8_t* src, size_t bytes) const
{
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const uint16_t product = low_[src[i]] ^ high_[src[i + 1]];
        dst[i] ^= static_cast<uint8_t>(product);
        dst[i + 1] ^= static_cast<uint8_t>(product >> 8);
    }
}

void MultiplyAccumulate(uint8_t* dst, const uint8_t* src, size_t bytes, uint16_t factor)
{
    Multiplier(factor).Accumulate(dst, src, bytes);
}

}  // namespace gf16
