// A set unpacked while its volumes are deleted holds, at moments, the only copy of a film's
// data in one file: what a hostile header says cannot touch it, and a stop at any call leaves
// a run that the next one finishes.
#include "engine/rar_deleting_copy.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/host_recorder.h"
#include "tests/support/rar5_writer.h"
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
        Journal journal(out(), out());
        journal.Load();
        JobProgress progress(&host);
        journal.ReportTo(&progress);
        UnpackContext context;
        context.progress = &progress;
        context.journal = &journal;
        return resume ? ResumeSetUnderDeletion(context, out(), landed)
                      : UnpackDeletingVolumes(context, volumes, out(), landed);
    }

    TempDir dir_;
};

// Attribute words are attributes: a flag that CreateFileW would take (delete on close), a bit
// of another kind (encrypted) and read-only, which the film gets only once it is whole.
TEST_F(DeletingCopy, AttributesOfTheHeadersAreOnlyAttributes)
{
    const std::string film = PatternBytes(300000, 7);
    const uint32_t kDeleteOnClose = 0x04000000, kEncrypted = 0x4000;
    const auto volumes = Lay(BuildRar5Set({{"film.mkv", film, kDeleteOnClose | kEncrypted | FILE_ATTRIBUTE_READONLY}},
                                          100000));
    HostRecorder host;
    std::vector<JournalFile> landed;
    ASSERT_TRUE(Unpack(volumes, host, false, landed).ok());
    EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), film);
    EXPECT_EQ(Attributes(out() + "film.mkv"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    for (const JournalFile& volume : volumes)
        EXPECT_FALSE(FileExists(volume.path)) << volume.path;
    SetFileAttributesA((out() + "film.mkv").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Stopped at each call in turn, the set is kept whole or continued by the next run: also right
// after the film came out while the file behind it in its last volume is still being copied.
TEST_F(DeletingCopy, StopAtEveryCallIsFinishedByTheNextRun)
{
    const std::string film = PatternBytes(700000, 1), extras = PatternBytes(400000, 2);
    const std::vector<std::string> set = BuildRar5Set({{"film.mkv", film}, {"extras.mkv", extras}}, 200000);
    long calls = 0;
    {
        HostRecorder host;
        std::vector<JournalFile> landed;
        ASSERT_TRUE(Unpack(Lay(set), host, false, landed).ok());
        calls = static_cast<long>(host.calls.size());
    }
    for (long at = 1; at <= calls; ++at) {
        RemoveTree(out());
        MakeDirectories(out());
        const auto volumes = Lay(set);
        HostRecorder stopping;
        stopping.stopAt = at;
        std::vector<JournalFile> landed;
        const Failure stopped = Unpack(volumes, stopping, false, landed);
        HostRecorder host;
        const Failure resumed = Unpack(volumes, host, true, landed);
        EXPECT_TRUE(resumed.ok()) << "stopped at call " << at << ": " << stopped.detail << "; then " << resumed.detail;
        const bool whole = FileExists(out() + "film.mkv") && ReadFileBytes(out() + "film.mkv") == film &&
                           FileExists(out() + "extras.mkv") && ReadFileBytes(out() + "extras.mkv") == extras;
        bool kept = true;
        for (const JournalFile& volume : volumes)
            kept = kept && FileExists(volume.path);
        EXPECT_TRUE(whole || kept) << "stopped at call " << at << ": " << stopped.detail;
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
// unwinds past it; one that does not is taken away as usual. An output is read-only only once
// it is whole, so that a run that dies can always continue its temporary file.
TEST(OutputFileOnDisk, HeldOutputsSurviveUnwindingAndReadOnlyComesLast)
{
    TempDir dir;
    for (const bool held : {true, false}) {
        try {
            OutputFile out(dir / "film.mkv");
            ASSERT_TRUE(out.Create());
            ASSERT_TRUE(out.Write("data", 4));
            if (held)
                out.Hold();
            throw std::bad_alloc();
        } catch (const std::bad_alloc&) {
        }
        EXPECT_EQ(FileExists(dir / "film.mkv.incomplete"), held);
    }
    OutputFile out(dir / "notes.txt");
    ASSERT_TRUE(out.Create(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | 0x04000000));
    EXPECT_EQ(Attributes(dir / "notes.txt.incomplete"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(out.Write("notes", 5));
    ASSERT_TRUE(out.Finish(nullptr, nullptr, nullptr));
    ASSERT_TRUE(out.Place(Existing::KeepBoth));
    EXPECT_EQ(Attributes(dir / "notes.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    SetFileAttributesA((dir / "notes.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
