// A set unpacked while its volumes are deleted holds, at moments, the only copy of a film's
// data in one file: a stop at any call leaves a run that the next one finishes, and an
// exception that unwinds keeps that file.
#include "engine/rar_deleting_copy.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/host_recorder.h"
#include "tests/support/archive_fixtures.h"
#include "tests/support/test_files.h"

namespace {

// A file's attributes but the archive bit, which the platform may add.
DWORD Attributes(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE);
}

class DeletingCopy : public ::testing::Test {
protected:
    // Writes the volumes of the set into the destination and lists them as the stage does.
    std::vector<JournalFile> Lay(const std::vector<std::string>& volumes)
    {
        std::vector<JournalFile> files;
        for (size_t i = 0; i < volumes.size(); ++i) {
            const std::string path = out() + "set.part" + std::to_string(i + 1) + ".rar";
            WriteFileBytes(path, volumes[i]);
            files.push_back({path, volumes[i].size(), 0});
        }
        return files;
    }
    std::string out() const { return dir_ / ""; }

    Failure Unpack(const std::vector<JournalFile>& volumes, HostRecorder& host, bool resume,
                   std::vector<JournalFile>& landed)
    {
        Journal journal(out(), out(), std::string(32, 'k'));
        journal.Load();
        JobProgress progress(&host);
        journal.ReportTo(&progress);
        const DiskRoot root(out());
        UnpackContext context;
        context.progress = &progress;
        context.journal = &journal;
        context.source = context.destination = &root;
        SeenFiles seen;
        context.seen = &seen;
        for (const JournalFile& volume : volumes)
            seen.Look(root, volume.path);
        return resume ? ResumeSetUnderDeletion(context, out(), landed)
                      : UnpackDeletingVolumes(context, volumes, out(), landed);
    }

    TempDir dir_;
};

// Stopped at each call in turn, the set is kept whole or continued by the next run: also right
// after the film came out while the file behind it in its last volume is still being copied,
// and where the film comes out beside a file of its name. A new download that the user puts
// under the name of a volume that went stays unread.
TEST_F(DeletingCopy, StopAtEveryCallIsFinishedByTheNextRun)
{
    // Two films of 700000 bytes in volumes of 200k: the second begins in the first one's last.
    const std::string film = FixtureSource("pair1.mkv"), extras = FixtureSource("pair2.mkv");
    std::vector<std::string> set;
    for (int part = 1; part <= 7; ++part)
        set.push_back(ReadFileBytes(FixturePath("pair.part" + std::to_string(part) + ".rar")));
    long calls = 0;
    {
        HostRecorder host;
        std::vector<JournalFile> landed;
        ASSERT_TRUE(Unpack(Lay(set), host, false, landed).ok());
        calls = static_cast<long>(host.calls.size());
    }
    for (long at = 1; at <= 2 * calls; ++at) {
        RemoveTree(out());
        MakeDirectories(out());
        const bool beside = at > calls;
        if (beside)
            WriteFileBytes(out() + "pair1.mkv", "the user's");
        const std::string landing = beside ? "pair1 (2).mkv" : "pair1.mkv";
        const auto volumes = Lay(set);
        HostRecorder stopping;
        stopping.stopAt = beside ? at - calls : at;
        std::vector<JournalFile> landed;
        const Failure stopped = Unpack(volumes, stopping, false, landed);
        const bool replaced = !FileExists(volumes[0].path);
        if (replaced)
            WriteFileBytes(volumes[0].path, "a new download");
        HostRecorder host;
        const Failure resumed = Unpack(volumes, host, true, landed);
        EXPECT_TRUE(resumed.ok()) << "stopped at call " << at << ": " << stopped.detail << "; then " << resumed.detail;
        const bool whole = FileExists(out() + landing) && ReadFileBytes(out() + landing) == film &&
                           FileExists(out() + "pair2.mkv") && ReadFileBytes(out() + "pair2.mkv") == extras;
        bool kept = true;
        for (const JournalFile& volume : volumes)
            kept = kept && FileExists(volume.path);
        EXPECT_TRUE(whole || kept) << "stopped at call " << at << ": " << stopped.detail;
        EXPECT_TRUE(!beside || ReadFileBytes(out() + "pair1.mkv") == "the user's") << "stopped at call " << at;
        EXPECT_TRUE(!replaced || ReadFileBytes(volumes[0].path) == "a new download") << "stopped at call " << at;
    }
}

// An older set cannot be continued from its headers once a volume is gone: it is kept, for
// want of room, and says what would have been needed.
TEST_F(DeletingCopy, OlderSetsAreKeptForWantOfRoom)
{
    const auto volumes = Lay({std::string("Rar!\x1A\x07\x00", 7) + std::string(100, 'x'), std::string(100, 'y')});
    HostRecorder host;
    std::vector<JournalFile> landed;
    const Failure failure = Unpack(volumes, host, false, landed);
    EXPECT_EQ(failure.outcome, Outcome::NoRoom);
    EXPECT_EQ(failure.detail, "not room enough for set.part1.rar: only a stored RAR 5 set can be unpacked while its "
                              "volumes are deleted; the set was kept");
    for (const JournalFile& volume : volumes)
        EXPECT_TRUE(FileExists(volume.path));
}

// An output that holds the only copy of deleted volumes' data survives an exception that
// unwinds past it; one that does not is taken away as usual. A temporary file is made only under
// a free name: a file that stands under it, read-only or not, stays as it was. Of the attribute
// word that an archive states, a flag of the platform's call (delete on close) and a bit of
// another kind (encrypted) are dropped, and read-only comes only once the output is whole, so
// that a run that dies can always continue its temporary file.
TEST(OutputFileOnDisk, HeldOutputsSurviveUnwindingAndReadOnlyComesLast)
{
    TempDir dir;
    const DiskRoot root(dir / "");
    for (const bool held : {true, false}) {
        std::string temporary;
        try {
            OutputFile out(root, dir / "film.mkv");
            ASSERT_TRUE(out.Create());
            temporary = out.temporary();
            ASSERT_TRUE(out.Write(held ? "held" : "data", 4));
            if (held)
                out.Hold();
            throw std::bad_alloc();
        } catch (const std::bad_alloc&) {
        }
        EXPECT_EQ(FileExists(temporary), held);
    }
    EXPECT_EQ(ReadFileBytes(dir / "film.mkv.incomplete"), "held");
    WriteFileBytes(dir / "notes.txt.incomplete", "the user's");
    SetFileAttributesA((dir / "notes.txt.incomplete").c_str(), FILE_ATTRIBUTE_READONLY);
    OutputFile out(root, dir / "notes.txt");
    ASSERT_TRUE(out.Create(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE |
                           FILE_ATTRIBUTE_ENCRYPTED));
    EXPECT_EQ(out.temporary(), dir / "notes.txt.2.incomplete");
    EXPECT_EQ(Attributes(dir / "notes.txt.2.incomplete"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(ReadFileBytes(dir / "notes.txt.incomplete"), "the user's");
    EXPECT_EQ(Attributes(dir / "notes.txt.incomplete"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    SetFileAttributesA((dir / "notes.txt.incomplete").c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(out.Write("notes", 5));
    ASSERT_TRUE(out.Finish(nullptr, nullptr, nullptr));
    ASSERT_TRUE(out.Place(Existing::KeepBoth));
    EXPECT_EQ(Attributes(dir / "notes.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    SetFileAttributesA((dir / "notes.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
