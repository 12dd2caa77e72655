// The host stand-in's own promise that the other suites lean on: a cancel that sticks like
// the file manager's. That standard error on NUL costs nothing is counted by
// tests/wcxhost_null_stderr.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Lines_;

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
    ProcessResult Pack(const std::string& options, const std::string& names, const std::string& errorsTo = "")
    {
        return RunWcxhostPack(options, BinaryDirectory() + "ravelpak.wcx64", out() + "new.zip", src(), names, errorsTo);
    }
    TempDir dir_;
};

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

}  // namespace
