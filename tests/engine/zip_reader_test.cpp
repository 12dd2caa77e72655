#include "engine/zip/zip_reader.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "engine/crc32.h"
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

// The summary holds the entry count and nothing left over from the caller's record; an item
// its index, sizes and sanitised name (sanitising has its own tests).
TEST_F(ZipReaderTest, SummaryAndItems)
{
    ZipArchiveOptions commented;
    commented.comment = std::string(1000, 'c') + "PK";
    ReaderHandle reader = Open({DirectoryEntry("d/"), FileEntry("C:\\d\\b.txt", "12345", 0)}, commented);
    ASSERT_TRUE(reader);
    ZipItem item;
    item.attributes = 7;
    item.compressedSize = 9;
    item.writeTime.dwLowDateTime = 1;
    item.name = "stale";
    ASSERT_EQ(getItem(reader.get(), -1, item), ZipStatus::Ok);
    EXPECT_EQ(item.index, 2);
    EXPECT_EQ(item.name, "");
    EXPECT_EQ(item.attributes | item.compressedSize | FileTimeValue(item.writeTime), 0u);
    ASSERT_EQ(getItem(reader.get(), 1, item), ZipStatus::Ok);
    EXPECT_EQ(item.index, 1);
    EXPECT_EQ(item.name, "d\\b.txt");
    EXPECT_EQ(item.compressedSize, 5u);
    EXPECT_EQ(item.uncompressedSize, 5u);
    reader.reset();  // reading shares the archive with other readers only
    reader = Open({});
    ASSERT_TRUE(reader);
    ASSERT_EQ(getItem(reader.get(), -1, item), ZipStatus::Ok);
    EXPECT_EQ(item.index, 0);
}

// Names that still point outside the base directory after sanitising are refused by both
// operations, and nothing at all is created for them.
TEST_F(ZipReaderTest, NamesThatStillEscapeAreRefused)
{
    std::vector<ZipEntry> entries;
    for (const char* name : {"a/../../x", "f.txt:ads", "sub/nul.txt"})
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
        EXPECT_EQ(extractItem(reader.get(), i, "harmless.txt"), ZipStatus::UnsafeName) << entries[i].name;
    }
    // A caller-chosen target name is held to the same rule.
    for (const char* target : {"../fine.txt", "C:\\fine.txt", "\\fine.txt", "a/../../fine.txt", "fine.txt:ads"})
        EXPECT_EQ(extractItem(reader.get(), last, target), ZipStatus::UnsafeName) << target;
    EXPECT_EQ(ListTree(dir_.path()), Names{"x.zip"});
    EXPECT_EQ(extractItem(reader.get(), last, "fine.txt"), ZipStatus::Ok);
    EXPECT_EQ(ListTree(dir_.path()), (Names{"out\\", "out\\fine.txt", "x.zip"}));
}

// Decoding has its own tests; here the bits reach the item and the file.
TEST_F(ZipReaderTest, AttributesReachTheFile)
{
    std::vector<ZipEntry> entries = {UnixEntry("ro", "c", 0100444), FileEntry("hs", "c"), FileEntry("none", "c")};
    entries[1].externalAttributes = 0x26;
    entries[2].externalAttributes = 0;
    const uint32_t expected[] = {0x21, 0x26, 0};
    ReaderHandle reader = Open(entries);
    ASSERT_TRUE(reader);
    for (int32_t i = 0; i < 3; ++i) {
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), i, item), ZipStatus::Ok);
        EXPECT_EQ(item.attributes, expected[i]) << i;
        ASSERT_EQ(extractItem(reader.get(), i, item.name), ZipStatus::Ok);
        EXPECT_EQ(GetFileAttributesA((out() + item.name).c_str()) & 7, expected[i] & 7)
            << i;  // read-only, hidden, system
    }
}

// The DOS date and time are local time; ctest runs these tests at UTC+9 (TZ=JST-9). A "UT"
// block replaces the times it holds (which block wins has its own tests).
class ZipTimesTest : public ZipReaderTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(TimeZoneBiasMinutes(), kTestZoneBiasMinutes) << "run with TZ=JST-9, as ctest does";
    }
};

TEST_F(ZipTimesTest, DosTimeIsLocalAndUtBlockReplacesTheTimesItHolds)
{
    const uint32_t june = DosDateTime(2021, 6, 15, 12, 30, 10);
    const uint64_t dosTime = UtcFileTime(2021, 6, 15, 3, 30, 10);
    const uint64_t first = UtcFileTime(1980, 1, 1, 0, 0, 0), last = UtcFileTime(2107, 12, 31, 14, 59, 58);
    const uint64_t dosEpoch = UtcFileTime(1979, 12, 31, 15, 0, 0);  // 1980-01-01 00:00 local
    const uint64_t unixEpoch = 116444736000000000u, second = 10000000u;
    struct Case {
        const char* what;
        uint32_t dos;
        std::string localExtra, centralExtra;
        uint64_t write, access, creation;
    } cases[] = {
        {"DOS time only", june, "", "", dosTime, dosTime, dosTime},
        {"first DOS day", DosDateTime(1980, 1, 1, 9, 0, 0), "", "", first, first, first},
        {"last DOS day", DosDateTime(2107, 12, 31, 23, 59, 58), "", "", last, last, last},
        {"no calendar date", 0, "", "", dosEpoch, dosEpoch, dosEpoch},
        {"UT write time 0", june, UtBlock(0x01, {0}), "", unixEpoch, dosTime, dosTime},
        {"UT all three", june, UtBlock(0x07, {1, 2, 3}), "", unixEpoch + second, unixEpoch + 2 * second,
         unixEpoch + 3 * second},
        {"UT only in the central directory", june, "", UtBlock(0x01, {0}), unixEpoch, dosTime, dosTime},
    };
    for (const Case& c : cases) {
        ZipEntry entry = FileEntry("t.txt", "time");
        entry.dosDateTime = c.dos;
        entry.localExtra = c.localExtra;
        entry.centralExtra = c.centralExtra;
        ReaderHandle reader = Open({entry});
        ASSERT_TRUE(reader);
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), 0, item), ZipStatus::Ok);
        EXPECT_EQ(FileTimeValue(item.writeTime), c.write) << c.what;
        EXPECT_EQ(FileTimeValue(item.accessTime), c.access) << c.what;
        EXPECT_EQ(FileTimeValue(item.creationTime), c.creation) << c.what;
        ASSERT_EQ(extractItem(reader.get(), 0, "t.txt"), ZipStatus::Ok);
        const FileTimes onDisk = TimesOfFile(out() + "t.txt");
        EXPECT_EQ(onDisk.write, c.write) << c.what;
        EXPECT_EQ(onDisk.access, c.access) << c.what;
    }
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
    EXPECT_EQ(ensureDirectory(root, "p/q\\r/"), ZipStatus::Ok);
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
    item.name = "stale";
    EXPECT_EQ(getItem(nullptr, -1, item), ZipStatus::BadArgument);
    EXPECT_EQ(item.index, 0);
    EXPECT_EQ(item.name, "");
    EXPECT_EQ(setBaseDirectory(nullptr, "C:\\out\\"), ZipStatus::BadArgument);
    EXPECT_EQ(extractItem(nullptr, 0, "a.txt"), ZipStatus::BadArgument);
    EXPECT_EQ(closeReader(nullptr), ZipStatus::BadArgument);
}

// The reader moves back to the first entry when asked for an earlier one. A failed item
// record moves the cursor but not the cached record of the entry before it.
TEST_F(ZipReaderTest, CursorMovesBackwardsAndForwards)
{
    std::vector<ZipEntry> entries;
    for (char c = 'a'; c <= 'e'; ++c)
        entries.push_back(FileEntry(std::string(1, c) + ".txt", std::string(10, c)));
    entries.push_back(FileEntry("../..", "unsafe"));
    ReaderHandle reader = Open(entries);
    ASSERT_TRUE(reader);
    ZipItem item;
    for (int32_t index : {4, 0, 3, 3, 1, 2, 0, 4}) {
        ASSERT_EQ(getItem(reader.get(), index, item), ZipStatus::Ok);
        EXPECT_EQ(item.name, entries[index].name);
        const std::string target = "copy" + std::to_string(index);
        ASSERT_EQ(extractItem(reader.get(), index, target), ZipStatus::Ok);
        EXPECT_EQ(ReadFileBytes(out() + target), entries[index].data);
    }
    ASSERT_EQ(getItem(reader.get(), 5, item), ZipStatus::UnsafeName);
    EXPECT_EQ(extractItem(reader.get(), 4, "again"), ZipStatus::Ok);
    EXPECT_EQ(ReadFileBytes(out() + "again"), entries[4].data);
    for (int32_t index : {-2, 6, INT32_MIN})
        EXPECT_EQ(getItem(reader.get(), index, item), ZipStatus::BadArgument) << index;
    for (int32_t index : {-1, 6})
        EXPECT_EQ(extractItem(reader.get(), index, "a"), ZipStatus::BadArgument) << index;
    EXPECT_FALSE(FileExists(out() + "a"));
}

// ZIP64 entries keep their sizes and offsets in the ZIP64 extra fields only, and the archive
// ends with the ZIP64 end record.
TEST_F(ZipReaderTest, StoredAndDeflatedDataOverManyBlocksWithDataDescriptorsAndZip64)
{
    const std::string pattern = PatternBytes(100000, 3);
    std::vector<ZipEntry> entries = {FileEntry("p.stored", pattern, 0),
                                     FileEntry("p.deflated", pattern, 8),
                                     FileEntry("t", std::string(70000, 'z')),
                                     FileEntry("empty.stored", "", 0),
                                     FileEntry("empty.deflated", "", 8),
                                     FileEntry("d.deflated", pattern, 8),
                                     FileEntry("d.stored", "stored with descriptor", 0),
                                     FileEntry("d.unsigned", "descriptor without signature", 8),
                                     FileEntry("z.stored", pattern, 0),
                                     FileEntry("z.deflated", pattern, 8),
                                     FileEntry("z.descriptor", pattern, 8)};
    for (size_t i = 5; i < entries.size(); ++i)
        entries[i].dataDescriptor = i < 8 || i == 10;
    entries[7].descriptorSignature = false;
    for (size_t i = 8; i < entries.size(); ++i)
        entries[i].zip64 = true;
    ZipArchiveOptions zip64;
    zip64.zip64EndRecords = true;
    ReaderHandle reader = Open(entries, zip64);
    ASSERT_TRUE(reader);
    for (int32_t i = 0; i < static_cast<int32_t>(entries.size()); ++i) {
        bool intact = false;
        ASSERT_EQ(extractItem(reader.get(), i, entries[i].name, &intact), ZipStatus::Ok) << entries[i].name;
        EXPECT_TRUE(intact) << entries[i].name;
        EXPECT_TRUE(ReadFileBytes(out() + entries[i].name) == entries[i].data) << entries[i].name;
    }
}

// Damaged entries: nothing is written for an entry whose record cannot be read, and the
// entries after it are unaffected.
TEST_F(ZipReaderTest, CorruptEntriesWriteNothing)
{
    struct Case {
        const char* what;
        LocalFault fault;
        uint16_t method;
        ZipStatus status;
    } cases[] = {
        {"local signature", LocalFault::Signature, 8, ZipStatus::CorruptEntry},
        {"local method", LocalFault::Method, 8, ZipStatus::CorruptEntry},
        {"local CRC", LocalFault::Crc, 8, ZipStatus::CorruptEntry},
        {"local compressed size", LocalFault::CompressedSize, 8, ZipStatus::CorruptEntry},
        {"local name length", LocalFault::NameLength, 8, ZipStatus::CorruptEntry},
        {"local extra field past the end", LocalFault::ExtraLength, 8, ZipStatus::ReadFailed},
        {"bzip2", LocalFault::None, 12, ZipStatus::CorruptEntry},
        {"AES", LocalFault::None, 99, ZipStatus::CorruptEntry},
    };
    for (const Case& c : cases) {
        ZipEntry entry = FileEntry("e", "data", c.method);
        entry.localFault = c.fault;
        ReaderHandle reader = Open({entry, FileEntry("after", "fine")});
        ASSERT_TRUE(reader) << c.what;
        ZipItem item;
        EXPECT_EQ(getItem(reader.get(), 0, item), c.status) << c.what;
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

// The traditional encryption is read with the empty password; the check byte comes from the
// CRC, or from the DOS time when a data descriptor follows.
TEST_F(ZipReaderTest, EncryptedEntriesOpenWithTheEmptyPassword)
{
    struct Case {
        uint16_t method;
        bool descriptor;
        const char* password;
    } cases[] = {{0, false, ""}, {8, false, ""}, {8, true, ""}, {8, false, "secret"}, {0, true, "secret"}};
    const std::string content = PatternBytes(40000, 9) + std::string(30000, 'q');
    for (const Case& c : cases) {
        ZipEntry entry = FileEntry("secret.bin", content, c.method);
        entry.encrypted = true;
        entry.password = c.password;
        entry.dataDescriptor = c.descriptor;
        ReaderHandle reader = Open({entry});
        ASSERT_TRUE(reader);
        const bool opens = entry.password.empty();
        bool intact = false;
        EXPECT_EQ(extractItem(reader.get(), 0, "secret.bin", &intact), opens ? ZipStatus::Ok : ZipStatus::BadPassword)
            << c.method << c.descriptor << c.password;
        EXPECT_EQ(intact, opens);
        EXPECT_EQ(FileExists(out() + "secret.bin"), opens) << c.method << c.descriptor;
        if (opens)
            EXPECT_TRUE(ReadFileBytes(out() + "secret.bin") == content) << c.method << c.descriptor;
    }
}

// Damaged data: a CRC mismatch keeps its Ok and shows through dataIntact; data that ends early
// fails. Neither leaves a file behind under the entry's name.
TEST_F(ZipReaderTest, DamagedDataIsNotIntact)
{
    const std::string content = PatternBytes(50000, 4);
    for (uint16_t method : {0, 8}) {
        ZipEntry wrong = FileEntry("w.txt", "checked data", method);
        wrong.wrongCrc = true;
        ZipEntry cut = FileEntry("cut.bin", content, method);
        cut.cutData = 100;
        ReaderHandle reader = Open({wrong, cut, FileEntry("next", "n")});
        ASSERT_TRUE(reader);
        bool intact = true;
        EXPECT_EQ(extractItem(reader.get(), 0, "w.txt", &intact), ZipStatus::Ok);
        EXPECT_FALSE(intact);
        EXPECT_FALSE(FileExists(out() + "w.txt"));
        intact = true;
        EXPECT_EQ(extractItem(reader.get(), 1, "cut.bin", &intact), ZipStatus::InflateFailed) << method;
        EXPECT_FALSE(intact);
        EXPECT_FALSE(FileExists(out() + "cut.bin"));
        EXPECT_EQ(extractItem(reader.get(), 2, "next"), ZipStatus::Ok);
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

// Names and paths of any length the file system takes come out, beyond the plain form of a
// path too.
TEST_F(ZipReaderTest, LongNamesComeOut)
{
    const std::string longName = std::string(200, 'a') + "/" + std::string(200, 'b') + ".txt";
    ReaderHandle reader = Open({FileEntry(longName, "deep"), FileEntry(std::string(255, 'c'), "wide")});
    ASSERT_TRUE(reader);
    ZipItem item;
    ASSERT_EQ(getItem(reader.get(), 0, item), ZipStatus::Ok);
    EXPECT_EQ(item.name, longName);
    EXPECT_EQ(extractItem(reader.get(), 0, item.name), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 1, std::string(255, 'c')), ZipStatus::Ok);
    EXPECT_EQ(ReadFileBytes(out() + std::string(200, 'a') + "\\" + std::string(200, 'b') + ".txt"), "deep");
    EXPECT_EQ(ReadFileBytes(out() + std::string(255, 'c')), "wide");
}

// Stored names in UTF-8 when flag 11 says so or the Unicode path field vouches for them with
// the stored name's CRC-32, otherwise in the OEM code page (437 here).
TEST_F(ZipReaderTest, NameEncodings)
{
    ASSERT_EQ(GetOEMCP(), 437u) << "the names are chosen for code page 437";
    ZipEntry flagged = FileEntry("Am\xC3\xA9lie \xE4\xB8\xAD.mkv", "1");
    flagged.flags = 0x0800;
    ZipEntry unflagged = FileEntry("Caf\x82.nfo", "2");
    ZipEntry unicodeField = FileEntry("Caf\x82.txt", "3");
    const std::string stored = "Caf\x82.txt";
    const std::string field = std::string(1, '\1') + LittleEndian(Crc32Update(0, stored.data(), stored.size()), 4) +
                              "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE.txt";
    unicodeField.centralExtra = ExtraBlock("up", field);
    ZipEntry staleField = FileEntry("Caf\x82.doc", "4");
    staleField.centralExtra = ExtraBlock("up", std::string(1, '\1') + LittleEndian(0, 4) + "stale.doc");
    ReaderHandle reader = Open({flagged, unflagged, unicodeField, staleField});
    ASSERT_TRUE(reader);
    const char* expected[] = {"Am\xC3\xA9lie \xE4\xB8\xAD.mkv", "Caf\xC3\xA9.nfo", "\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE.txt",
                              "Caf\xC3\xA9.doc"};
    for (int32_t index = 0; index < 4; ++index) {
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), index, item), ZipStatus::Ok);
        EXPECT_EQ(item.name, expected[index]) << index;
    }
}

// The base directory starts as the current directory and gets its separator.
TEST_F(ZipReaderTest, BaseDirectory)
{
    WriteFileBytes(archive(), BuildZip({FileEntry("a.txt", "a")}));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.path().c_str()));
    ReaderHandle reader(openReader(archive()));
    const ZipStatus status = extractItem(reader.get(), 0, "a.txt");
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(status, ZipStatus::Ok);
    EXPECT_EQ(setBaseDirectory(reader.get(), dir_ / "one"), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 0, "a.txt"), ZipStatus::Ok);
    EXPECT_EQ(setBaseDirectory(reader.get(), dir_ / "two/"), ZipStatus::Ok);
    EXPECT_EQ(extractItem(reader.get(), 0, "a.txt"), ZipStatus::Ok);
    EXPECT_EQ(setBaseDirectory(reader.get(), ""), ZipStatus::BadArgument);
    EXPECT_EQ(ListTree(dir_.path()), (Names{"a.txt", "one\\", "one\\a.txt", "two\\", "two\\a.txt", "x.zip"}));
}

TEST_F(ZipReaderTest, ArchivesThatDoNotOpen)
{
    const std::string valid = BuildZip({FileEntry("a", "1"), FileEntry("b", "2")});
    ZipArchiveOptions multiDisk;
    multiDisk.diskNumber = 1;
    ZipArchiveOptions moreThanListed;
    moreThanListed.entryCountDelta = 1;
    const std::string cases[] = {"",
                                 "this is no archive, only text that is long enough to search through",
                                 valid.substr(0, valid.size() - 10),
                                 valid.substr(0, valid.find("PK\x01\x02")),
                                 BuildZip({FileEntry("a", "1")}, multiDisk),
                                 BuildZip({FileEntry("a", "1")}, moreThanListed)};
    for (const std::string& bytes : cases) {
        WriteFileBytes(archive(), bytes);
        EXPECT_EQ(openReader(archive()), nullptr) << &bytes - cases;
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

}  // namespace
