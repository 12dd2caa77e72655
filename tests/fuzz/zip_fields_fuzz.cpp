// Fuzz target for what the ZIP reader takes from an entry's stored information. The input is
// the "version made by" (2 bytes) and external attributes (4 bytes) of an entry, its local
// extra field and its central one (each a 2-byte length, then the bytes), then its stored
// name; each field lies in a buffer of its own size, so that a read past one is seen.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/zip/zip_entry_fields.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
    uint32_t Number(size_t bytes)
    {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes && p_ < end_; ++i)
            value |= static_cast<uint32_t>(*p_++) << (8 * i);
        return value;
    }
    std::vector<unsigned char> Field()
    {
        const size_t length = std::min<size_t>(Number(2), static_cast<size_t>(end_ - p_));
        std::vector<unsigned char> field(p_, p_ + length);
        p_ += length;
        return field;
    }
    std::string Rest() const { return std::string(reinterpret_cast<const char*>(p_), end_ - p_); }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input(data, size);
    const uint32_t versionMadeBy = input.Number(2);
    const uint32_t external = input.Number(4);
    const std::vector<unsigned char> local = input.Field();
    const std::vector<unsigned char> central = input.Field();
    const std::string stored = input.Rest();

    check((WindowsAttributes(versionMadeBy, external) & ~0x37u) == 0);
    IsCalendarDosDateTime(external);
    IsFinderMetadata(stored);
    ReadEntryTimes(local.data(), local.size(), central.data(), central.size());

    const std::string unicode = UnicodePathField(central.data(), central.size(), stored);
    const std::string centralText(central.begin(), central.end());
    check(unicode.empty() || centralText.find(unicode) != std::string::npos);

    // The sanitized name is the end of the stored one, with no drive, root or parent step left.
    const char* name = stored.c_str();
    const char* sanitized = SanitizeStoredName(name);
    const size_t length = std::strlen(name);
    check(sanitized >= name && sanitized <= name + length);
    check(!IsSeparator(sanitized[0]) && !(sanitized[0] != '\0' && sanitized[1] == ':'));
    for (const char* step : {"\\..\\", "\\../", "/../", "/..\\"})
        check(std::strstr(sanitized, step) == nullptr);
    return 0;
}
