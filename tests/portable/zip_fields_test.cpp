// The times that a ZIP entry's extra fields hold, with the inputs that the fuzz target found.
// The writer profiles of zip_writer_tests read them from real archives through the module.
#include <gtest/gtest.h>

#include "engine/zip/zip_entry_fields.h"

TEST(ZipFields, TimesOfExtraFields)
{
    const struct {
        std::string local, central;
        const char* times;  // write, access, creation: a FILETIME count or "-"
    } rows[] = {
        // 7-Zip's NTFS block of a folder, no access time: the first input of the fuzz target.
        {std::string("\x0a\x00\x20\x00\0\0\0\0\x01\x00\x18\x00\x12\x68\x53\x8b\x32\x87\xdd\x01", 20) +
             std::string(8, '\0') + "\x12\x68\x53\x8b\x32\x87\xdd\x01",
         "", "134412215046596626 - 134412215046596626"},
        // Info-ZIP's "UT" block in the local field: write and access time; its central copy
        // holds the write time only.
        {std::string("UT\x09\x00\x03\x00\xca\x9a\x3b\x01\x00\x00\x00", 13),
         std::string("UT\x05\x00\x03\x00\xca\x9a\x3b", 9), "126444736000000000 116444736010000000 -"},
        // A "UT" block whose flags announce more than it holds, cut short by its field.
        {"", std::string("UT\x09\x00\x07\x00\xca\x9a\x3b\x01", 10), "126444736000000000 - -"},
    };
    for (const auto& row : rows) {
        const auto* local = reinterpret_cast<const unsigned char*>(row.local.data());
        const auto* central = reinterpret_cast<const unsigned char*>(row.central.data());
        const EntryTimes times = ReadEntryTimes(local, row.local.size(), central, row.central.size());
        const auto text = [](bool has, uint64_t value) { return has ? std::to_string(value) : std::string("-"); };
        EXPECT_EQ(text(times.hasWrite, times.write) + " " + text(times.hasAccess, times.access) + " " +
                      text(times.hasCreation, times.creation),
                  row.times);
    }
}
