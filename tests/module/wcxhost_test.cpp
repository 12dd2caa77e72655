// End to end through the host stand-in: wcxhost loads the built module and drives it as the
// file manager would.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

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
        {"pack --cancel-after-ms -1 " + ModulePath() + " x y", "--cancel-after-ms"},
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
    EXPECT_EQ(LastLine(result.output), "result 0");
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

size_t CallCount(const std::string& output)
{
    const Lines_ lines = Lines(output);
    return std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("cb ", 0) == 0; });
}

// Once it answered stop, wcxhost answers stop to every later call, as a file manager does
// after Cancel; either option starts it.
TEST_F(WcxhostPack, CancelIsStickyAndNamedInTheResult)
{
    File("a\\x.zip", PatternBytes(9000, 1));
    File("b\\y.zip", PatternBytes(9000, 2));
    const size_t uncancelled = CallCount(Pack("--trace", "a b").output);
    struct Case {
        std::string options;
        size_t firstStop;
    } cases[] = {
        {"--cancel-at 2", 2},
        {"--cancel-after-ms 0", 1},
        {"--cancel-at 3 --cancel-after-ms 0", 1},
    };
    for (const Case& c : cases) {
        ProcessResult result = Pack("--trace " + c.options, "a b");
        EXPECT_EQ(result.exitCode, 1) << c.options;
        EXPECT_EQ(LastLine(result.output), "result 21 E_EABORTED") << c.options;
        const size_t calls = CallCount(result.output);
        EXPECT_LT(calls, uncancelled) << c.options;
        const std::string stops = "wcxhost: answered stop to " + std::to_string(calls - c.firstStop + 1) + " of " +
                                  std::to_string(calls) + " calls, from call " + std::to_string(c.firstStop);
        const Lines_ errors = Lines(result.errors);
        EXPECT_NE(std::find(errors.begin(), errors.end(), stops), errors.end()) << c.options << "\n" << result.errors;
    }
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

// A release that makes many progress calls, packed with standard error on a file or on NUL.
class WcxhostLiveLine : public WcxhostPack {
protected:
    void SetUp() override { File("Big\\big.zip", BuildZip({FileEntry("big.bin", PatternBytes(6 << 20, 3), 0)})); }
    struct Run {
        int exitCode = -1;
        double ms = 0;
        std::string output, errors;
    };
    Run PackTo(const std::string& options, const std::string& errorFile)
    {
        const std::string out = dir_ / ("out" + std::to_string(++runs_) + "\\");
        std::string command = Quote(BinaryDirectory() + "wcxhost.exe") + " pack " + options + " " + plugin_ + " " +
                              Quote(out + "new.zip") + " " + Quote(src()) + " Big";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        auto open = [&](const std::string& path) {
            return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               path == "NUL" ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr);
        };
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = INVALID_HANDLE_VALUE;
        startup.hStdOutput = open(dir_ / "output.txt");
        startup.hStdError = open(errorFile);
        PROCESS_INFORMATION process = {};
        Run run;
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            WaitForSingleObject(process.hProcess, INFINITE);
            QueryPerformanceCounter(&end);
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            run.exitCode = static_cast<int>(code);
            run.ms = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        CloseHandle(startup.hStdOutput);
        CloseHandle(startup.hStdError);
        run.output = ReadFileBytes(dir_ / "output.txt");
        if (errorFile != "NUL")
            run.errors = ReadFileBytes(errorFile);
        return run;
    }
    int runs_ = 0;
};

// NUL is a character device but no console: no live line is drawn on it, so it costs nothing.
TEST_F(WcxhostLiveLine, NullStandardErrorIsNoSlowerThanAFile)
{
    double onFile = 1e9, onNul = 1e9;
    for (int round = 0; round < 2; ++round) {
        Run file = PackTo("", dir_ / "errors.txt"), nul = PackTo("", "NUL");
        ASSERT_EQ(file.exitCode, 0);
        ASSERT_EQ(nul.exitCode, 0);
        EXPECT_EQ(LastLine(nul.output), "result 0");
        onFile = std::min(onFile, file.ms);
        onNul = std::min(onNul, nul.ms);
    }
    std::printf("standard error on a file: %.0f ms, on NUL: %.0f ms\n", onFile, onNul);
    EXPECT_LT(onNul, 3 * onFile + 500);
}

// Off a console the live line appears only with --progress, redrawn at most every 250 ms
// plus a final drawing; the later of --progress and --quiet wins.
TEST_F(WcxhostLiveLine, ProgressForcesAThrottledLineAndQuietSilencesIt)
{
    struct Case {
        std::string options;
        bool drawn;
    } cases[] = {
        {"", false},
        {"--trace", false},
        {"--progress", true},
        {"--progress --quiet", false},
        {"--quiet --trace --progress", true},
    };
    for (const Case& c : cases) {
        Run run = PackTo(c.options, dir_ / "errors.txt");
        EXPECT_EQ(run.exitCode, 0) << c.options;
        if (!c.drawn) {
            EXPECT_EQ(run.errors, "") << c.options;
            continue;
        }
        const size_t drawings = std::count(run.errors.begin(), run.errors.end(), '\r') - 1;
        EXPECT_GE(drawings, 1u) << c.options;
        EXPECT_LE(drawings, run.ms / 250 + 2) << c.options << ": " << run.ms << " ms";
        const std::string last = run.errors.substr(run.errors.rfind('\r', run.errors.size() - 3));
        int percent = 0;
        EXPECT_EQ(std::sscanf(last.c_str(), "\r%d%%", &percent), 1) << c.options << "\n" << last;
        EXPECT_GT(percent, 0) << last;
        EXPECT_EQ(run.errors.substr(run.errors.size() - 2), "\r\n") << c.options;
    }
}

}  // namespace
