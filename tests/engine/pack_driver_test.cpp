#include "engine/pack_driver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/files.h"
#include "host/progress.h"
#include "settings/unpack_settings.h"
#include "tests/support/host_recorder.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;

// A download folder src\ and a destination out\ in a fresh directory, with the engine's
// settings reset around each test.
class PackDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeDirectories(src());
        InstallUnpackSettings(SettingsRecord());
    }
    void TearDown() override { InstallUnpackSettings(SettingsRecord()); }

    std::string src() const { return dir_ / "src\\"; }
    std::string out() const { return dir_ / "out\\"; }

    int Pack(const std::vector<std::string>& names)
    {
        HostProgressSink sink;
        return WcxResultOf(RunPackFiles(out() + "new.zip", src(), names, sink.Connected() ? &sink : nullptr));
    }

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

    TempDir dir_;
};

// Every group is tried; the call reports the first failure, and each group says what became
// of it: a selected file that is not there, later volumes without their first, an entry that
// needs a password, a source that another program wrote to after it was checked (kept: what
// came out of it may not be what it holds now). Only a group that was delivered loses its SFV
// files.
TEST_F(PackDriver, EachGroupIsTriedAndTheFirstFailureIsTheResult)
{
    SettingsRecord settings;
    settings.checkCrc = 1;
    settings.deleteSfv = 1;
    settings.deleteSrcDuring = 1;
    InstallUnpackSettings(settings);
    const std::string zip = BuildZip({FileEntry("f.txt", "film")});
    File("a\\x.zip", zip);
    File("a\\a.sfv", SfvBody({{"x.zip", "00000000"}}));
    File("b\\y.zip", zip);
    File("b\\b.sfv", SfvBody({{"y.zip", CrcHex(zip)}}));
    // Group c fails otherwise: a program holds its archive open.
    File("c\\z.zip", zip);
    HANDLE held = CreateFileA((src() + "c\\z.zip").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    File("d\\y.zip", zip);
    File("e\\rel.part2.rar");
    File("e\\rel.part3.rar");
    ZipEntry locked = FileEntry("film.mkv", "0123456789ab: a film behind a password", 0);
    locked.flags = 1;
    File("f\\locked.zip", BuildZip({locked, FileEntry("f.nfo", "notes")}));
    File("g\\w.zip", zip);
    File("g\\g.sfv", SfvBody({{"w.zip", CrcHex(zip)}}));
    HostRecorder host;
    host.onCall = [&](const std::string& text, int) {
        if (text != "Verifying w.zip... Done!" || FileSize(src() + "g\\w.zip") != zip.size())
            return;
        HANDLE file = CreateFileA((src() + "g\\w.zip").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "more", 4, &written, nullptr);
        CloseHandle(file);
    };
    EXPECT_EQ(Pack({"a\\", "a\\a.sfv", "a\\x.zip", "b\\", "b\\b.sfv", "b\\y.zip", "c\\", "c\\z.zip", "d\\",
                    "d\\gone.zip", "d\\y.zip", "e\\", "e\\rel.part2.rar", "e\\rel.part3.rar", "f\\", "f\\locked.zip",
                    "g\\", "g\\g.sfv", "g\\w.zip"}),
              E_BAD_DATA);
    CloseHandle(held);
    EXPECT_EQ(Verdicts(host),
              (Names{"a: CRC mismatch in x.zip, nothing unpacked", "b: unpacked", "c: cannot read z.zip",
                     "d: gone.zip is missing", "e: rel.part1.rar is missing", "f: film.mkv in locked.zip is encrypted",
                     "g: w.zip changed while it was unpacked; w.zip was kept"}));
    EXPECT_EQ(ReadFileBytes(src() + "g\\w.zip"), zip + "more");
    EXPECT_EQ(ReadFileBytes(out() + "f\\f.nfo"), "notes");
    EXPECT_TRUE(FileExists(src() + "f\\locked.zip"));
    EXPECT_TRUE(FileExists(src() + "a\\a.sfv"));
    EXPECT_FALSE(FileExists(src() + "b\\b.sfv"));
    EXPECT_EQ(ReadFileBytes(out() + "b\\f.txt"), "film");
}

// A manual-reset event that a thread sets once and others wait on, with a timeout so that a
// job that never gets there fails the test instead of hanging it.
class Signal {
public:
    Signal() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Signal() { CloseHandle(event_); }
    void Set() { SetEvent(event_); }
    bool Wait(DWORD ms = 10000) { return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0; }

private:
    HANDLE event_;
};

// Two background jobs with their own callbacks: the second waits, saying so, and each job's
// reports reach its own callback only; a job can be stopped while it waits. The first job
// holds the lock, inside its first call, until the second has said that it waits and the
// stopped one has returned.
TEST_F(PackDriver, SecondJobWaitsWithItsOwnCallback)
{
    File("a.zip", BuildZip({FileEntry("a.bin", PatternBytes(1u << 20, 2))}));
    File("b.zip", BuildZip({FileEntry("b.bin", PatternBytes(1u << 20, 3))}));
    HostRecorder first, second, impatient;
    Signal firstRuns, secondWaits, impatientReturned;
    first.onCall = [&](const std::string&, int) {
        firstRuns.Set();
        secondWaits.Wait();
        impatientReturned.Wait();
    };
    second.onCall = [&](const std::string& text, int) {
        if (text == "Waiting for another unpacking to finish...")
            secondWaits.Set();
    };
    impatient.stopAt = 1;
    auto job = [&](const char* name, HostRecorder& host) {
        return RunPackFiles(out() + "x.zip", src(), {name}, &host);
    };
    Outcome firstResult = Outcome::NoMemory, secondResult = Outcome::NoMemory, impatientResult = Outcome::Ok;
    std::atomic<bool> firstDone{false}, impatientFirst{false};
    std::thread one([&] {
        firstResult = job("a.zip", first);
        firstDone = true;
    });
    EXPECT_TRUE(firstRuns.Wait());
    std::thread two([&] { secondResult = job("b.zip", second); });
    std::thread three([&] {
        impatientResult = job("b.zip", impatient);
        impatientFirst = !firstDone;
        impatientReturned.Set();
    });
    one.join();
    two.join();
    three.join();
    EXPECT_EQ(firstResult, Outcome::Ok);
    EXPECT_EQ(secondResult, Outcome::Ok);
    EXPECT_EQ(impatientResult, Outcome::Stopped);
    EXPECT_TRUE(impatientFirst) << "the stopped job waited for the lock all the same";
    EXPECT_EQ(impatient.calls, (Names{"0 Waiting for another unpacking to finish..."}));
    EXPECT_EQ(second.calls.front(), "0 Waiting for another unpacking to finish...");
    for (const std::string& call : first.calls)
        EXPECT_EQ(call.find("b.zip"), std::string::npos) << call;
}

}  // namespace
