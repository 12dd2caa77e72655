// Joining the CRC-32s of pieces read apart: checked against the CRC-32 of the whole, at lengths
// that a 32-bit count cannot hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/crc32.h"

namespace {

uint32_t Crc(const std::string& text)
{
    return Crc32Update(0, text.data(), text.size());
}

TEST(Crc32, JoinOfEverySplitOfAText)
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += static_cast<char>(i * 7 + 3);
    EXPECT_EQ(Crc("123456789"), 0xCBF43926u);
    for (size_t split = 0; split <= text.size(); ++split)
        ASSERT_EQ(Crc32Combine(Crc(text.substr(0, split)), Crc(text.substr(split)), text.size() - split), Crc(text))
            << split;
}

// A header, then as many zeros as a member over 2 GiB or 4 GiB holds: the CRC-32 of the zeros
// alone, joined to the header's, is the CRC-32 of it all.
TEST(Crc32, JoinOverTwoAndFourGiB)
{
    const std::string header = "stored set";
    const std::vector<unsigned char> zeros(1 << 20);
    uint64_t done = 0;
    uint32_t zerosCrc = 0, wholeCrc = Crc(header);
    for (const uint64_t length : {1ull << 31, (1ull << 32) + 12345}) {
        for (size_t piece = 0; done < length; done += piece) {
            piece = static_cast<size_t>(std::min<uint64_t>(zeros.size(), length - done));
            zerosCrc = Crc32Update(zerosCrc, zeros.data(), piece);
            wholeCrc = Crc32Update(wholeCrc, zeros.data(), piece);
        }
        EXPECT_EQ(Crc32Combine(Crc(header), zerosCrc, length), wholeCrc) << length;
    }
}

}  // namespace
