#include "engine/zip/zip_reader.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "tests/support/test_files.h"
#include "tests/support/zip_test_support.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;

// An archive written into a fresh directory and opened, with out\ as the base directory.
class ZipReaderTest : public ::testing::Test {
protected:
    ReaderHandle Open(const std::vector<ZipEntry>& entries, const ZipArchiveOptions& options = ZipArchiveOptions())
    {
        WriteFileBytes(archive(), BuildZip(entries, options));
        ReaderHandle reader(openReader(archive()));
        if (reader) {
            EXPECT_EQ(setBaseDirectory(reader.get(), out()), ZipStatus::Ok);
        }
        return reader;
    }

    std::string archive() const { return dir_ / "x.zip"; }
    std::string out() const { return dir_ / "out\\"; }

    TempDir dir_;
};

TEST_F(ZipReaderTest, SummaryCountsTheEntriesAndHoldsNothingElse)
{
    ReaderHandle reader = Open({FileEntry("a.txt", "a"), DirectoryEntry("d/"), FileEntry("d/b.txt", "bb")});
    ASSERT_TRUE(reader);
    ZipItem item;
    item.attributes = 7;
    item.compressedSize = 9;
    item.writeTime.dwLowDateTime = 1;
    std::strcpy(item.name, "stale");
    ASSERT_EQ(getItem(reader.get(), -1, item), ZipStatus::Ok);
    EXPECT_EQ(item.index, 3);
    EXPECT_STREQ(item.name, "");
    EXPECT_EQ(item.attributes, 0u);
    EXPECT_EQ(item.compressedSize, 0u);
    EXPECT_EQ(item.uncompressedSize, 0u);
    EXPECT_EQ(FileTimeValue(item.writeTime) | FileTimeValue(item.accessTime) | FileTimeValue(item.creationTime), 0u);
}

TEST_F(ZipReaderTest, ItemsCarryTheirIndexSizesAndSanitisedNames)
{
    struct Case {
        std::string stored;
        const char* name;
    } cases[] = {
        {"C:\\a\\b.txt", "a\\b.txt"},
        {"/x/y", "x/y"},
        {"dir/../x", "x"},
        {"a/b/..\\c", "c"},
        {"\\\\server\\share\\f", "server\\share\\f"},
        {"/C:/z", "z"},
        {"plain/name.txt", "plain/name.txt"},
        {std::string("cut\0/../../x", 12), "cut"},
    };
    std::vector<ZipEntry> entries;
    for (const Case& c : cases)
        entries.push_back(FileEntry(c.stored, "12345", 0));
    ReaderHandle reader = Open(entries);
    ASSERT_TRUE(reader);
    for (int32_t i = 0; i < static_cast<int32_t>(entries.size()); ++i) {
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), i, item), ZipStatus::Ok) << cases[i].stored;
        EXPECT_EQ(item.index, i);
        EXPECT_STREQ(item.name, cases[i].name);
        EXPECT_EQ(item.compressedSize, 5u);
        EXPECT_EQ(item.uncompressedSize, 5u);
    }
}

// Names that still point outside the base directory after sanitising are refused by both
// operations, and nothing at all is created for them.
TEST_F(ZipReaderTest, NamesThatStillEscapeAreRefused)
{
    // One of each kind; the stage's test builds a longer table into archives.
    const std::string hostile[] = {"a/../../x", "a\\..", "C:../x", "f.txt:ads", ". ./x", "sub/nul.txt", "tab\there"};
    std::vector<ZipEntry> entries;
    for (const std::string& name : hostile)
        entries.push_back(FileEntry(name, "bad"));
    entries.push_back(DirectoryEntry("../up/"));
    entries.push_back(FileEntry("fine.txt", "ok"));
    ReaderHandle reader = Open(entries);
    ASSERT_TRUE(reader);
    const int32_t last = static_cast<int32_t>(entries.size()) - 1;
    for (int32_t i = 0; i < last; ++i) {
        ZipItem item;
        item.index = 5;
        EXPECT_EQ(getItem(reader.get(), i, item), ZipStatus::UnsafeName) << entries[i].name;
        EXPECT_EQ(item.index, 0);
        EXPECT_STREQ(item.name, "");
        EXPECT_EQ(extractItem(reader.get(), i, "harmless.txt"), ZipStatus::UnsafeName) << entries[i].name;
    }
    ZipItem item;
    ASSERT_EQ(getItem(reader.get(), last, item), ZipStatus::Ok);
    // A caller-chosen target name is held to the same rule.
    for (const char* target : {"../fine.txt", "C:\\fine.txt", "\\fine.txt", "a/../../fine.txt", "fine.txt:ads"})
        EXPECT_EQ(extractItem(reader.get(), last, target), ZipStatus::UnsafeName) << target;
    EXPECT_TRUE(ListTree(dir_.path()) == Names{"x.zip"});
    EXPECT_EQ(extractItem(reader.get(), last, item.name), ZipStatus::Ok);
    EXPECT_EQ(ListTree(dir_.path()), (Names{"out\\", "out\\fine.txt", "x.zip"}));
}

TEST_F(ZipReaderTest, AttributesComeFromTheHostSystemAndReachTheFile)
{
    struct Case {
        uint8_t host;
        uint32_t external;
        uint32_t attributes;
    } cases[] = {
        {3, 0100644u << 16, 0x20}, {3, 0100444u << 16, 0x21}, {0, 0x21, 0x21}, {0, 0x20, 0x20},
        {0, 0x22, 0x22},           {0, 0x24, 0x24},           {0, 0x00, 0x00}, {11, 0x23, 0x23},
    };
    std::vector<ZipEntry> entries;
    for (const Case& c : cases) {
        ZipEntry entry = FileEntry("f" + std::to_string(entries.size()), "content");
        entry.hostSystem = c.host;
        entry.externalAttributes = c.external;
        entries.push_back(entry);
    }
    ZipEntry unixDirectory = DirectoryEntry("unixdir/");
    unixDirectory.hostSystem = 3;
    unixDirectory.externalAttributes = 040755u << 16;
    entries.push_back(unixDirectory);
    ReaderHandle reader = Open(entries);
    ASSERT_TRUE(reader);
    for (size_t i = 0; i < std::size(cases); ++i) {
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), static_cast<int32_t>(i), item), ZipStatus::Ok);
        EXPECT_EQ(item.attributes, cases[i].attributes) << i;
        ASSERT_EQ(extractItem(reader.get(), static_cast<int32_t>(i), item.name), ZipStatus::Ok);
        const DWORD kApplied = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        EXPECT_EQ(GetFileAttributesA((out() + item.name).c_str()) & kApplied, cases[i].attributes & kApplied) << i;
        EXPECT_EQ(ReadFileBytes(out() + item.name), "content");
    }
    ZipItem item;
    ASSERT_EQ(getItem(reader.get(), static_cast<int32_t>(std::size(cases)), item), ZipStatus::Ok);
    EXPECT_EQ(item.attributes, 0x30u);
}

// The DOS date and time are local time; ctest runs these tests at UTC+9 (TZ=JST-9).
class ZipTimesTest : public ZipReaderTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TimeZoneBiasMinutes(), kTestZoneBiasMinutes) << "run with TZ=JST-9, as ctest does";
    }

    ZipItem ItemOf(const ZipEntry& entry)
    {
        ZipItem item;
        ReaderHandle reader = Open({entry});
        EXPECT_TRUE(reader);
        EXPECT_EQ(getItem(reader.get(), 0, item), ZipStatus::Ok);
        return item;
    }
};

TEST_F(ZipTimesTest, DosTimeIsTakenAsLocalTimeForAllThreeTimes)
{
    ZipEntry entry = FileEntry("t.txt", "time");
    entry.dosDateTime = DosDateTime(2021, 6, 15, 12, 30, 10);
    ReaderHandle reader = Open({entry});
    ASSERT_TRUE(reader);
    ZipItem item;
    ASSERT_EQ(getItem(reader.get(), 0, item), ZipStatus::Ok);
    const uint64_t expected = UtcFileTime(2021, 6, 15, 3, 30, 10);
    EXPECT_EQ(FileTimeValue(item.writeTime), expected);
    EXPECT_EQ(FileTimeValue(item.accessTime), expected);
    EXPECT_EQ(FileTimeValue(item.creationTime), expected);
    ASSERT_EQ(extractItem(reader.get(), 0, item.name), ZipStatus::Ok);
    const FileTimes onDisk = TimesOfFile(out() + "t.txt");
    EXPECT_EQ(onDisk.write, expected);
    EXPECT_EQ(onDisk.access, expected);
}

TEST_F(ZipTimesTest, CalendarEdgesOfTheDosRange)
{
    struct Case {
        uint32_t dos;
        uint64_t utc;
    } cases[] = {
        {DosDateTime(1980, 1, 1, 9, 0, 0), UtcFileTime(1980, 1, 1, 0, 0, 0)},
        {DosDateTime(2024, 2, 29, 23, 59, 58), UtcFileTime(2024, 2, 29, 14, 59, 58)},
        {DosDateTime(2107, 12, 31, 23, 59, 58), UtcFileTime(2107, 12, 31, 14, 59, 58)},
    };
    for (const Case& c : cases) {
        ZipEntry entry = FileEntry("t", "");
        entry.dosDateTime = c.dos;
        EXPECT_EQ(FileTimeValue(ItemOf(entry).writeTime), c.utc) << std::hex << c.dos;
    }
}

// A DOS date that is no calendar date becomes the earliest DOS time, 1980-01-01 00:00:00
// local time.
TEST_F(ZipTimesTest, InvalidDosDatesGiveTheDosEpoch)
{
    const uint64_t dosEpoch = UtcFileTime(1979, 12, 31, 15, 0, 0);
    const uint32_t invalid[] = {
        DosDateTime(2021, 0, 15, 12, 0, 0),
        DosDateTime(2021, 13, 15, 12, 0, 0),
        DosDateTime(2021, 6, 0, 12, 0, 0),
        DosDateTime(2021, 2, 30, 12, 0, 0),
        DosDateTime(2023, 2, 29, 12, 0, 0),
        DosDateTime(2021, 4, 31, 12, 0, 0),
        DosDateTime(2021, 6, 15, 24, 0, 0),
        DosDateTime(2021, 6, 15, 31, 0, 0),
        DosDateTime(2021, 6, 15, 12, 60, 0),
        DosDateTime(2021, 6, 15, 12, 63, 0),
        DosDateTime(2021, 6, 15, 12, 0, 60),
        DosDateTime(2021, 6, 15, 12, 0, 62),
        0u,
    };
    for (uint32_t dos : invalid) {
        ZipEntry entry = FileEntry("t", "");
        entry.dosDateTime = dos;
        const ZipItem item = ItemOf(entry);
        EXPECT_EQ(FileTimeValue(item.writeTime), dosEpoch) << std::hex << dos;
        EXPECT_EQ(FileTimeValue(item.creationTime), dosEpoch) << std::hex << dos;
    }
}

TEST_F(ZipTimesTest, UtBlockReplacesTheTimesItHolds)
{
    const uint64_t dosTime = UtcFileTime(2021, 6, 15, 3, 30, 10);
    const uint64_t unixEpoch = 116444736000000000u;
    struct Case {
        const char* what;
        std::string localExtra;
        std::string centralExtra;
        uint64_t write, access, creation;
    } cases[] = {
        {"write time 0", UtBlock(0x01, {0}), "", unixEpoch, dosTime, dosTime},
        {"all three", UtBlock(0x07, {1, 2, 3}), "", unixEpoch + 10000000, unixEpoch + 20000000, unixEpoch + 30000000},
        {"after another block", ExtraBlock("ux", "abcd") + UtBlock(0x02, {60}), "", dosTime, unixEpoch + 600000000,
         dosTime},
        {"announces three, holds one", ExtraBlock("UT", std::string(1, 7) + LittleEndian(5, 4)), "",
         unixEpoch + 50000000, dosTime, dosTime},
        {"only in the central directory", "", UtBlock(0x01, {0}), dosTime, dosTime, dosTime},
    };
    for (const Case& c : cases) {
        ZipEntry entry = FileEntry("t.txt", "time");
        entry.localExtra = c.localExtra;
        entry.centralExtra = c.centralExtra;
        const ZipItem item = ItemOf(entry);
        EXPECT_EQ(FileTimeValue(item.writeTime), c.write) << c.what;
        EXPECT_EQ(FileTimeValue(item.accessTime), c.access) << c.what;
        EXPECT_EQ(FileTimeValue(item.creationTime), c.creation) << c.what;
    }

    ZipEntry entry = FileEntry("t.txt", "time");
    entry.localExtra = UtBlock(0x03, {1600000000, 1500000000});
    ReaderHandle reader = Open({entry});
    ASSERT_TRUE(reader);
    ASSERT_EQ(extractItem(reader.get(), 0, "t.txt"), ZipStatus::Ok);
    const FileTimes onDisk = TimesOfFile(out() + "t.txt");
    EXPECT_EQ(onDisk.write, unixEpoch + 16000000000000000u);
    EXPECT_EQ(onDisk.access, unixEpoch + 15000000000000000u);
}

TEST_F(ZipReaderTest, DirectoryEntriesCreateTheirParentsAndNoFile)
{
    ReaderHandle reader = Open({DirectoryEntry("a/b/"), FileEntry("x/y/z.txt", "deep"), DirectoryEntry("c\\d\\")});
    ASSERT_TRUE(reader);
    bool intact = false;
    EXPECT_EQ(extractItem(reader.get(), 0, "a/b/", &intact), ZipStatus::Ok);
    EXPECT_TRUE(intact);
    EXPECT_EQ(extractItem(reader.get(), 1, "x/y/z.txt"), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 2, "c\\d\\"), ZipStatus::Ok);
    EXPECT_EQ(ListTree(out()), (Names{"a\\", "a\\b\\", "c\\", "c\\d\\", "x\\", "x\\y\\", "x\\y\\z.txt"}));
    EXPECT_EQ(ReadFileBytes(out() + "x\\y\\z.txt"), "deep");
}

TEST_F(ZipReaderTest, EnsureDirectoryCreatesTheRootAndEveryLevel)
{
    const std::string root = dir_ / "root\\";
    EXPECT_EQ(ensureDirectory(root, ""), ZipStatus::Ok);
    EXPECT_TRUE(DirectoryExists(root));
    EXPECT_EQ(ensureDirectory(root, "p/q\\r/"), ZipStatus::Ok);
    EXPECT_TRUE(DirectoryExists(root + "p\\q\\r"));
    EXPECT_EQ(ensureDirectory(root, "p/q\\r/"), ZipStatus::Ok);
    EXPECT_EQ(ensureDirectory(root, std::string(260 - root.size(), 'n')), ZipStatus::NameTooLong);
    EXPECT_EQ(ListTree(root), (Names{"p\\", "p\\q\\", "p\\q\\r\\"}));
}

TEST_F(ZipReaderTest, ExistingFilesAreReplacedButNeverReadOnlyOnesOrDirectories)
{
    ReaderHandle reader = Open({FileEntry("f.txt", "new"), FileEntry("ro.txt", "new"), FileEntry("dir", "new")});
    ASSERT_TRUE(reader);
    MakeDirectories(out() + "dir");
    WriteFileBytes(out() + "f.txt", "old content");
    WriteFileBytes(out() + "ro.txt", "old");
    SetFileAttributesA((out() + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(extractItem(reader.get(), 0, "f.txt"), ZipStatus::Ok);
    EXPECT_EQ(ReadFileBytes(out() + "f.txt"), "new");
    EXPECT_EQ(extractItem(reader.get(), 1, "ro.txt"), ZipStatus::CannotOpen);
    EXPECT_EQ(ReadFileBytes(out() + "ro.txt"), "old");
    EXPECT_EQ(extractItem(reader.get(), 2, "dir"), ZipStatus::CannotOpen);
    EXPECT_TRUE(DirectoryExists(out() + "dir"));
}

TEST(ZipNullReader, EveryOperationAnswersBadArgument)
{
    ZipItem item;
    item.index = 4;
    std::strcpy(item.name, "stale");
    item.uncompressedSize = 3;
    EXPECT_EQ(getItem(nullptr, -1, item), ZipStatus::BadArgument);
    EXPECT_EQ(item.index, 0);
    EXPECT_STREQ(item.name, "");
    EXPECT_EQ(item.uncompressedSize, 0u);
    EXPECT_EQ(getItem(nullptr, 0, item), ZipStatus::BadArgument);
    EXPECT_EQ(setBaseDirectory(nullptr, "C:\\out\\"), ZipStatus::BadArgument);
    EXPECT_EQ(extractItem(nullptr, 0, "a.txt"), ZipStatus::BadArgument);
    EXPECT_EQ(closeReader(nullptr), ZipStatus::BadArgument);
}

TEST_F(ZipReaderTest, IndexesOutsideTheArchiveAreBadArguments)
{
    ReaderHandle reader = Open({FileEntry("a", "1"), FileEntry("b", "2")});
    ASSERT_TRUE(reader);
    ZipItem item;
    for (int32_t index : {-2, 2, 1000, INT32_MIN})
        EXPECT_EQ(getItem(reader.get(), index, item), ZipStatus::BadArgument) << index;
    for (int32_t index : {-1, 2})
        EXPECT_EQ(extractItem(reader.get(), index, "a"), ZipStatus::BadArgument) << index;
    EXPECT_TRUE(ListTree(dir_.path()) == Names{"x.zip"});
}

TEST_F(ZipReaderTest, CursorMovesBackwardsAndForwards)
{
    std::vector<ZipEntry> entries;
    for (char c = 'a'; c <= 'e'; ++c)
        entries.push_back(FileEntry(std::string(1, c) + ".txt", std::string(10, c)));
    ReaderHandle reader = Open(entries);
    ASSERT_TRUE(reader);
    for (int32_t index : {4, 0, 3, 3, 1, 2, 0, 4}) {
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), index, item), ZipStatus::Ok);
        EXPECT_EQ(item.name, entries[index].name);
        const std::string target = "copy" + std::to_string(index);
        ASSERT_EQ(extractItem(reader.get(), index, target), ZipStatus::Ok);
        EXPECT_EQ(ReadFileBytes(out() + target), entries[index].data);
    }
}

// A failed item record moves the cursor but not the cached record of the entry before it.
TEST_F(ZipReaderTest, CachedRecordIsExtractedFromItsOwnEntry)
{
    ReaderHandle reader = Open({FileEntry("first.txt", "first"), FileEntry(std::string(300, 's'), "second")});
    ASSERT_TRUE(reader);
    ZipItem item;
    ASSERT_EQ(getItem(reader.get(), 0, item), ZipStatus::Ok);
    ASSERT_EQ(getItem(reader.get(), 1, item), ZipStatus::NameTooLong);
    bool intact = false;
    EXPECT_EQ(extractItem(reader.get(), 0, "first.txt", &intact), ZipStatus::Ok);
    EXPECT_TRUE(intact);
    EXPECT_EQ(ReadFileBytes(out() + "first.txt"), "first");
}

TEST_F(ZipReaderTest, StoredAndDeflatedDataOverManyBlocks)
{
    const std::string pattern = PatternBytes(100000, 3);
    const std::string text(70000, 'z');
    ReaderHandle reader =
        Open({FileEntry("p.stored", pattern, 0), FileEntry("p.deflated", pattern, 8), FileEntry("t.deflated", text, 8),
              FileEntry("empty.stored", "", 0), FileEntry("empty.deflated", "", 8), FileEntry("one", "1", 8)});
    ASSERT_TRUE(reader);
    const std::string expected[] = {pattern, pattern, text, "", "", "1"};
    for (int32_t i = 0; i < 6; ++i) {
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), i, item), ZipStatus::Ok);
        bool intact = false;
        ASSERT_EQ(extractItem(reader.get(), i, item.name, &intact), ZipStatus::Ok) << item.name;
        EXPECT_TRUE(intact) << item.name;
        EXPECT_TRUE(ReadFileBytes(out() + item.name) == expected[i]) << item.name;
    }
}

// Damaged entries: nothing is written for an entry whose record cannot be read, and the
// entries after it are unaffected.
TEST_F(ZipReaderTest, CorruptEntriesWriteNothing)
{
    struct Case {
        const char* what;
        ZipEntry entry;
        ZipStatus status;
    } cases[] = {
        {"local signature", FileEntry("e", "data"), ZipStatus::CorruptEntry},
        {"local method", FileEntry("e", "data"), ZipStatus::CorruptEntry},
        {"local CRC", FileEntry("e", "data"), ZipStatus::CorruptEntry},
        {"local compressed size", FileEntry("e", "data"), ZipStatus::CorruptEntry},
        {"local name length", FileEntry("e", "data"), ZipStatus::CorruptEntry},
        {"local extra field past the end", FileEntry("e", "data"), ZipStatus::ReadFailed},
        {"bzip2", FileEntry("e", "BZh91AY&SY", 12), ZipStatus::CorruptEntry},
        {"implode", FileEntry("e", "data", 6), ZipStatus::CorruptEntry},
        {"LZMA", FileEntry("e", "data", 14), ZipStatus::CorruptEntry},
        {"AES", FileEntry("e", "data", 99), ZipStatus::CorruptEntry},
    };
    const LocalFault faults[] = {LocalFault::Signature,      LocalFault::Method,     LocalFault::Crc,
                                 LocalFault::CompressedSize, LocalFault::NameLength, LocalFault::ExtraLength};
    for (size_t i = 0; i < std::size(faults); ++i)
        cases[i].entry.localFault = faults[i];
    for (const Case& c : cases) {
        ReaderHandle reader = Open({c.entry, FileEntry("after", "fine")});
        ASSERT_TRUE(reader) << c.what;
        ZipItem item;
        EXPECT_EQ(getItem(reader.get(), 0, item), c.status) << c.what;
        EXPECT_STREQ(item.name, "");
        bool intact = true;
        EXPECT_EQ(extractItem(reader.get(), 0, "e", &intact), c.status) << c.what;
        EXPECT_FALSE(intact);
        EXPECT_EQ(extractItem(reader.get(), 1, "after"), ZipStatus::Ok) << c.what;
        EXPECT_EQ(ListTree(out()), Names{"after"}) << c.what;
        reader.reset();
        RemoveTree(out());
    }
}

// The local header of an empty stored entry with an empty name holds nothing but zeros after
// its signature. Here only the signature is there, at the very end of the file: the rest of the
// header must not read as zeros.
TEST_F(ZipReaderTest, LocalHeaderCutOffByTheEndOfTheFileIsCorrupt)
{
    const std::string central = std::string("PK\x01\x02", 4) + LittleEndian(20, 2) + LittleEndian(20, 2) +
                                std::string(30, '\0') + LittleEndian(0x20, 4) + LittleEndian(46 + 22, 4);
    const std::string end = std::string("PK\x05\x06", 4) + LittleEndian(0, 4) + LittleEndian(1, 2) +
                            LittleEndian(1, 2) + LittleEndian(central.size(), 4) + LittleEndian(0, 4) +
                            LittleEndian(4, 2);
    WriteFileBytes(archive(), central + end + "PK\x03\x04");
    ReaderHandle reader(openReader(archive()));
    ASSERT_TRUE(reader);
    ZipItem item;
    EXPECT_EQ(getItem(reader.get(), 0, item), ZipStatus::CorruptEntry);
}

TEST_F(ZipReaderTest, DataDescriptorEntriesAreNotCorrupt)
{
    ZipEntry deflated = FileEntry("d.txt", PatternBytes(5000, 1));
    deflated.dataDescriptor = true;
    ZipEntry stored = FileEntry("s.txt", "stored with descriptor", 0);
    stored.dataDescriptor = true;
    ReaderHandle reader = Open({deflated, stored});
    ASSERT_TRUE(reader);
    EXPECT_EQ(extractItem(reader.get(), 0, "d.txt"), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 1, "s.txt"), ZipStatus::Ok);
    EXPECT_EQ(ReadFileBytes(out() + "d.txt"), deflated.data);
    EXPECT_EQ(ReadFileBytes(out() + "s.txt"), stored.data);
}

TEST_F(ZipReaderTest, EncryptedEntriesOpenWithTheEmptyPassword)
{
    struct Case {
        const char* what;
        uint16_t method;
        bool descriptor;
        std::string password;
        ZipStatus status;
    } cases[] = {
        {"stored", 0, false, "", ZipStatus::Ok},
        {"deflated", 8, false, "", ZipStatus::Ok},
        {"deflated, check byte from the DOS time", 8, true, "", ZipStatus::Ok},
        {"stored, check byte from the DOS time", 0, true, "", ZipStatus::Ok},
        {"other password", 8, false, "secret", ZipStatus::BadPassword},
        {"other password, DOS time check", 0, true, "secret", ZipStatus::BadPassword},
    };
    const std::string content = PatternBytes(40000, 9) + std::string(30000, 'q');
    for (const Case& c : cases) {
        ZipEntry entry = FileEntry("secret.bin", content, c.method);
        entry.encrypted = true;
        entry.password = c.password;
        entry.dataDescriptor = c.descriptor;
        ReaderHandle reader = Open({entry});
        ASSERT_TRUE(reader) << c.what;
        bool intact = false;
        EXPECT_EQ(extractItem(reader.get(), 0, "secret.bin", &intact), c.status) << c.what;
        EXPECT_EQ(intact, c.status == ZipStatus::Ok) << c.what;
        const std::string written = ReadFileBytes(out() + "secret.bin");
        EXPECT_TRUE(written == (c.status == ZipStatus::Ok ? content : "")) << c.what;
    }
}

// A CRC mismatch keeps the file and its Ok, and shows only through dataIntact.
TEST_F(ZipReaderTest, WrongCrcKeepsTheFileButIsNotIntact)
{
    for (uint16_t method : {0, 8}) {
        ZipEntry entry = FileEntry("w.txt", "checked data", method);
        entry.wrongCrc = true;
        ReaderHandle reader = Open({entry});
        ASSERT_TRUE(reader);
        bool intact = true;
        EXPECT_EQ(extractItem(reader.get(), 0, "w.txt", &intact), ZipStatus::Ok);
        EXPECT_FALSE(intact);
        EXPECT_EQ(ReadFileBytes(out() + "w.txt"), "checked data");
    }
}

TEST_F(ZipReaderTest, DataEndingEarlyFailsAndLeavesThePartialFile)
{
    const std::string content = PatternBytes(50000, 4);
    for (uint16_t method : {0, 8}) {
        ZipEntry cut = FileEntry("cut.bin", content, method);
        cut.cutData = 100;
        ReaderHandle reader = Open({cut, FileEntry("next", "n")});
        ASSERT_TRUE(reader);
        bool intact = true;
        EXPECT_EQ(extractItem(reader.get(), 0, "cut.bin", &intact), ZipStatus::InflateFailed) << method;
        EXPECT_FALSE(intact);
        const std::string partial = ReadFileBytes(out() + "cut.bin");
        EXPECT_LT(partial.size(), content.size());
        EXPECT_TRUE(partial == content.substr(0, partial.size()));
        EXPECT_EQ(extractItem(reader.get(), 1, "next"), ZipStatus::Ok);
    }
    // A stored entry relabelled as deflated in both headers: its data is no DEFLATE stream.
    std::string relabelled = BuildZip({FileEntry("garbage", "xyz", 0)});
    const size_t kLocalMethod = 8, kCentralMethod = 10;
    relabelled[kLocalMethod] = 8;
    relabelled[relabelled.find("PK\x01\x02") + kCentralMethod] = 8;
    WriteFileBytes(archive(), relabelled);
    ReaderHandle reader(openReader(archive()));
    ASSERT_TRUE(reader);
    ASSERT_EQ(setBaseDirectory(reader.get(), out()), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 0, "garbage"), ZipStatus::InflateFailed);
}

TEST_F(ZipReaderTest, LongNamesAreRefusedAndTheNextEntryStillWorks)
{
    const size_t room = MAX_PATH - 1 - out().size();  // the longest name that still fits
    const std::string fits = std::string(room - 4, 'f') + ".txt";
    const std::string oneMore = std::string(room - 3, 'g') + ".txt";
    ReaderHandle reader = Open({FileEntry(std::string(260, 'a'), "x"), FileEntry(std::string(300, 'b'), "x"),
                                FileEntry(std::string(259, 'c'), "x"), FileEntry(fits, "fits"), FileEntry(oneMore, "x"),
                                DirectoryEntry(oneMore + "/"), FileEntry("last", "l")});
    ASSERT_TRUE(reader);
    ZipItem item;
    EXPECT_EQ(getItem(reader.get(), 0, item), ZipStatus::NameTooLong);
    EXPECT_STREQ(item.name, "");
    EXPECT_EQ(extractItem(reader.get(), 0, "short"), ZipStatus::NameTooLong);
    EXPECT_EQ(getItem(reader.get(), 1, item), ZipStatus::NameTooLong);
    ASSERT_EQ(getItem(reader.get(), 2, item), ZipStatus::Ok);
    EXPECT_EQ(std::string(item.name), std::string(259, 'c'));
    EXPECT_EQ(extractItem(reader.get(), 2, item.name), ZipStatus::NameTooLong);
    EXPECT_EQ(extractItem(reader.get(), 3, fits), ZipStatus::Ok);
    EXPECT_EQ(ReadFileBytes(out() + fits), "fits");
    EXPECT_EQ(extractItem(reader.get(), 4, oneMore), ZipStatus::NameTooLong);
    EXPECT_EQ(extractItem(reader.get(), 5, oneMore + "/"), ZipStatus::NameTooLong);
    EXPECT_EQ(extractItem(reader.get(), 6, "last"), ZipStatus::Ok);
    EXPECT_EQ(ListTree(out()), (Names{fits, "last"}));
}

TEST_F(ZipReaderTest, BaseDirectoryGetsItsSeparatorAndMustFit)
{
    ReaderHandle reader = Open({FileEntry("a.txt", "a")});
    ASSERT_TRUE(reader);
    EXPECT_EQ(setBaseDirectory(reader.get(), dir_ / "one"), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 0, "a.txt"), ZipStatus::Ok);
    EXPECT_EQ(setBaseDirectory(reader.get(), dir_ / "two/"), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 0, "a.txt"), ZipStatus::Ok);
    EXPECT_EQ(setBaseDirectory(reader.get(), ""), ZipStatus::BadArgument);
    EXPECT_EQ(setBaseDirectory(reader.get(), dir_ / std::string(260, 'l')), ZipStatus::NameTooLong);
    EXPECT_EQ(extractItem(reader.get(), 0, "a.txt"), ZipStatus::NameTooLong);
    EXPECT_EQ(ListTree(dir_.path()), (Names{"one\\", "one\\a.txt", "two\\", "two\\a.txt", "x.zip"}));
}

TEST_F(ZipReaderTest, BaseDirectoryStartsAsTheCurrentDirectory)
{
    WriteFileBytes(archive(), BuildZip({FileEntry("here.txt", "h")}));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.path().c_str()));
    ReaderHandle reader(openReader(archive()));
    const ZipStatus status = extractItem(reader.get(), 0, "here.txt");
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(status, ZipStatus::Ok);
    EXPECT_EQ(ReadFileBytes(dir_ / "here.txt"), "h");
}

TEST_F(ZipReaderTest, ArchivesThatDoNotOpen)
{
    const std::string valid = BuildZip({FileEntry("a", "1"), FileEntry("b", "2")});
    ZipArchiveOptions multiDisk;
    multiDisk.diskNumber = 1;
    ZipArchiveOptions moreThanListed;
    moreThanListed.entryCountDelta = 1;
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"text", "this is no archive, only text that is long enough to search through"},
        {"end record cut off", valid.substr(0, valid.size() - 10)},
        {"only the local headers", valid.substr(0, valid.find("PK\x01\x02"))},
        {"multi-disk", BuildZip({FileEntry("a", "1")}, multiDisk)},
        {"announces more entries than its directory holds", BuildZip({FileEntry("a", "1")}, moreThanListed)},
    };
    for (const Case& c : cases) {
        WriteFileBytes(archive(), c.bytes);
        EXPECT_EQ(openReader(archive()), nullptr) << c.what;
    }
    EXPECT_EQ(openReader(dir_ / "missing.zip"), nullptr);
    WriteFileBytes(archive(), valid);
    HANDLE writer = CreateFileA(archive().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(openReader(archive()), nullptr) << "another process writes the archive";
    CloseHandle(writer);
    ReaderHandle reader(openReader(archive()));
    EXPECT_TRUE(reader);
    // Reading shares the archive with other readers only.
    EXPECT_EQ(CreateFileA(archive().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST_F(ZipReaderTest, EmptyArchiveAndArchiveWithAComment)
{
    ReaderHandle empty = Open({});
    ASSERT_TRUE(empty);
    ZipItem item;
    ASSERT_EQ(getItem(empty.get(), -1, item), ZipStatus::Ok);
    EXPECT_EQ(item.index, 0);
    EXPECT_EQ(getItem(empty.get(), 0, item), ZipStatus::BadArgument);
    empty.reset();

    ZipArchiveOptions commented;
    commented.comment = std::string(1000, 'c') + "PK";
    ReaderHandle reader = Open({FileEntry("a", "1")}, commented);
    ASSERT_TRUE(reader);
    EXPECT_EQ(extractItem(reader.get(), 0, "a"), ZipStatus::Ok);
}

}  // namespace
