// Archives made the ordinary way, by Info-ZIP zip and 7-Zip (tests/support/make_zip_fixtures.sh,
// run by ctest before these tests), extracted through the stage.
#include "engine/zip_stage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"
#include "tests/support/zip_test_support.h"

namespace {

typedef std::vector<std::string> Names;

class ToolArchives : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FileExists(fixtures() + "stamp")) << "no archives in " << fixtures() << ": run ctest";
        ASSERT_EQ(TimeZoneBiasMinutes(), kTestZoneBiasMinutes) << "run with TZ=JST-9, as ctest does";
    }

    static std::string fixtures() { return ZipFixtureDirectory(); }
    static std::string source() { return fixtures() + "tree\\"; }
    std::string out() const { return dir_ / "out\\"; }

    bool Extract(const std::string& archive)
    {
        MakeDirectories(out());
        return ExtractZip(fixtures() + archive, out(), output_);
    }

    void ExpectSameFile(const std::string& relative)
    {
        EXPECT_TRUE(ReadFileBytes(out() + relative) == ReadFileBytes(source() + relative)) << relative;
    }

    TempDir dir_;
    FileList output_;
};

// Nested directories, a deflated 100 MiB file, a stored file and a read-only file, with the
// times that zip's "UT" block and DOS time give.
TEST_F(ToolArchives, InfoZipTreeExtractsByteIdenticalWithAttributesAndTimes)
{
    ASSERT_TRUE(Extract("infozip.zip"));
    const Names files = {"top\\a.txt", "top\\big.dat", "top\\readonly.txt", "top\\sub\\b.txt",
                         "top\\sub\\deeper\\c.bin"};
    EXPECT_EQ(ListTree(out()),
              (Names{"top\\", "top\\a.txt", "top\\big.dat", "top\\empty\\", "top\\readonly.txt", "top\\sub\\",
                     "top\\sub\\b.txt", "top\\sub\\deeper\\", "top\\sub\\deeper\\c.bin"}));
    EXPECT_EQ(ListTree(out()), ListTree(source()));

    const uint64_t written = UtcFileTime(2021, 3, 4, 5, 6, 8);
    const uint64_t read = UtcFileTime(2022, 1, 2, 3, 4, 6);
    const DWORD kApplied = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const std::string& file : files) {
        const FileTimes times = TimesOfFile(out() + file);
        EXPECT_EQ(times.write, written) << file;
        EXPECT_EQ(times.access, read) << file;
        const DWORD expected = file == "top\\readonly.txt" ? FILE_ATTRIBUTE_READONLY : 0;
        EXPECT_EQ(GetFileAttributesA((out() + file).c_str()) & kApplied, expected) << file;
    }
    // Read after the times were checked: reading may move the access time.
    for (const std::string& file : files)
        ExpectSameFile(file);

    // The creation time comes from the DOS time, which zip wrote at UTC+9 as well.
    ReaderHandle reader(openReader(fixtures() + "infozip.zip"));
    ASSERT_TRUE(reader);
    ZipItem summary;
    ASSERT_EQ(getItem(reader.get(), -1, summary), ZipStatus::Ok);
    for (int32_t i = 0; i < summary.index; ++i) {
        ZipItem item;
        ASSERT_EQ(getItem(reader.get(), i, item), ZipStatus::Ok);
        EXPECT_EQ(FileTimeValue(item.creationTime), written) << item.name;
        const bool directory = std::string(item.name).back() == '/';
        EXPECT_EQ(item.attributes, directory                                      ? 0x30u
                                   : std::string(item.name) == "top/readonly.txt" ? 0x21u
                                                                                  : 0x20u)
            << item.name;
    }
}

TEST_F(ToolArchives, Zip64AndPipedEntries)
{
    ASSERT_TRUE(Extract("zip64.zip"));
    ExpectSameFile("top\\a.txt");
    ASSERT_TRUE(Extract("stream.zip"));
    std::string lines;
    for (int i = 1; i <= 20000; ++i)
        lines += std::to_string(i) + "\n";
    EXPECT_TRUE(ReadFileBytes(out() + "-") == lines);
}

TEST_F(ToolArchives, SevenZipEncryptionWithTheEmptyPassword)
{
    for (const char* archive : {"encrypted-deflated.zip", "encrypted-stored.zip"}) {
        ASSERT_TRUE(Extract(archive)) << archive;
        ExpectSameFile("top\\a.txt");
        ExpectSameFile("top\\sub\\b.txt");
        RemoveTree(out());
    }
}

}  // namespace
