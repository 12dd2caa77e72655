#include "engine/zip/zip_entry_fields.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

TEST(ZipStoredName, SanitisingStripsPrefixesAndParentSteps)
{
    struct Case {
        const char* stored;
        const char* sanitised;
    } cases[] = {
        {"a.txt", "a.txt"},
        {"C:\\a\\b.txt", "a\\b.txt"},
        {"/x/y", "x/y"},
        {"dir/../x", "x"},
        {"a/b/..\\c", "c"},
        {"\\\\server\\share\\f", "server\\share\\f"},
        {"C:/D:\\e", "e"},
        {"/C:/x", "x"},
        {"a\\..\\b/../c", "c"},
        {"a/./../x", "x"},
        {"sub/", "sub/"},
        {"", ""},
        {"C:", ""},
        {"///", ""},
        {"../x", "../x"},
        {"a/..", "a/.."},
        {"..", ".."},
        {"a/../../x", "../x"},
        {"x:", ""},
        {"ab:c", "ab:c"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(SanitizeStoredName(c.stored), c.sanitised) << c.stored;
}

TEST(ZipStoredName, ContainedNames)
{
    struct Case {
        const char* name;
        bool contained;
    } cases[] = {
        {"a.txt", true},
        {"sub/dir/file.bin", true},
        {"sub\\dir\\", true},
        {"./a", true},
        {"a/./b", true},
        {"", true},
        {"a..b", true},
        {"..a", true},
        {"a/b../c", true},
        {"CONSOLE.txt", true},
        {"COM0", true},
        {"COM10", true},
        {"../x", false},
        {"..\\x", false},
        {"..", false},
        {"a/..", false},
        {"a\\..", false},
        {"a/../b", false},
        {"...", false},
        {"a/.../b", false},
        {". .", false},
        {".. /x", false},
        {"/x", false},
        {"\\x", false},
        {"C:x", false},
        {"a:b", false},
        {"file.txt:stream", false},
        {"a/C:/b", false},
        {"?\\C\\x", false},
        {"a*b", false},
        {"a\tb", false},
        {"a|b", false},
        {"CON", false},
        {"con.txt", false},
        {"sub/NUL", false},
        {"nul .x", false},
        {"COM1", false},
        {"lpt9.log", false},
        {"CONIN$", false},
        {"aux/x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsContainedName(c.name), c.contained) << '"' << c.name << '"';
}

TEST(ZipAttributes, FromHostSystemAndExternalAttributes)
{
    struct Case {
        uint32_t host;
        uint32_t external;
        uint32_t attributes;
    } cases[] = {
        {3, 0100644u << 16, 0x20}, {3, 0100444u << 16, 0x21},
        {3, 040755u << 16, 0x30},  {3, (040555u << 16) | 0x10, 0x31},
        {3, 0x21, 0x21},  // Unix host: the DOS bits do not count, no owner write means read-only
        {0, 0x21, 0x21},           {0, 0x10, 0x10},
        {0, 0x27, 0x27},           {0, 0100444u << 16, 0x00},
        {11, 0x22, 0x22},          {14, 0x04, 0x04},
        {7, 0x01, 0x01},           {19, 0x00800000, 0x20},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WindowsAttributes(c.host << 8 | 20, c.external), c.attributes)
            << "host " << c.host << " external " << std::hex << c.external;
}

uint32_t Dos(int year, int month, int day, int hour, int minute, int second)
{
    return static_cast<uint32_t>(((year - 1980) << 9 | month << 5 | day) << 16 | hour << 11 | minute << 5 | second / 2);
}

TEST(ZipDosTime, CalendarDatesAndTimes)
{
    struct Case {
        uint32_t dos;
        bool valid;
    } cases[] = {
        {Dos(1980, 1, 1, 0, 0, 0), true},     {Dos(2107, 12, 31, 23, 59, 58), true},
        {Dos(2024, 2, 29, 12, 0, 0), true},   {Dos(2000, 2, 29, 12, 0, 0), true},
        {Dos(2021, 4, 30, 12, 0, 0), true},   {Dos(2021, 1, 31, 12, 0, 0), true},
        {Dos(2100, 2, 29, 12, 0, 0), false},  {Dos(2023, 2, 29, 12, 0, 0), false},
        {Dos(2021, 2, 30, 12, 0, 0), false},  {Dos(2021, 4, 31, 12, 0, 0), false},
        {Dos(2021, 0, 15, 12, 0, 0), false},  {Dos(2021, 13, 15, 12, 0, 0), false},
        {Dos(2021, 15, 15, 12, 0, 0), false}, {Dos(2021, 6, 0, 12, 0, 0), false},
        {Dos(2021, 6, 15, 24, 0, 0), false},  {Dos(2021, 6, 15, 31, 0, 0), false},
        {Dos(2021, 6, 15, 12, 60, 0), false}, {Dos(2021, 6, 15, 12, 0, 60), false},
        {Dos(2021, 6, 15, 12, 0, 62), false}, {0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsCalendarDosDateTime(c.dos), c.valid) << std::hex << c.dos;
}

Bytes Block(const std::string& tag, const Bytes& data, size_t announced)
{
    Bytes block(tag.begin(), tag.end());
    block.push_back(static_cast<unsigned char>(announced));
    block.push_back(static_cast<unsigned char>(announced >> 8));
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

Bytes Times(unsigned char flags, const std::vector<uint32_t>& times)
{
    Bytes data = {flags};
    for (uint32_t t : times)
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<unsigned char>(t >> (8 * i)));
    return data;
}

Bytes Join(const Bytes& a, const Bytes& b)
{
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

// Each field lives in a heap buffer of exactly its size, so the sanitizers of the native build
// catch any read past its end.
TEST(ZipExtendedTimes, ReadsOnlyInsideTheBlockAndTheField)
{
    struct Case {
        const char* what;
        Bytes field;
        bool write, access, creation;
        int32_t writeTime, accessTime, creationTime;
    } cases[] = {
        {"write time 0", Block("UT", Times(1, {0}), 5), true, false, false, 0, 0, 0},
        {"all three", Block("UT", Times(7, {10, 20, 30}), 13), true, true, true, 10, 20, 30},
        {"access and creation", Block("UT", Times(6, {20, 30}), 9), false, true, true, 0, 20, 30},
        {"negative time", Block("UT", Times(1, {0xFFFFFFFFu}), 5), true, false, false, -1, 0, 0},
        {"after another block", Join(Block("ux", {1, 2, 3}, 3), Block("UT", Times(1, {5}), 5)), true, false, false, 5,
         0, 0},
        {"first UT block wins", Join(Block("UT", Times(1, {5}), 5), Block("UT", Times(1, {6}), 5)), true, false, false,
         5, 0, 0},
        {"flags announce three, block holds one", Block("UT", Times(7, {10}), 5), true, false, false, 10, 0, 0},
        {"block says 13, field ends after one time", Block("UT", Times(7, {10}), 13), true, false, false, 10, 0, 0},
        {"field ends inside the first time", Block("UT", {1, 9, 9}, 5), false, false, false, 0, 0, 0},
        {"no flags byte", Join(Block("UT", {}, 0), Bytes{7}), false, false, false, 0, 0, 0},
        {"flags byte only", Block("UT", {7}, 1), false, false, false, 0, 0, 0},
        {"header only", Bytes{'U', 'T', 5, 0}, false, false, false, 0, 0, 0},
        {"empty", Bytes{}, false, false, false, 0, 0, 0},
        {"other block announcing more than the field", Join(Block("xx", {1}, 0xFFFF), Block("UT", Times(1, {5}), 5)),
         false, false, false, 0, 0, 0},
        {"UT behind a block whose size points past it", Join(Block("xx", {}, 7), Block("UT", Times(1, {5}), 5)), false,
         false, false, 0, 0, 0},
        {"lower-case tag", Block("ut", Times(1, {5}), 5), false, false, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const ExtendedTimes times = ReadExtendedTimes(c.field.data(), c.field.size());
        EXPECT_EQ(times.hasWrite, c.write) << c.what;
        EXPECT_EQ(times.hasAccess, c.access) << c.what;
        EXPECT_EQ(times.hasCreation, c.creation) << c.what;
        EXPECT_EQ(times.write, c.writeTime) << c.what;
        EXPECT_EQ(times.access, c.accessTime) << c.what;
        EXPECT_EQ(times.creation, c.creationTime) << c.what;
    }
}

TEST(ZipExtendedTimes, UnixSecondsBecomeFileTimes)
{
    EXPECT_EQ(UnixSecondsToFileTime(0), 116444736000000000u);
    EXPECT_EQ(UnixSecondsToFileTime(1), 116444736010000000u);
    EXPECT_EQ(UnixSecondsToFileTime(-1), 116444735990000000u);
    EXPECT_EQ(UnixSecondsToFileTime(INT32_MIN), 94969899520000000u);  // 1901-12-13 20:45:52 UTC
    EXPECT_EQ(UnixSecondsToFileTime(INT32_MAX), 137919572470000000u);
}

}  // namespace
