// The SFV check from inside, where its two hard rules are easy to reach: no listed name reads
// a file outside the SFV file's folder, and a stop is heard inside one large file.
#include "engine/sfv.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/host_recorder.h"
#include "tests/support/test_files.h"

namespace {

class SfvVerification : public ::testing::Test {
protected:
    void SetUp() override { WriteFileBytes(dir_ / "a.rar", "123456789"); }

    Outcome VerifyFile(const std::string& sfvPath)
    {
        JobProgress progress(&host_);
        journal_ = Journal(dir_ / "", dir_ / "", std::string(32, 'k'));
        journal_.Load();
        std::vector<SfvCheck> later;
        return VerifySfv(sfvPath, progress, journal_, {}, later).outcome;
    }

    TempDir dir_;
    HostRecorder host_;
    Journal journal_{dir_ / "", dir_ / "", std::string(32, 'k')};
};

// Names reach no file outside the SFV file's directory, however their line is written, even
// when that file exists and matches.
TEST_F(SfvVerification, NamesOutsideTheDirectoryAreMismatchesAndNotRead)
{
    MakeDirectories(dir_ / "inner");
    WriteFileBytes(dir_ / "inner\\a.sfv", "");
    for (const std::string& name : std::vector<std::string>{"..\\a.rar", "..\\..\\a.rar", "sub\\..\\..\\a.rar", dir_ / "a.rar", "\\a.rar",
                                   "\\\\?\\" + dir_ / "a.rar", "C:a.rar", "\\\\server\\share\\a.rar", "NUL", "\\\\.\\NUL",
                                   "con.rar"}) {
        WriteFileBytes(dir_ / "inner\\x.sfv", name + " CBF43926\r\n");
        EXPECT_EQ(VerifyFile(dir_ / "inner\\x.sfv"), Outcome::BadData) << name;
        // Nothing counts as verified.
        uint32_t crc = 0;
        EXPECT_FALSE(journal_.KnownCrc(dir_ / "a.rar", 9, crc)) << name;
    }
}

// A stop heard inside one large file ends the verification before its end.
TEST_F(SfvVerification, StopIsHeardInsideOneLargeFile)
{
    const std::string big = PatternBytes(64u << 20, 3);
    WriteFileBytes(dir_ / "big.rar", big);
    host_.onCall = [](const std::string&, int) { Sleep(300); };
    host_.stopAt = 2;
    WriteFileBytes(dir_ / "x.sfv", "big.rar " + CrcHex(big) + "\r\n");
    EXPECT_EQ(VerifyFile(dir_ / "x.sfv"), Outcome::Stopped);
    EXPECT_EQ(host_.calls.size(), 2u);
    EXPECT_EQ(host_.calls[1], "0 Verifying big.rar...");
}

}  // namespace
