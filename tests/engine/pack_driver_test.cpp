#include "engine/pack_driver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
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
};

TEST_F(PackDriver, SelectionWithoutDirectoriesIsOneGroupReadAfterTheWholeList)
{
    for (const char* name : {"a.zip", "b.zip", "c.zip"})
        File(name);
    ContinueFlag = 1;
    EXPECT_EQ(Pack({"a.zip"}), 0);  // without a callback nothing is read, and the flag stays
    EXPECT_EQ(ContinueFlag, 1);
    HostRecorder host;
    EXPECT_EQ(Pack({"a.zip", "b.zip", "c.zip"}), 0);
    EXPECT_EQ(host.Names(), (Names{src() + "a.zip", src() + "b.zip", src() + "c.zip"}));
    EXPECT_EQ(host.calls[1], "0 " + src() + "a.zip");  // the empty read that ends a file
}

// Every group's directory exists before the first read. A group whose verification fails is
// left, SFV file included, and the next group goes on.
TEST_F(PackDriver, GroupsAreVerifiedThenReadAndAFailedOneIsLeft)
{
    UnpackSettings.checkCrc = 1;
    UnpackSettings.deleteSfv = 1;
    File("a\\x.zip");
    File("a\\a.sfv", SfvBody({{"x.zip", "00000000"}}));
    const std::string emptyZip = BuildZip({});
    File("b\\y.zip", emptyZip);
    File("b\\b.sfv", SfvBody({{"y.zip", CrcHex(emptyZip)}}));
    File("c\\z.rar");
    HostRecorder host;
    bool existedAtFirstRead = false;
    host.onCall = [&](const std::string& name, int) {
        if (name == src() + "b\\y.zip")
            existedAtFirstRead = DirectoryExists(out() + "b") && DirectoryExists(out() + "c");
    };
    EXPECT_EQ(Pack({"a\\", "a\\a.sfv", "a\\x.zip", "b\\", "b\\b.sfv", "b\\y.zip", "c\\", "c\\z.rar"}), 0);
    EXPECT_EQ(host.Names(), (Names{"Verifying x.zip...", "Verifying x.zip... Done!", "Verifying y.zip...",
                                   "Verifying y.zip... Done!", src() + "b\\y.zip", src() + "c\\z.rar"}));
    EXPECT_TRUE(existedAtFirstRead);
    EXPECT_TRUE(FileExists(src() + "a\\a.sfv"));
    EXPECT_FALSE(FileExists(src() + "b\\b.sfv"));
}

TEST_F(PackDriver, WithoutCheckingTheSfvFileIsNotReadButDeletedWhenAsked)
{
    UnpackSettings.deleteSfv = 1;
    File("a.zip", BuildZip({}));
    File("a.sfv", SfvBody({{"a.zip", "00000000"}}));
    HostRecorder host;
    EXPECT_EQ(Pack({"a.sfv", "a.zip"}), 0);
    EXPECT_EQ(host.Names(), (Names{src() + "a.zip"}));
    EXPECT_FALSE(FileExists(src() + "a.sfv"));
}

TEST_F(PackDriver, SfvOfAGroupWithoutSourcesAtADirectoryEntryAndAtTheEnd)
{
    UnpackSettings.checkCrc = 1;
    UnpackSettings.deleteSfv = 1;
    File("a\\x.zip");
    File("a\\a.sfv", SfvBody({{"x.zip", CrcHex("data")}}));
    File("b\\b.sfv", SfvBody({{"x.zip", CrcHex("data")}}));
    HostRecorder host;
    // Group a holds only its SFV file and is closed by b\: verified and deleted. Group b,
    // also without sources, ends the list and is not closed at all.
    EXPECT_EQ(Pack({"a\\", "a\\a.sfv", "b\\", "b\\b.sfv"}), 0);
    EXPECT_EQ(host.Names(), (Names{"Verifying x.zip...", "Verifying x.zip... Done!"}));
    EXPECT_FALSE(FileExists(src() + "a\\a.sfv"));
    EXPECT_TRUE(FileExists(src() + "b\\b.sfv"));
}

// The destination directory comes from the packed file's name, relative to the current
// directory when it has no backslash, and is made even when nothing is selected.
TEST_F(PackDriver, DestinationDirectoriesFollowTheSelection)
{
    EXPECT_EQ(RunPackFiles((out() + "deep\\new.zip").c_str(), src().c_str(), std::string(2, '\0').data()), 0);
    EXPECT_TRUE(DirectoryExists(out() + "deep"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(out().c_str());
    File("a\\sub\\x.zip");
    EXPECT_EQ(Pack({"a\\", "a\\sub\\", "a\\sub\\x.zip"}, "new.zip"), 0);
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(ListTree(out()), (Names{"a\\", "a\\sub\\", "deep\\"}));
}

TEST_F(PackDriver, NullArgumentsDoNothing)
{
    const std::string list = AddList({"a\\"});
    HostRecorder host;
    EXPECT_EQ(RunPackFiles(nullptr, src().c_str(), list.data()), 0);
    EXPECT_EQ(RunPackFiles((out() + "x.zip").c_str(), nullptr, list.data()), 0);
    EXPECT_EQ(RunPackFiles((out() + "x.zip").c_str(), src().c_str(), nullptr), 0);
    EXPECT_FALSE(DirectoryExists(out()));
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(PackDriver, StopDuringVerificationDropsTheRestAndTheNextCallRunsNormally)
{
    UnpackSettings.checkCrc = 1;
    UnpackSettings.deleteSfv = 1;
    File("a\\x.zip");
    File("a\\a.sfv", SfvBody({{"x.zip", CrcHex("data")}}));
    File("b\\y.zip");
    const Names selection = {"a\\", "a\\a.sfv", "a\\x.zip", "b\\", "b\\y.zip", "c\\"};
    {
        HostRecorder host;
        host.stopAt = 1;
        EXPECT_EQ(Pack(selection), 21);
        EXPECT_EQ(host.calls.size(), 1u);
        EXPECT_TRUE(FileExists(src() + "a\\a.sfv"));
        EXPECT_TRUE(DirectoryExists(out() + "b"));
        EXPECT_FALSE(DirectoryExists(out() + "c"));
    }
    HostRecorder host;
    EXPECT_EQ(Pack(selection), 0);
    EXPECT_EQ(ContinueFlag, 1);
    EXPECT_EQ(host.Names().back(), src() + "b\\y.zip");
    EXPECT_TRUE(DirectoryExists(out() + "c"));
}

// Paths that do not fit MAX_PATH are never used: the group behind a too-long directory is
// passed over, the others are processed.
TEST_F(PackDriver, DestinationsTooLongForAPathArePassedOver)
{
    File("x.zip");
    File("y.zip");
    HostRecorder host;
    EXPECT_EQ(Pack({std::string(240, 'd') + "\\", "x.zip", "b\\", "y.zip"}), 0);
    EXPECT_EQ(host.Names(), (Names{src() + "y.zip"}));
    EXPECT_TRUE(DirectoryExists(out() + "b"));
}

TEST_F(PackDriver, SecondCallWaitsForTheFirst)
{
    File("a.zip", PatternBytes(40 * 4096, 2));
    File("b.zip", PatternBytes(40 * 4096, 3));
    std::mutex lock;
    std::vector<DWORD> callers;
    HostRecorder host;
    host.onCall = [&](const std::string&, int) {
        {
            std::lock_guard<std::mutex> guard(lock);
            callers.push_back(GetCurrentThreadId());
        }
        Sleep(1);
    };
    auto call = [&](const char* name) {
        const std::string list = AddList({name});
        RunPackFiles((out() + "x.zip").c_str(), src().c_str(), list.data());
    };
    std::thread first([&] { call("a.zip"); });
    std::thread second([&] { call("b.zip"); });
    first.join();
    second.join();
    // Serialised calls: all callbacks of one call, then all of the other.
    int switches = 0;
    for (size_t i = 1; i < callers.size(); ++i)
        switches += callers[i] != callers[i - 1];
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(callers.size(), 2u * 41u);  // 40 full reads and the empty one, per file
}

// The user may accept the settings dialog while a background PackFiles runs: the call keeps
// the settings it started with, the next call takes the new ones.
TEST_F(PackDriver, SettingsAcceptedDuringACallApplyFromTheNextCall)
{
    UnpackSettings.checkCrc = 1;
    File("a\\x.zip");
    File("b\\b.sfv", SfvBody({{"y.zip", "00000000"}}));
    File("b\\y.zip");
    HostRecorder host;
    host.onCall = [&](const std::string& name, int) {
        if (name == src() + "a\\x.zip")
            ReplaceUnpackSettings({0, 1, 0, 1, 0, 0}, {});
    };
    const Names selection = {"a\\", "a\\x.zip", "b\\", "b\\b.sfv", "b\\y.zip"};
    EXPECT_EQ(Pack(selection), 0);
    EXPECT_EQ(host.Names(), (Names{src() + "a\\x.zip", "Verifying y.zip...", "Verifying y.zip... Done!"}));
    host.calls.clear();
    EXPECT_EQ(Pack(selection), 0);
    EXPECT_EQ(host.Names(), (Names{src() + "a\\x.zip", src() + "b\\y.zip"}));
}

}  // namespace
