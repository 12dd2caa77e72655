#include "engine/zip/zip_entry_fields.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

// The stage's hostile-name test runs the common prefixes and steps end to end.
TEST(ZipStoredName, SanitisingStripsPrefixesAndParentSteps)
{
    struct Case {
        const char *stored, *sanitised;
    } cases[] = {{"a.txt", "a.txt"}, {"a/b/..\\c", "c"},    {"C:/D:\\e", "e"}, {"/C:/x", "x"}, {"a\\..\\b/../c", "c"},
                 {"a/./../x", "x"},  {"sub/", "sub/"},      {"C:", ""},        {"///", ""},    {"../x", "../x"},
                 {"a/..", "a/.."},   {"a/../../x", "../x"}, {"ab:c", "ab:c"}};
    for (const Case& c : cases)
        EXPECT_STREQ(SanitizeStoredName(c.stored), c.sanitised) << c.stored;
}

// What sanitising leaves is only written when it stays inside the destination and names no device.
TEST(ZipStoredName, ContainedNames)
{
    for (const char* name : {"a.txt", "sub/dir/file.bin", "sub\\dir\\", "./a", "a/./b", "", "a..b", "..a", "a/b../c",
                             "CONSOLE.txt", "COM0", "COM10"})
        EXPECT_TRUE(IsContainedName(name)) << '"' << name << '"';
    for (const char* name :
         {"../x",  "..\\x", "..",      "a/..",    "a\\..",           "a/../b", "...",      "a/.../b", ". .",
          ".. /x", "/x",    "\\x",     "C:x",     "file.txt:stream", "a/C:/b", "?\\C\\x",  "a*b",     "a\tb",
          "a|b",   "CON",   "con.txt", "sub/NUL", "nul .x",          "COM1",   "lpt9.log", "CONIN$",  "aux/x"})
        EXPECT_FALSE(IsContainedName(name)) << '"' << name << '"';
}

TEST(ZipAttributes, FromHostSystemAndExternalAttributes)
{
    struct Case {
        uint32_t host, external, attributes;
    } cases[] = {// On a Unix host no owner write means read-only; a mode without permission bits
                 // says nothing, and the DOS bits count.
                 {3, 0100644u << 16, 0x20}, {3, 0100444u << 16, 0x21},
                 {3, 040755u << 16, 0x30},  {3, (040555u << 16) | 0x10, 0x31},
                 {3, 0x21, 0x21},           {3, 0, 0x20},
                 {3, 0100000u << 16, 0x20}, {3, 0x10, 0x30},
                 {3, 0140755u << 16, 0x20}, {3, 060644u << 16, 0x20},  // socket, block device
                 {0, 0x10, 0x10},
                 {0, 0x27, 0x27},           {0, 0100444u << 16, 0x00},
                 {11, 0x22, 0x22},          {14, 0x04, 0x04},
                 {7, 0x01, 0x01},           {19, 0x00800000, 0x20}};
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
    for (uint32_t dos : {Dos(1980, 1, 1, 0, 0, 0), Dos(2107, 12, 31, 23, 59, 58), Dos(2024, 2, 29, 12, 0, 0),
                         Dos(2000, 2, 29, 12, 0, 0), Dos(2021, 4, 30, 12, 0, 0), Dos(2021, 1, 31, 12, 0, 0)})
        EXPECT_TRUE(IsCalendarDosDateTime(dos)) << std::hex << dos;
    for (uint32_t dos : {Dos(2100, 2, 29, 12, 0, 0), Dos(2023, 2, 29, 12, 0, 0), Dos(2021, 2, 30, 12, 0, 0),
                         Dos(2021, 4, 31, 12, 0, 0), Dos(2021, 0, 15, 12, 0, 0), Dos(2021, 13, 15, 12, 0, 0),
                         Dos(2021, 15, 15, 12, 0, 0), Dos(2021, 6, 0, 12, 0, 0), Dos(2021, 6, 15, 24, 0, 0),
                         Dos(2021, 6, 15, 12, 60, 0), Dos(2021, 6, 15, 12, 0, 60), 0u})
        EXPECT_FALSE(IsCalendarDosDateTime(dos)) << std::hex << dos;
}

// A block: tag, the size it announces, then `data` (which may be shorter or longer).
Bytes Block(const std::string& tag, size_t announced, const Bytes& data)
{
    Bytes block(tag.begin(), tag.end());
    block.push_back(static_cast<unsigned char>(announced));
    block.push_back(static_cast<unsigned char>(announced >> 8));
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

// A "UT" block announcing its true size.
Bytes Ut(unsigned char flags, const std::vector<uint32_t>& times, Bytes before = {})
{
    Bytes data = {flags};
    for (uint32_t t : times)
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<unsigned char>(t >> (8 * i)));
    const Bytes block = Block("UT", data.size(), data);
    before.insert(before.end(), block.begin(), block.end());
    return before;
}

// Each field lives in a heap buffer of exactly its size, so the sanitizers of the native build
// catch any read past its end. Expected times are -99 where the time is missing.
TEST(ZipExtendedTimes, ReadsOnlyInsideTheBlockAndTheField)
{
    struct Case {
        const char* what;
        Bytes field;
        int32_t write, access, creation;
    } cases[] = {
        {"write time 0", Ut(1, {0}), 0, -99, -99},
        {"all three", Ut(7, {10, 20, 30}), 10, 20, 30},
        {"access and creation", Ut(6, {20, 30}), -99, 20, 30},
        {"negative time", Ut(1, {0xFFFFFFFFu}), -1, -99, -99},
        {"after another block", Ut(1, {5}, Block("ux", 3, {1, 2, 3})), 5, -99, -99},
        {"first UT block wins", Ut(1, {6}, Ut(1, {5})), 5, -99, -99},
        {"flags announce three, block holds one", Block("UT", 5, {7, 10, 0, 0, 0}), 10, -99, -99},
        {"block says 13, field ends after one time", Block("UT", 13, {7, 10, 0, 0, 0}), 10, -99, -99},
        {"field ends inside the first time", Block("UT", 5, {1, 9, 9}), -99, -99, -99},
        {"no flags byte", Block("UT", 0, {7}), -99, -99, -99},
        {"header only", Block("UT", 5, {}), -99, -99, -99},
        {"other block announcing more than the field", Ut(1, {5}, Block("xx", 0xFFFF, {1})), -99, -99, -99},
        {"UT behind a block whose size points past it", Ut(1, {5}, Block("xx", 7, {})), -99, -99, -99},
        {"lower-case tag", Block("ut", 5, {1, 5, 0, 0, 0}), -99, -99, -99},
    };
    for (const Case& c : cases) {
        const Bytes field = c.field;  // a copy holds no spare capacity
        const ExtendedTimes times = ReadExtendedTimes(field.data(), field.size());
        EXPECT_EQ(times.hasWrite ? times.write : -99, c.write) << c.what;
        EXPECT_EQ(times.hasAccess ? times.access : -99, c.access) << c.what;
        EXPECT_EQ(times.hasCreation ? times.creation : -99, c.creation) << c.what;
    }
    EXPECT_FALSE(ReadExtendedTimes(nullptr, 0).hasWrite);
}

// Each kind of block in either field; FILETIME counts expected, 0 where the time is missing.
TEST(ZipEntryTimes, MostPreciseBlockOfEitherField)
{
    const uint64_t s = 10000000u, epoch = 116444736000000000u;
    const auto ntfs = [](uint16_t size, const Bytes& times, Bytes before = {}) {
        Bytes data = {0, 0, 0, 0};
        data.insert(data.end(), before.begin(), before.end());
        data.push_back(1);
        data.push_back(0);
        data.push_back(static_cast<unsigned char>(size));
        data.push_back(0);
        data.insert(data.end(), times.begin(), times.end());
        return Block(std::string("\x0A\x00", 2), data.size(), data);
    };
    const auto filetimes = [](uint8_t write, uint8_t access, uint8_t creation) {
        Bytes b(24, 0);
        b[0] = write, b[8] = access, b[16] = creation;
        return b;
    };
    const auto ux = [](const Bytes& data) { return Block("UX", data.size(), data); };
    const Bytes uxLocal = ux({5, 0, 0, 0, 6, 0, 0, 0, 0xF5, 1, 20, 0}), uxCentral = ux({5, 0, 0, 0, 6, 0, 0, 0});
    struct Case {
        const char* what;
        Bytes local, central;
        uint64_t write, access, creation;
    } cases[] = {
        {"UX: access, then write", uxLocal, {}, epoch + 6 * s, epoch + 5 * s, 0},
        {"UX in the central field", {}, uxCentral, epoch + 6 * s, epoch + 5 * s, 0},
        {"UX cut short", ux({5, 0, 0, 0}), {}, 0, 0, 0},
        {"UT over UX", Ut(1, {9}, uxLocal), {}, epoch + 9 * s, epoch + 5 * s, 0},
        {"central UT when the local field has none", {}, Ut(1, {9}), epoch + 9 * s, 0, 0},
        {"local UT whole over the central one", Ut(2, {8}), Ut(1, {9}), 0, epoch + 8 * s, 0},
        {"NTFS, all three", ntfs(24, filetimes(1, 2, 3)), {}, 1, 2, 3},
        {"NTFS write time only (7-Zip, central)", Ut(3, {8, 9}), ntfs(24, filetimes(1, 0, 0)), 1, epoch + 9 * s, 0},
        {"NTFS after another attribute", ntfs(24, filetimes(1, 2, 3), {2, 0, 1, 0, 7}), {}, 1, 2, 3},
        {"NTFS attribute cut short", ntfs(24, Bytes(23, 1)), {}, 0, 0, 0},
        {"NTFS attribute too small", ntfs(16, filetimes(1, 2, 3)), {}, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const Bytes local = c.local, central = c.central;  // copies hold no spare capacity
        const EntryTimes times = ReadEntryTimes(local.data(), local.size(), central.data(), central.size());
        EXPECT_EQ(times.hasWrite ? times.write : 0, c.write) << c.what;
        EXPECT_EQ(times.hasAccess ? times.access : 0, c.access) << c.what;
        EXPECT_EQ(times.hasCreation ? times.creation : 0, c.creation) << c.what;
    }
}

TEST(ZipFinderMetadata, OnlyTheMacosxFolder)
{
    for (const char* name : {"__MACOSX/", "__MACOSX\\x\\._a.rar", "__MACOSX/._film.zip", "__MACOSX"})
        EXPECT_TRUE(IsFinderMetadata(name)) << name;
    for (const char* name : {"._film.zip", "Disc/__MACOSX/._a", "__MACOSX2/a", "__macosx_notes.txt", ""})
        EXPECT_FALSE(IsFinderMetadata(name)) << name;
}

TEST(ZipExtendedTimes, UnixSecondsBecomeFileTimes)
{
    EXPECT_EQ(UnixSecondsToFileTime(0), 116444736000000000u);
    EXPECT_EQ(UnixSecondsToFileTime(-1), 116444735990000000u);
    EXPECT_EQ(UnixSecondsToFileTime(INT32_MIN), 94969899520000000u);  // 1901-12-13 20:45:52 UTC
    EXPECT_EQ(UnixSecondsToFileTime(INT32_MAX), 137919572470000000u);
}

}  // namespace
