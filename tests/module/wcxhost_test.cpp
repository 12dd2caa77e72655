// End to end through the host stand-in: wcxhost loads the built module and drives it as the
// file manager would.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Lines_;

ProcessResult Wcxhost(const std::string& arguments)
{
    return RunProcess(Quote(BinaryDirectory() + "wcxhost.exe") + " " + arguments);
}

std::string ModulePath()
{
    return Quote(BinaryDirectory() + "ravelpak.wcx64");
}

TEST(Wcxhost, CapsAndOpen)
{
    ProcessResult caps = Wcxhost("caps " + ModulePath());
    EXPECT_EQ(caps.exitCode, 0);
    EXPECT_EQ(caps.output, "caps 21\r\nbackground 2\r\n");

    TempDir dir;
    WriteFileBytes(dir / "x.zip", "not really");
    ProcessResult open = Wcxhost("open " + ModulePath() + " " + Quote(dir / "x.zip"));
    EXPECT_EQ(open.exitCode, 0);
    EXPECT_EQ(Lines(open.output), (Lines_{"openresult 15", "handle null"}));
}

TEST(Wcxhost, UsageAndLoadingErrors)
{
    struct Case {
        std::string arguments;
        std::string message;  // part of standard error
    } cases[] = {
        {"", "usage"},
        {"frobnicate x", "usage"},
        {"caps", "usage"},
        {"caps C:\\does\\not\\exist.wcx64", "cannot load plugin C:\\does\\not\\exist.wcx64"},
        {"caps " + Quote(BinaryDirectory() + "unrar64.dll"), "does not export GetPackerCaps"},
        {"pack --cancel-at 0 " + ModulePath() + " x y", "--cancel-at"},
        {"pack --bogus " + ModulePath() + " x y", "unknown or incomplete option --bogus"},
    };
    for (const Case& c : cases) {
        ProcessResult result = Wcxhost(c.arguments);
        EXPECT_EQ(result.exitCode, 2) << c.arguments;
        EXPECT_NE(result.errors.find(c.message), std::string::npos) << c.arguments << "\n" << result.errors;
    }
}

class WcxhostPack : public ::testing::Test {
protected:
    std::string src() const { return dir_ / "src\\"; }
    std::string out() const { return dir_ / "out\\"; }
    void File(const std::string& relative, const std::string& content = BuildZip({}))
    {
        std::string path = src() + relative;
        MakeDirectories(path.substr(0, path.rfind('\\')));
        WriteFileBytes(path, content);
    }
    ProcessResult Pack(const std::string& options, const std::string& names)
    {
        return Wcxhost("pack " + options + " " + plugin_ + " " + Quote(out() + "new.zip") + " " + Quote(src()) + " " +
                       names);
    }
    // Packs with a copy of the module whose settings file holds these value elements.
    void UseSettings(const std::string& elements)
    {
        MakeDirectories(dir_ / "plugin");
        CopyFileA((BinaryDirectory() + "ravelpak.wcx64").c_str(), (dir_ / "plugin\\ravelpak.wcx64").c_str(), FALSE);
        WriteFileBytes(dir_ / "plugin\\ravelpak.xml",
                       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<RavelpakSettings>\r\n\t<General>\r\n" +
                           elements + "\t</General>\r\n</RavelpakSettings>\r\n");
        plugin_ = Quote(dir_ / "plugin\\ravelpak.wcx64");
    }
    TempDir dir_;
    std::string plugin_ = ModulePath();
};

// A directory selected in the panel expands as the host expands it: the directory entry, its
// files, then its subdirectories, each level in name order.
TEST_F(WcxhostPack, DirectoriesExpandLikeTheHostsSelection)
{
    File("Show\\show.zip");
    File("Show\\a.nfo");
    File("Show\\Extras\\e.zip");
    File("Show\\Extras\\Deep\\d.zip");
    File("Show\\B\\b.zip");
    File("loose.zip");
    ProcessResult result = Pack("--trace", "Show loose.zip");
    EXPECT_EQ(result.exitCode, 0);
    std::vector<std::string> reads;
    for (const std::string& line : Lines(result.output))
        if (line.compare(0, 6, "cb 22 ") == 0)
            reads.push_back(line.substr(6 + src().size()));
    EXPECT_EQ(reads, (Lines_{"Show\\a.nfo", "Show\\show.zip", "Show\\B\\b.zip", "Show\\Extras\\e.zip",
                             "Show\\Extras\\Deep\\d.zip", "loose.zip"}));
    EXPECT_EQ(ListTree(out()), (Lines_{"Show\\", "Show\\B\\", "Show\\Extras\\", "Show\\Extras\\Deep\\"}));
    EXPECT_EQ(Lines(result.output).back(), "result 0");
}

// Each directory is a group: verified against its SFV file, then read and unpacked into its
// own directory; a group that fails verification is left as it is, SFV file included.
TEST_F(WcxhostPack, GroupsAreVerifiedAndGetTheirOwnDirectories)
{
    UseSettings("<Check-CRC>1</Check-CRC><Delete-sfv>1</Delete-sfv>");
    const std::string emptyZip = BuildZip({});
    File("Good\\good.zip", emptyZip);
    File("Good\\good.sfv", "; checksums\r\ngood.zip " + CrcHex(emptyZip) + "\r\n");
    File("Bad\\bad.zip", "123456789");
    File("Bad\\bad.sfv", "bad.zip 00000000\r\nmissing.r00 FFFFFFFF\r\n");
    ProcessResult result = Pack("--trace", "Bad Good");
    EXPECT_EQ(result.exitCode, 1);
    Lines_ lines = Lines(result.output);
    EXPECT_EQ(lines.back().compare(0, 9, "result 12"), 0) << lines.back();
    lines.pop_back();
    EXPECT_EQ(lines, (Lines_{"cb 0 Verifying bad.zip...", "cb 0 Verifying bad.zip... Done!",
                             "cb 0 Verifying missing.r00...", "cb 0 Verifying missing.r00... Done!",
                             "cb 0 Bad: CRC mismatch in bad.zip, nothing unpacked", "cb 0 Verifying good.zip...",
                             "cb 0 Verifying good.zip... Done!", "cb 22 " + src() + "Good\\good.zip",
                             "cb 0 Good: unpacked"}));
    EXPECT_EQ(ListTree(out()), (Lines_{"Bad\\", "Good\\"}));
    EXPECT_TRUE(FileExists(src() + "Bad\\bad.sfv"));
    EXPECT_FALSE(FileExists(src() + "Good\\good.sfv"));
}

TEST_F(WcxhostPack, TraceShowsEveryCallbackCallInOrder)
{
    const std::string zip = BuildZip({FileEntry("x.bin", PatternBytes(5000, 1), 0)});
    File("x.zip", zip);
    ProcessResult result = Pack("--trace", "x.zip");
    EXPECT_EQ(Lines(result.output), (Lines_{"cb 0 " + src() + "x.bin", "cb " + std::to_string(zip.size()) + " " +
                                                                          src() + "x.zip",
                                            "cb 0 x.zip: unpacked", "result 0"}));
}

TEST_F(WcxhostPack, CancelAtAStopsAfterTheGroupAndExitsWithOne)
{
    File("a\\x.zip");
    File("b\\y.zip");
    ProcessResult result = Pack("--trace --cancel-at 1", "a b");
    EXPECT_EQ(result.exitCode, 1);
    const Lines_ lines = Lines(result.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "cb 22 " + src() + "a\\x.zip");
    EXPECT_EQ(lines.back().compare(0, 9, "result 21"), 0) << lines.back();
    EXPECT_FALSE(FileExists(out() + "b"));
}

TEST_F(WcxhostPack, WithoutCallbackNothingIsTraced)
{
    File("x.zip");
    ProcessResult result = Pack("--no-callback --trace", "x.zip");
    EXPECT_EQ(Lines(result.output), (Lines_{"result 0"}));
}

// --addlist reaches selections that a directory listing cannot: an empty first name, and a
// directory that does not exist in the source folder.
TEST_F(WcxhostPack, AddListFileIsTakenVerbatim)
{
    File("x.zip");
    WriteFileBytes(dir_ / "list.txt", "\r\nx.zip\r\nghost\\sub\\\r\n");
    ProcessResult result = Pack("--trace --addlist " + Quote(dir_ / "list.txt"), "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Lines(result.output), (Lines_{"cb 22 " + src() + "x.zip", "cb 0 x.zip: unpacked", "result 0"}));
    EXPECT_EQ(ListTree(out()), (Lines_{"ghost\\", "ghost\\sub\\"}));
}

}  // namespace
