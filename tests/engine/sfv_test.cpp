#include "engine/sfv.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "engine/crc32.h"
#include "tests/support/host_recorder.h"
#include "tests/support/test_files.h"

namespace {

typedef std::vector<std::string> Texts;

TEST(SfvChecksumText, ReadsLikeAHexNumber)
{
    struct Case {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"1A2B3C4D", 0x1A2B3C4Du},
        {"0badf00d", 0x0BADF00Du},
        {"  \t0X1a2b3c4d", 0x1A2B3C4Du},
        {"+ff", 0xFFu},
        {"-1", 0xFFFFFFFFu},
        {"12zz", 0x12u},
        {"zz", 0u},
        {"", 0u},
        {"0x", 0u},
        {"0xg1", 0u},
        {"123456789", 0xFFFFFFFFu},
        {"00000000ff", 0xFFu},
        {"1A2B3C4D\t", 0x1A2B3C4Du},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseSfvChecksum(c.text), c.value) << '"' << c.text << '"';
}

TEST(SfvLine, SplitsAtTheLastSpaceAfterTrailingSpaces)
{
    struct Case {
        const char* line;
        bool listed;
        const char* name;
        const char* checksum;
    } cases[] = {
        {"a.rar 1A2B3C4D", true, "a.rar", "1A2B3C4D"},
        {"my file.r00 0badf00d   ", true, "my file.r00", "0badf00d"},
        {"  lead.rar 00000001", true, "  lead.rar", "00000001"},
        {"single", true, "single", "single"},
        {"tab.rar\t1A2B3C4D", true, "tab.rar\t1A2B3C4D", "tab.rar\t1A2B3C4D"},
        {"a.rar 1A2B3C4D\t", true, "a.rar", "1A2B3C4D\t"},
        {"; comment 12345678", false, "", ""},
        {"", false, "", ""},
        {"     ", false, "", ""},
    };
    for (const Case& c : cases) {
        std::string name, checksum;
        ASSERT_EQ(SplitSfvLine(c.line, name, checksum), c.listed) << c.line;
        if (c.listed) {
            EXPECT_EQ(name, c.name) << c.line;
            EXPECT_EQ(checksum, c.checksum) << c.line;
        }
    }
}

class SfvVerification : public ::testing::Test {
protected:
    void SetUp() override
    {
        content_ = PatternBytes(100000, 7);
        WriteFileBytes(dir_ / "my file.r00", content_);
        WriteFileBytes(dir_ / "a.rar", "123456789");
    }

    Outcome Verify(const std::string& sfvText)
    {
        WriteFileBytes(dir_ / "x.sfv", sfvText);
        return VerifyFile(dir_ / "x.sfv");
    }

    Outcome VerifyFile(const std::string& sfvPath)
    {
        JobProgress progress(&host_);
        verified_.clear();
        return VerifySfv(sfvPath, progress, verified_).outcome;
    }

    std::string crc() const { return CrcHex(content_); }

    TempDir dir_;
    std::string content_;
    HostRecorder host_;
    std::unordered_set<std::wstring> verified_;
};

TEST_F(SfvVerification, MatchingFilesAreAnnouncedBeforeAndAfter)
{
    EXPECT_EQ(Verify("; made by hand\r\n\r\na.rar CBF43926\r\n"), Outcome::Ok);
    EXPECT_EQ(host_.calls, (Texts{"0 Verifying a.rar...", "0 Verifying a.rar... Done!"}));
}

TEST_F(SfvVerification, LineFormatsThatAllVerify)
{
    const std::string c = crc();
    const std::string lower = [&] {
        std::string s = c;
        for (char& ch : s)
            ch = static_cast<char>(tolower(ch));
        return s;
    }();
    const std::string cases[] = {
        "my file.r00 " + c + "\n",
        "my file.r00 " + c + "\r",
        "my file.r00 " + c + "\r\n",
        "my file.r00 " + c,
        "my file.r00 " + lower + "   \r\n",
        "my file.r00 0x" + c + "\r\n",
        "   \r\nmy file.r00 " + c + "\n;a.rar 00000000\n",
        "a.rar CBF43926\rmy file.r00 " + c + "\na.rar cbf43926",
    };
    for (const std::string& text : cases)
        EXPECT_EQ(Verify(text), Outcome::Ok) << text;
}

TEST_F(SfvVerification, EveryListedFileIsCheckedEvenAfterAMismatch)
{
    EXPECT_EQ(Verify("a.rar 00000000\r\nmy file.r00 " + crc() + "\r\n"), Outcome::BadData);
    EXPECT_EQ(verified_.size(), 1u);
    EXPECT_EQ(host_.calls, (Texts{"0 Verifying a.rar...", "0 Verifying a.rar... Done!", "0 Verifying my file.r00...",
                                  "0 Verifying my file.r00... Done!"}));
}

// A file that is not there must never pass, whatever checksum its line carries.
TEST_F(SfvVerification, MissingListedFileIsAMismatchEvenForFFFFFFFF)
{
    EXPECT_EQ(Verify("gone.rar FFFFFFFF\r\n"), Outcome::CannotRead);
    EXPECT_EQ(host_.calls, (Texts{"0 Verifying gone.rar...", "0 Verifying gone.rar... Done!"}));
    EXPECT_EQ(Verify("gone.rar 00000000\r\n"), Outcome::CannotRead);
}

TEST_F(SfvVerification, UnreadableListedFileIsAMismatch)
{
    HANDLE lock = CreateFileA((dir_ / "a.rar").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Verify("a.rar CBF43926\r\n"), Outcome::CannotRead);
    CloseHandle(lock);
    EXPECT_EQ(Verify("a.rar CBF43926\r\n"), Outcome::Ok);
}

TEST_F(SfvVerification, OnlyCommentsVerifyWithoutAnyText)
{
    EXPECT_EQ(Verify("; one\r\n;two\r\n\r\n"), Outcome::Ok);
    EXPECT_EQ(Verify(""), Outcome::Ok);
    EXPECT_TRUE(host_.calls.empty());
}

TEST_F(SfvVerification, SfvFileThatCannotBeOpened)
{
    EXPECT_EQ(VerifyFile(dir_ / "none.sfv"), Outcome::CannotRead);
    WriteFileBytes(dir_ / "held.sfv", "a.rar CBF43926\r\n");
    HANDLE held = CreateFileA((dir_ / "held.sfv").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(VerifyFile(dir_ / "held.sfv"), Outcome::CannotRead);
    CloseHandle(held);
    EXPECT_TRUE(host_.calls.empty());
}

TEST_F(SfvVerification, HostStopsAtTheFirstOrSecondText)
{
    host_.stopAt = 1;
    EXPECT_EQ(Verify("a.rar CBF43926\r\nmy file.r00 " + crc() + "\r\n"), Outcome::Stopped);
    EXPECT_EQ(host_.calls.size(), 1u);

    host_.calls.clear();
    host_.stopAt = 2;
    EXPECT_EQ(Verify("a.rar 00000000\r\nmy file.r00 " + crc() + "\r\n"), Outcome::Stopped);
    EXPECT_EQ(host_.calls.size(), 2u);
}

// A listed name whose full path does not fit MAX_PATH can never be verified.
TEST_F(SfvVerification, NamesTooLongForAPathAreNeverVerified)
{
    EXPECT_EQ(Verify(std::string(248, 'L') + " " + crc() + "\r\n"), Outcome::CannotRead);
    EXPECT_TRUE(verified_.empty());
}

// Names reach no file outside the SFV file's directory, however their line is written, even
// when that file exists and matches.
TEST_F(SfvVerification, NamesOutsideTheDirectoryAreMismatchesAndNotRead)
{
    MakeDirectories(dir_ / "inner");
    WriteFileBytes(dir_ / "inner\\a.sfv", "");
    for (const std::string& name : std::vector<std::string>{"..\\a.rar", "..\\..\\a.rar", "sub\\..\\..\\a.rar", dir_ / "a.rar", "\\a.rar",
                                   "C:a.rar", "\\\\server\\share\\a.rar", "NUL", "con.rar"}) {
        WriteFileBytes(dir_ / "inner\\x.sfv", name + " CBF43926\r\n");
        EXPECT_EQ(VerifyFile(dir_ / "inner\\x.sfv"), Outcome::BadData) << name;
        EXPECT_TRUE(verified_.empty()) << name;
    }
}

// A stop heard inside one large file ends the verification before its end.
TEST_F(SfvVerification, StopIsHeardInsideOneLargeFile)
{
    const std::string big = PatternBytes(64u << 20, 3);
    WriteFileBytes(dir_ / "big.rar", big);
    host_.onCall = [](const std::string&, int) { Sleep(300); };
    host_.stopAt = 2;
    EXPECT_EQ(Verify("big.rar " + CrcHex(big) + "\r\n"), Outcome::Stopped);
    EXPECT_EQ(host_.calls.size(), 2u);
    EXPECT_EQ(host_.calls[1], "0 Verifying big.rar...");
}

TEST(FileCrc, MatchesTheTableOverBlockEdges)
{
    TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{1} << 20, (size_t{1} << 20) + 7, size_t{3} << 20}) {
        const std::string content = PatternBytes(size, static_cast<uint32_t>(size));
        WriteFileBytes(dir / "f", content);
        uint32_t crc = 1;
        ASSERT_TRUE(FileCrc32(dir / "f", crc));
        EXPECT_EQ(crc, Crc32UpdateBytewise(0, content.data(), content.size())) << size;
    }
    uint32_t crc = 0;
    EXPECT_FALSE(FileCrc32(dir / "missing", crc));
}

}  // namespace
