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
    }

    static std::string fixtures() { return ZipFixtureDirectory(); }
    static std::string source() { return fixtures() + "tree\\"; }
    std::string out() const { return dir_ / "out\\"; }

    bool Extract(const std::string& archive)
    {
        MakeDirectories(out());
        JobProgress progress(nullptr);
        UnpackContext context;
        context.progress = &progress;
        return ExtractZip(context, fixtures() + archive, out(), output_).ok();
    }

    void ExpectSameFile(const std::string& relative)
    {
        EXPECT_TRUE(ReadFileBytes(out() + relative) == ReadFileBytes(source() + relative)) << relative;
    }

    TempDir dir_;
    FileList output_;
};

// Nested directories, a deflated 100 MiB file, a stored file and a read-only file, with the
// times that zip's "UT" block gives.
TEST_F(ToolArchives, InfoZipTreeExtractsByteIdenticalWithAttributesAndTimes)
{
    ASSERT_TRUE(Extract("infozip.zip"));
    EXPECT_EQ(ListTree(out()), ListTree(source()));
    const Names files = {"top\\a.txt", "top\\big.dat", "top\\readonly.txt", "top\\sub\\b.txt",
                         "top\\sub\\deeper\\c.bin"};
    const DWORD kApplied = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const std::string& file : files) {
        const FileTimes times = TimesOfFile(out() + file);
        EXPECT_EQ(times.write, UtcFileTime(2021, 3, 4, 5, 6, 8)) << file;
        EXPECT_EQ(times.access, UtcFileTime(2022, 1, 2, 3, 4, 6)) << file;
        const DWORD expected = file == "top\\readonly.txt" ? FILE_ATTRIBUTE_READONLY : 0;
        EXPECT_EQ(GetFileAttributesA((out() + file).c_str()) & kApplied, expected) << file;
    }
    // Read after the times were checked: reading may move the access time.
    for (const std::string& file : files)
        ExpectSameFile(file);
}

// Zip64 extra fields, an entry zipped from a pipe, and 7-Zip's traditional encryption with the
// empty password.
TEST_F(ToolArchives, Zip64PipedAndEncryptedEntries)
{
    for (const char* archive : {"zip64.zip", "encrypted-deflated.zip", "encrypted-stored.zip"}) {
        ASSERT_TRUE(Extract(archive)) << archive;
        ExpectSameFile("top\\a.txt");
        RemoveTree(out());
    }
    ASSERT_TRUE(Extract("encrypted-stored.zip"));
    ExpectSameFile("top\\sub\\b.txt");
    ASSERT_TRUE(Extract("stream.zip"));
    std::string lines;
    for (int i = 1; i <= 20000; ++i)
        lines += std::to_string(i) + "\n";
    EXPECT_TRUE(ReadFileBytes(out() + "-") == lines);
}

}  // namespace
