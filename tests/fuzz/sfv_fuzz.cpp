// Fuzz target for the reading of SFV texts: the input is a whole text. What it lists, written
// again one entry a line, must read back the same; no name holds a line end or ends in a space;
// a checksum reads as strtoul reads it in base 16 where unsigned long has 32 bits (Windows).
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/sfv_list.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

uint32_t WindowsStrtoul(const std::string& text)
{
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 16);
    if (errno == ERANGE)
        return 0xFFFFFFFFu;
    const size_t sign = text.find_first_not_of(" \t\n\v\f\r");
    const bool negative = sign != std::string::npos && text[sign] == '-';
    const unsigned long long magnitude = negative ? 0 - value : value;
    return magnitude > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<SfvEntry> entries = ReadSfvEntries(text);

    std::string written;
    for (const SfvEntry& entry : entries) {
        check(entry.name.find_first_of("\r\n") == std::string::npos);
        check(entry.name.empty() || (entry.name[0] != ';' && entry.name.back() != ' '));
        char crc[16];
        std::snprintf(crc, sizeof crc, " %08X\r\n", entry.crc);
        written += entry.name + crc;
    }
    const std::vector<SfvEntry> again = ReadSfvEntries(written);
    check(again.size() == entries.size());
    for (size_t i = 0; i < again.size(); ++i)
        check(again[i].name == entries[i].name && again[i].crc == entries[i].crc);

    check(ParseSfvChecksum(text) == WindowsStrtoul(text));
    std::string name, checksum;
    if (SplitSfvLine(text, name, checksum))
        check(ParseSfvChecksum(checksum) == WindowsStrtoul(checksum));
    return 0;
}
