// The check of names that come out of archives and SFV files, with the inputs that its fuzz
// target found. The ZIP hostile-name table of engine_tests runs them through the ZIP reader.
#include <gtest/gtest.h>

#include "base/names.h"

TEST(Names, DevicesWhateverTheirNumberAndExtension)
{
    const struct {
        const char* name;
        bool contained;
    } rows[] = {
        {"com1 .nfo", false},   {"com0 .nfo", false},       {"LPT0", false},        {"sub\\LPT\xC2\xB9.txt", false},
        {"COM\xC2\xB2", false}, {"com\xC2\xB3.mkv", false}, {"COM10", true},        {"COM\xC2\xB9x.nfo", true},
        {"COM\xC2\xB4", true},  {"lpt.nfo", true},          {"computer.nfo", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsContainedName(row.name), row.contained) << row.name;
}

TEST(Names, WindowsNamesLoseTrailingDotsAndSpaces)
{
    const struct {
        const char *name, *windows;
    } rows[] = {
        {"notes. ", "notes"}, {"a. \\b..", "a\\b"}, {". .\\x", "\\x"}, {"..\\.", "..\\."}, {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(WindowsName(row.name), row.windows) << row.name;
}
