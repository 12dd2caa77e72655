#include "engine/pack_driver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "host/progress.h"
#include "settings/unpack_settings.h"
#include "tests/support/download_folder.h"
#include "tests/support/host_recorder.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;

class PackDriver : public DownloadFolderTest {
protected:
    void File(const std::string& relative, const std::string& content = "data")
    {
        const std::string path = src() + relative;
        MakeDirectories(path.substr(0, path.rfind('\\')));
        WriteFileBytes(path, content);
    }

    // The texts that end each group.
    static Names Verdicts(const HostRecorder& host)
    {
        Names verdicts;
        for (const std::string& call : host.calls)
            if (call.find(": ") != std::string::npos)
                verdicts.push_back(call.substr(2));
        return verdicts;
    }
};

// Every group is tried; the call reports the first failure, and each group says what became
// of it. Only a group that was delivered loses its SFV files.
TEST_F(PackDriver, EachGroupIsTriedAndTheFirstFailureIsTheResult)
{
    UnpackSettings.checkCrc = 1;
    UnpackSettings.deleteSfv = 1;
    const std::string zip = BuildZip({FileEntry("f.txt", "film")});
    File("a\\x.zip", zip);
    File("a\\a.sfv", SfvBody({{"x.zip", "00000000"}}));
    File("b\\y.zip", zip);
    File("b\\b.sfv", SfvBody({{"y.zip", CrcHex(zip)}}));
    File("b\\extras.sfv.zip", BuildZip({FileEntry("extras.txt", "extra")}));
    File("c\\z.zip", "no archive");
    HostRecorder host;
    EXPECT_EQ(Pack({"a\\", "a\\a.sfv", "a\\x.zip", "b\\", "b\\b.sfv", "b\\extras.sfv.zip", "b\\y.zip", "c\\",
                    "c\\z.zip"}),
              E_BAD_DATA);
    EXPECT_EQ(Verdicts(host), (Names{"a: CRC mismatch in x.zip, nothing unpacked", "b: unpacked",
                                     "c: z.zip is damaged or no ZIP archive"}));
    EXPECT_TRUE(FileExists(src() + "a\\a.sfv"));
    EXPECT_FALSE(FileExists(src() + "b\\b.sfv"));
    EXPECT_EQ(ReadFileBytes(out() + "b\\extras.txt"), "extra");
    EXPECT_EQ(ReadFileBytes(out() + "b\\f.txt"), "film");
}

// The SFV files are the ones whose extension is ".sfv" in any letter case, and every one of a
// group is checked.
TEST_F(PackDriver, EverySfvFileOfAGroupIsChecked)
{
    UnpackSettings.checkCrc = 1;
    File("a.zip", BuildZip({}));
    File("good.sfv", SfvBody({{"a.zip", CrcHex(BuildZip({}))}}));
    File("BAD.SFV", SfvBody({{"a.zip", "00000001"}}));
    HostRecorder host;
    EXPECT_EQ(Pack({"good.sfv", "a.zip", "BAD.SFV"}), E_BAD_DATA);
    EXPECT_EQ(Verdicts(host), (Names{"a.zip: CRC mismatch in a.zip, nothing unpacked"}));
}

// The positive sizes of a run add up to the selected files other than the SFV files, and the
// host is called far less often than once per block.
TEST_F(PackDriver, ProgressAddsUpToTheSelectedFiles)
{
    UnpackSettings.checkCrc = 1;
    const std::string big = PatternBytes(3u << 20, 5);
    const std::string zip = BuildZip({FileEntry("big.bin", big), FileEntry("small.txt", "small")});
    File("r.zip", zip);
    File("r.nfo", "notes");
    File("r.sfv", SfvBody({{"r.zip", CrcHex(zip)}}));
    HostRecorder host;
    EXPECT_EQ(Pack({"r.nfo", "r.sfv", "r.zip"}), 0);
    long long total = 0;
    for (const std::string& call : host.calls)
        total += std::max(0, std::stoi(call));
    EXPECT_EQ(total, static_cast<long long>(zip.size() + 5));
    EXPECT_LT(host.calls.size(), 20u);
}

// A stop is heard between groups and inside one; the next call runs normally.
TEST_F(PackDriver, StopEndsTheCallAndTheNextCallRunsNormally)
{
    UnpackSettings.checkCrc = 1;
    UnpackSettings.deleteSfv = 1;
    File("a\\x.zip", BuildZip({}));
    File("a\\a.sfv", SfvBody({{"x.zip", CrcHex(BuildZip({}))}}));
    File("b\\y.zip", BuildZip({}));
    const Names selection = {"a\\", "a\\a.sfv", "a\\x.zip", "b\\", "b\\y.zip"};
    {
        HostRecorder host;
        host.stopAt = 1;
        EXPECT_EQ(Pack(selection), E_EABORTED);
        EXPECT_TRUE(FileExists(src() + "a\\a.sfv"));
        EXPECT_TRUE(FileExists(src() + "b\\y.zip"));
    }
    HostRecorder host;
    EXPECT_EQ(Pack(selection), 0);
    EXPECT_EQ(Verdicts(host), (Names{"a: unpacked", "b: unpacked"}));
}

TEST_F(PackDriver, LongDestinations)
{
    // Destinations beyond the plain form's length are reached through the long form.
    File("x.zip", BuildZip({FileEntry("x.txt", "x")}));
    File("y.zip", BuildZip({}));
    const std::string deep = std::string(120, 'd') + "\\" + std::string(120, 'e') + "\\";
    EXPECT_EQ(Pack({deep, "x.zip", "b\\", "y.zip"}), 0);
    EXPECT_TRUE(DirectoryExists(out() + "b"));
    EXPECT_EQ(ReadFileBytes("\\\\?\\" + out() + deep + "x.txt"), "x");
}

// Two background jobs with their own callbacks: the second waits, saying so, and each job's
// reports reach its own callback only; a job can be stopped while it waits.
TEST_F(PackDriver, SecondJobWaitsWithItsOwnCallback)
{
    File("a.zip", BuildZip({FileEntry("a.bin", PatternBytes(1u << 20, 2))}));
    File("b.zip", BuildZip({FileEntry("b.bin", PatternBytes(1u << 20, 3))}));
    HostRecorder first, second, impatient;
    first.onCall = [](const std::string&, int) { Sleep(100); };
    impatient.stopAt = 1;
    auto job = [&](const char* name, HostRecorder& host) {
        return RunPackFiles(out() + "x.zip", src(), {name}, &host);
    };
    Outcome firstResult = Outcome::NoMemory, secondResult = Outcome::NoMemory, impatientResult = Outcome::Ok;
    std::thread one([&] { firstResult = job("a.zip", first); });
    Sleep(50);
    std::thread two([&] { secondResult = job("b.zip", second); });
    std::thread three([&] { impatientResult = job("b.zip", impatient); });
    one.join();
    two.join();
    three.join();
    EXPECT_EQ(firstResult, Outcome::Ok);
    EXPECT_EQ(secondResult, Outcome::Ok);
    EXPECT_EQ(impatientResult, Outcome::Stopped);
    EXPECT_EQ(impatient.calls, (Names{"0 Waiting for another unpacking to finish..."}));
    EXPECT_EQ(second.calls.front(), "0 Waiting for another unpacking to finish...");
    for (const std::string& call : first.calls)
        EXPECT_EQ(call.find("b.zip"), std::string::npos) << call;
}

// The user may accept the settings dialog while a background PackFiles runs: the call keeps
// the settings it started with, the next call takes the new ones.
TEST_F(PackDriver, SettingsAcceptedDuringACallApplyFromTheNextCall)
{
    UnpackSettings.checkCrc = 1;
    File("a\\x.zip", BuildZip({}));
    File("b\\b.sfv", SfvBody({{"y.zip", "00000000"}}));
    File("b\\y.zip", BuildZip({}));
    HostRecorder host;
    host.onCall = [&](const std::string& name, int) {
        if (name == "a: unpacked")
            ReplaceUnpackSettings({0, 1, 0, 1, 0, 0}, {});
    };
    const Names selection = {"a\\", "a\\x.zip", "b\\", "b\\b.sfv", "b\\y.zip"};
    EXPECT_EQ(Pack(selection), E_BAD_DATA);
    EXPECT_EQ(Pack(selection), 0);
}

}  // namespace
