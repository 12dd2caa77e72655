// What an SFV text lists, line by line, as cksfv, rhash and the Windows tools write them and as
// hand edits leave them; and the inputs that its fuzz target found.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/sfv_list.h"

namespace {

// The entries as "name=CRC" separated by "|".
std::string Describe(const std::vector<SfvEntry>& entries)
{
    std::string text;
    for (const SfvEntry& entry : entries) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08X", entry.crc);
        text += (text.empty() ? "" : "|") + entry.name + "=" + crc;
    }
    return text;
}

TEST(SfvList, EntriesOfTexts)
{
    const struct {
        std::string text, entries;
    } rows[] = {
        {"; made by cksfv\r\na.rar CBF43926\r\nb.r00 0a1b2c3d\r\n", "a.rar=CBF43926|b.r00=0A1B2C3D"},
        {"a 1\nb 2\rc 3\r\n\r\nd 4", "a=00000001|b=00000002|c=00000003|d=00000004"},
        {"\n\n   \r\n;a 1\n", ""},
        {"my film.mkv  1234abcd   \n", "my film.mkv=1234ABCD"},
        {" 5\n", "=00000005"},
        {"abc\n", "abc=00000ABC"},
        {std::string("a\0b 12\n", 7), std::string("a\0b=00000012", 12)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Describe(ReadSfvEntries(row.text)), row.entries) << row.text;
}

// The checksum is read as strtoul reads base 16 on Windows, where unsigned long has 32 bits.
TEST(SfvList, ChecksumsReadAsStrtoulDoes)
{
    const struct {
        const char* text;
        uint32_t value;
    } rows[] = {
        {"CBF43926", 0xCBF43926},
        {"0xcbf43926", 0xCBF43926},
        {" \t+0X10", 0x10},
        {"-1", 0xFFFFFFFF},
        {"-0", 0},
        {"-FFFFFFFF", 1},
        {"123456789", 0xFFFFFFFF},
        {"-123456789", 0xFFFFFFFF},
        {"0x", 0},
        {"0xg", 0},
        {"12zz34", 0x12},
        {"", 0},
        {"+", 0},
        {"00000000000000000001", 1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ParseSfvChecksum(row.text), row.value) << row.text;
}

}  // namespace
