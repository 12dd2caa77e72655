#include "engine/crc32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Noise(size_t size)
{
    std::vector<unsigned char> bytes(size);
    uint32_t state = 0x9E3779B9u;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

TEST(Crc32, KnownValues)
{
    struct Case {
        std::string data;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"123456789", 0xCBF43926u},
        {"a", 0xE8B7BE43u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(64, '\0'), 0x758D6336u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Crc32Update(0, c.data.data(), c.data.size()), c.crc) << c.data;
        EXPECT_EQ(Crc32UpdateBytewise(0, c.data.data(), c.data.size()), c.crc) << c.data;
    }
}

// The folding path handles the 16-byte blocks and leaves the tail to the table; every length
// and alignment around the block edges must give the table's answer.
TEST(Crc32, FastPathAgreesWithTableAtEveryLengthAndAlignment)
{
    const std::vector<unsigned char> data = Noise(4096 + 64);
    for (size_t offset = 0; offset < 17; ++offset)
        for (size_t length = 0; length < 1100; ++length)
            ASSERT_EQ(Crc32Update(0x5A5A5A5Au, &data[offset], length),
                      Crc32UpdateBytewise(0x5A5A5A5Au, &data[offset], length))
                << "offset " << offset << " length " << length;
}

TEST(Crc32, ChunkedUpdatesEqualOneUpdate)
{
    const std::vector<unsigned char> data = Noise(3u << 20);
    const uint32_t whole = Crc32Update(0, data.data(), data.size());
    for (size_t chunk : {size_t{1}, size_t{63}, size_t{4096}, size_t{1} << 20, size_t{1000003}}) {
        uint32_t crc = 0;
        for (size_t done = 0; done < data.size(); done += chunk)
            crc = Crc32Update(crc, &data[done], std::min(chunk, data.size() - done));
        EXPECT_EQ(crc, whole) << "chunk " << chunk;
    }
    EXPECT_EQ(whole, Crc32UpdateBytewise(0, data.data(), data.size()));
}

}  // namespace
