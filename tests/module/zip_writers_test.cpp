// The ZIP writers that users meet, each as one profile: a release made by that writer,
// unpacked as a download through wcxhost and a copy of the module that deletes sources and
// intermediate files. Info-ZIP zip, 7-Zip and Python's zipfile made their archives for real
// (tests/support/make_zip_fixtures.sh); the others are built byte by byte with the header
// fields that their writer sets. Every release holds Disc/info.nfo (read-only where the writer
// can say so) and Disc/film.zip, an archive of film.mkv that the second pass unpacks and the
// clean-up then deletes. The DOS times are local time at UTC+9 (TZ=JST-9, set by ctest).
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Paths;

uint64_t Value(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A UTC calendar time as a FILETIME count.
uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second)
{
    const SYSTEMTIME calendar = {static_cast<WORD>(year), static_cast<WORD>(month), 0, static_cast<WORD>(day),
                                 static_cast<WORD>(hour), static_cast<WORD>(minute), static_cast<WORD>(second), 0};
    FILETIME time = {};
    SystemTimeToFileTime(&calendar, &time);
    return Value(time);
}

// Where tests/support/make_zip_fixtures.sh left its archives (a ctest fixture step).
std::string ZipFixtureDirectory()
{
    return BinaryDirectory() + "..\\zip-fixtures\\";
}

std::string Source(const std::string& name)
{
    return ReadFileBytes(ZipFixtureDirectory() + "writers\\" + name);
}

const uint32_t kDos = DosDateTime(2021, 6, 15, 12, 30, 10);
const uint64_t kDosUtc = UtcFileTime(2021, 6, 15, 3, 30, 10);
const int32_t kUnixWrite = 1600000000, kUnixAccess = 1600003600;
const uint64_t kUnixWriteTime = UtcFileTime(2020, 9, 13, 12, 26, 40);
const uint64_t kUnixAccessTime = UtcFileTime(2020, 9, 13, 13, 26, 40);
// Sub-second times, as only the NTFS block holds them.
const uint64_t kNtfsWrite = UtcFileTime(2019, 11, 5, 8, 9, 10) + 1234567, kNtfsAccess = kNtfsWrite + 50000000,
               kNtfsCreation = kNtfsWrite - 70000000;
const uint64_t kToolTime = UtcFileTime(2021, 3, 4, 5, 6, 8);  // the fixture script's file times
const uint64_t kToolAccess = UtcFileTime(2022, 1, 2, 3, 4, 6);

// Disc/, Disc/film.zip and Disc/info.nfo, shaped by `shape` (which gets the entry's position).
std::vector<ZipEntry> Release(const std::function<void(ZipEntry&, int)>& shape)
{
    std::vector<ZipEntry> entries = {DirectoryEntry("Disc/"), FileEntry("Disc/film.zip", Source("Disc\\film.zip"), 0),
                                     FileEntry("Disc/info.nfo", Source("Disc\\info.nfo"))};
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].dosDateTime = kDos;
        shape(entries[i], static_cast<int>(i));
    }
    return entries;
}

std::string NtfsBlock()
{
    return ExtraBlock(std::string("\x0A\x00", 2), LittleEndian(0, 4) + LittleEndian(1, 2) + LittleEndian(24, 2) +
                                                      LittleEndian(kNtfsWrite, 8) + LittleEndian(kNtfsAccess, 8) +
                                                      LittleEndian(kNtfsCreation, 8));
}

// The DOS attributes of the three entries for the writers that store them: the folder, the
// film, the read-only NFO.
const uint32_t kDosAttributes[] = {0x10, 0x20, 0x21};

std::string WindowsFolder()
{
    return BuildZip(Release([](ZipEntry& e, int i) {
        e.externalAttributes = kDosAttributes[i];
        e.localExtra = e.centralExtra = NtfsBlock();
    }));
}

// The Finder of macOS: Unix modes, "UX" times (access, write, then uid and gid locally), data
// descriptors, and a __MACOSX folder of AppleDouble files, passed over by their folder's name
// whatever they hold.
std::string Finder()
{
    std::vector<ZipEntry> entries = Release([](ZipEntry&, int) {});
    for (const char* name : {"__MACOSX/", "__MACOSX/Disc/"})
        entries.push_back(DirectoryEntry(name));
    for (const char* name : {"__MACOSX/Disc/._film.zip", "__MACOSX/Disc/._info.nfo"})
        entries.push_back(FileEntry(name, "the Finder's metadata"));
    const std::string times =
        LittleEndian(static_cast<uint32_t>(kUnixAccess), 4) + LittleEndian(static_cast<uint32_t>(kUnixWrite), 4);
    for (ZipEntry& e : entries) {
        const bool directory = e.name.back() == '/';
        e.hostSystem = 3;
        e.madeByVersion = 21;
        e.externalAttributes = (directory ? 040755u : e.name == "Disc/info.nfo" ? 0100444u : 0100644u) << 16;
        e.method = directory ? 0 : 8;
        e.dataDescriptor = !directory;
        e.localExtra = ExtraBlock("UX", times + LittleEndian(501, 2) + LittleEndian(20, 2));
        e.centralExtra = ExtraBlock("UX", times);
    }
    return BuildZip(entries);
}

// ZIP64 as written for entries over 4 GiB: sizes and offsets only in the ZIP64 extra fields,
// a streamed entry with 8-byte descriptor sizes, and the ZIP64 end record with its locator.
std::string Zip64()
{
    ZipArchiveOptions options;
    options.zip64EndRecords = true;
    return BuildZip(Release([](ZipEntry& e, int i) {
                        e.externalAttributes = kDosAttributes[i];
                        e.versionNeeded = e.madeByVersion = 45;
                        e.zip64 = true;
                        e.dataDescriptor = i == 2;
                    }),
                    options);
}

struct Profile {
    const char* writer;
    std::function<std::string()> archive;
    uint64_t nfoWrite, nfoAccess;
};

TEST(ZipWriters, EachProfileUnpacksCompletelyAndCleansUp)
{
    ASSERT_TRUE(FileExists(ZipFixtureDirectory() + "stamp")) << "no archives in " << ZipFixtureDirectory();
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    ASSERT_EQ(zone.Bias, -540) << "run with TZ=JST-9, as ctest does";
    const Profile profiles[] = {
        {"Info-ZIP zip", [] { return Source("..\\writer-infozip.zip"); }, kToolTime, kToolAccess},
        {"7-Zip", [] { return Source("..\\writer-7zip.zip"); }, kToolTime, kToolTime},
        {"Python zipfile", [] { return Source("..\\writer-python.zip"); }, kToolTime, kToolTime},
        {"Windows compressed folder", WindowsFolder, kNtfsWrite, kNtfsAccess},
        {"macOS Finder", Finder, kUnixWriteTime, kUnixAccessTime},
        {"ZIP64", Zip64, kDosUtc, kDosUtc},
    };
    for (const Profile& p : profiles) {
        TempDir dir;
        InstallModuleCopy(dir / "plugin", "<DeleteTemp>1</DeleteTemp><Delete-src-during>1</Delete-src-during>"
                                          "<Keep-src-nosfv>0</Keep-src-nosfv><File-to-keep>*.nfo</File-to-keep>");
        MakeDirectories(dir / "src\\Rel");
        WriteFileBytes(dir / "src\\Rel\\release.zip", p.archive());
        const ProcessResult result =
            RunWcxhostPack("", dir / "plugin\\ravelpak.wcx64", dir / "out\\new.zip", dir / "src\\", "Rel");
        EXPECT_EQ(LastLine(result.output), "result 0") << p.writer;
        // The release is deleted, the intermediate film.zip cleaned up, __MACOSX passed over.
        EXPECT_EQ(ListTree(dir / "src\\"), Paths{"Rel\\"}) << p.writer;
        EXPECT_EQ(ListTree(dir / "out\\"), (Paths{"Rel\\", "Rel\\Disc\\", "Rel\\Disc\\info.nfo", "Rel\\film.mkv"}))
            << p.writer;
        const std::string nfo = dir / "out\\Rel\\Disc\\info.nfo";
        WIN32_FILE_ATTRIBUTE_DATA data = {};  // before reading, which may move the access time
        GetFileAttributesExA(nfo.c_str(), GetFileExInfoStandard, &data);
        EXPECT_EQ(Value(data.ftLastWriteTime), p.nfoWrite) << p.writer;
        EXPECT_EQ(Value(data.ftLastAccessTime), p.nfoAccess) << p.writer;
        // Disc\info.nfo is read-only in every archive, and neither hidden nor system.
        EXPECT_EQ(data.dwFileAttributes & 7, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) << p.writer;
        EXPECT_TRUE(ReadFileBytes(nfo) == Source("Disc\\info.nfo")) << p.writer;
        EXPECT_TRUE(ReadFileBytes(dir / "out\\Rel\\film.mkv") == Source("film.mkv")) << p.writer;
    }
}

}  // namespace
