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
    void File(const std::string& relative, const std::string& content = "data")
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
        if (line.compare(0, 5, "cb 0 ") == 0)
            reads.push_back(line.substr(5 + src().size()));
    EXPECT_EQ(reads, (Lines_{"Show\\a.nfo", "Show\\show.zip", "Show\\B\\b.zip", "Show\\Extras\\e.zip",
                             "Show\\Extras\\Deep\\d.zip", "loose.zip"}));
    EXPECT_EQ(ListTree(out()), (Lines_{"Show\\", "Show\\B\\", "Show\\Extras\\", "Show\\Extras\\Deep\\"}));
    EXPECT_EQ(Lines(result.output).back(), "result 0");
}

TEST_F(WcxhostPack, TraceShowsEveryCallbackCallInOrder)
{
    File("x.zip", PatternBytes(5000, 1));
    ProcessResult result = Pack("--trace", "x.zip");
    EXPECT_EQ(Lines(result.output), (Lines_{"cb 4096 " + src() + "x.zip", "cb 904 " + src() + "x.zip",
                                            "cb 0 " + src() + "x.zip", "result 0"}));
}

TEST_F(WcxhostPack, CancelAtAStopsAfterTheGroupAndExitsWithOne)
{
    File("a\\x.zip");
    File("b\\y.zip");
    ProcessResult result = Pack("--trace --cancel-at 1", "a b");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(Lines(result.output), (Lines_{"cb 4 " + src() + "a\\x.zip", "result 21"}));
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
    EXPECT_EQ(Lines(result.output), (Lines_{"cb 4 " + src() + "x.zip", "cb 0 " + src() + "x.zip", "result 0"}));
    EXPECT_EQ(ListTree(out()), (Lines_{"ghost\\", "ghost\\sub\\"}));
}

}  // namespace
