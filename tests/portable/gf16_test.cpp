// GF(2^16) with the polynomial 0x1100B: products worked out by hand from the polynomial, every
// product, inverse and power against a multiplication by shifts and reductions, the constants
// of PAR2's input slices, and the region product of each kernel against word-by-word products.
// The recovery coefficients and the shorthand MultiplyAccumulate are checked against the
// recovery data that par2 wrote, in par2_set_test.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/par2/gf16.h"

namespace {

// Multiplication the long way: shift and add, reducing by the polynomial at each carry.
uint16_t Slow(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1)
            product ^= a;
        a <<= 1;
        if (a & 0x10000)
            a ^= 0x1100B;
    }
    return static_cast<uint16_t>(product);
}

TEST(Gf16, KnownAnswers)
{
    const struct {
        uint16_t a, b, product;
    } rows[] = {
        {2, 0x8000, 0x100B},       // x^16 = x^12 + x^3 + x + 1
        {0x8000, 0x8000, 0x8EFA},  // x^30, reduced term by term
        {0, 0x1234, 0},            // a = 0, which the test of every element leaves out
    };
    for (const auto& row : rows)
        EXPECT_EQ(gf16::Multiply(row.a, row.b), row.product) << row.a << " " << row.b;
    EXPECT_EQ(gf16::Power(0, 0), 1);
    EXPECT_EQ(gf16::Power(0, 5), 0);
    const uint16_t constants[] = {2, 4, 16, 128, 256, 2048, 8192, 16384, 4107, 32856, 17132};
    for (uint32_t i = 0; i < 11; ++i)
        EXPECT_EQ(gf16::InputSliceConstant(i), constants[i]) << i;
    // The last of the 32768 logarithms below the group's order, and one between: 3856 is the
    // 1928th positive integer divisible by none of 3, 5, 17 and 257.
    EXPECT_EQ(gf16::InputSliceLog(gf16::kMaxInputSlices - 1), 65534);
    EXPECT_EQ(gf16::InputSliceLog(1927), 3856);
}

// Each element's inverse, logarithm, a product and a power (of an exponent past the group's
// order too) against the long way.
TEST(Gf16, EveryElementAgainstTheLongWay)
{
    std::mt19937 random(7);
    for (uint32_t a = 1; a < 0x10000; ++a) {
        const uint16_t b = static_cast<uint16_t>(random()), n = random() % 8;
        uint16_t power = 1;
        for (uint32_t i = 0; i < n; ++i)
            power = Slow(power, a);
        ASSERT_EQ(gf16::Multiply(static_cast<uint16_t>(a), gf16::Inverse(static_cast<uint16_t>(a))), 1) << a;
        ASSERT_EQ(gf16::Exp2(gf16::Log2(static_cast<uint16_t>(a))), a);
        ASSERT_EQ(gf16::Multiply(static_cast<uint16_t>(a), b), Slow(a, b)) << a << " " << b;
        ASSERT_EQ(gf16::Power(static_cast<uint16_t>(a), n + 65535ull * (a % 3)), power) << a << "^" << n;
    }
}

// Every kernel the processor runs against word-by-word products: factors 0, 1 and others, regions
// at odd addresses, whole SIMD blocks and the words left after them, and dst the same as src.
TEST(Gf16, RegionProductsMatchWordProducts)
{
    std::mt19937 random(11);
    struct Row {
        uint16_t factor;
        size_t bytes, srcOffset, dstOffset;
        bool inPlace;
    };
    // The factors whose tables are special, a region of one word and one of none, and one in
    // place of whole blocks and a word after them; random rows for the rest.
    std::vector<Row> rows = {
        {0, 64, 0, 0, false},     {1, 64, 1, 0, false},       {2, 2, 0, 1, false},
        {0x100B, 0, 0, 0, false}, {0x0101, 4162, 0, 0, true},
    };
    for (int i = 0; i < 200; ++i)
        rows.push_back({static_cast<uint16_t>(random()), 2 * (random() % 300), random() % 32, random() % 32, false});
    ASSERT_EQ(gf16::AvailableKernels().front(), gf16::Kernel::Portable);
    for (gf16::Kernel kernel : gf16::AvailableKernels())
        for (const Row& row : rows) {
            std::vector<uint8_t> src(row.bytes + row.srcOffset), dst(row.bytes + row.dstOffset);
            for (auto& b : src)
                b = static_cast<uint8_t>(random());
            for (auto& b : dst)
                b = static_cast<uint8_t>(random());
            if (row.inPlace)
                dst = src;
            const size_t dstOffset = row.inPlace ? row.srcOffset : row.dstOffset;
            std::vector<uint8_t> expected = dst;
            for (size_t i = 0; i < row.bytes; i += 2) {
                const uint16_t word = static_cast<uint16_t>(src[row.srcOffset + i] | src[row.srcOffset + i + 1] << 8);
                const uint16_t product = Slow(word, row.factor);
                expected[dstOffset + i] ^= static_cast<uint8_t>(product);
                expected[dstOffset + i + 1] ^= static_cast<uint8_t>(product >> 8);
            }
            const uint8_t* from = row.inPlace ? dst.data() + dstOffset : src.data() + row.srcOffset;
            gf16::Multiplier(row.factor).Accumulate(dst.data() + dstOffset, from, row.bytes, kernel);
            ASSERT_TRUE(dst == expected) << gf16::KernelName(kernel) << " factor " << row.factor << " bytes "
                                         << row.bytes << " at " << row.srcOffset << "/" << dstOffset;
        }
}

}  // namespace
