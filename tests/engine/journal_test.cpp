// The journal is input like any file on disk: what a run committed reads back as it was, and
// one that is cut, changed, of another key, job or format, or that speaks of files outside its
// group is never acted on.
#include "engine/journal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/output_file.h"
#include "base/paths.h"
#include "engine/rar_deleting_copy.h"
#include "tests/support/archive_fixtures.h"
#include "tests/support/test_files.h"

namespace {

FileProof CrcProof(uint64_t size, uint32_t crc)
{
    FileProof proof;
    proof.size = size;
    proof.hasCrc = true;
    proof.crc = crc;
    return proof;
}

// The records of a run that died while deleting the volumes of a set, in the destination `out`
// of the download folder `src`.
JournalRecords Records(const std::string& out, const std::string& src)
{
    JournalRecords records;
    records.runs = {"4f1c09aa"};
    records.verified = {{src + "a.zip", 7, 0x12345678}};
    records.consumed = {{src + "a.zip", src + "a.zip", CrcProof(7, 0x12345678)}};
    records.outputs = {{src + "a.zip", {out + "a.part1.rar", 10, 0xCAFE}}, {src + "a.zip", {out + "a.nfo", 4, 0xF00D, true, true}}};
    records.renamed = {{src + "xxxb.rar", src + "b.rar"}};
    records.named = {{src + "4f1c09", src + "d.part2.rar"}};
    records.repaired = {{src + "d.part3.rar", src + "d.part3.rar", src + "d.part3.rar.damaged", FileProof()},
                        {src + "d.part4.rar", "", "", FileProof()}};
    SetUnderDeletion& set = records.set;
    set.volumes = {{out + "c.part1.rar", 100, 0}, {out + "c.part2.rar", 50, 0}};
    set.deleted = 1;
    set.entry = out + "c.mkv";
    set.temporary = out + "c.mkv.4f1c09aa.incomplete";
    set.entryBytes = 90;
    set.entryCrc = 0xBEEF;
    set.outputs = {{out + "c.nfo", 3, 0xF00, true}};
    set.targets = {out + "c.nfo"};
    return records;
}

const std::string kKey(32, '\x5a');

class JournalFiles : public ::testing::Test {
protected:
    std::string out() const { return dir_ / "out\\"; }
    std::string src() const { return dir_ / "src\\"; }
    std::string path() const { return Fresh().path(); }
    void SetUp() override
    {
        MakeDirectories(out());
        MakeDirectories(src());
    }
    Journal Fresh(const std::string& key = kKey) const { return Journal(out(), src(), key); }
    // Writes the records as a run of the job does, and lets the journal go.
    void Plant(const JournalRecords& records) const
    {
        Journal journal = Fresh();
        ASSERT_EQ(journal.Load(), Journal::LoadResult::None);
        ASSERT_TRUE(RecordAll(journal, records));
    }

    TempDir dir_;
};

// What a run committed reads back as it was, also after many changes, which leave the file
// about the size of two states; a state cut by a crash gives way to the one before it.
TEST_F(JournalFiles, WhatWasCommittedReadsBack)
{
    Plant(Records(out(), src()));
    const size_t one = ReadFileBytes(path()).size();
    Journal journal = Fresh();
    ASSERT_EQ(journal.Load(), Journal::LoadResult::Loaded);
    EXPECT_TRUE(journal.VerifiedAndConsumed(src() + "A.ZIP", 0x12345678));
    EXPECT_FALSE(journal.VerifiedAndConsumed(src() + "a.zip", 0x12345679));
    ASSERT_NE(journal.ProofOf(src() + "a.zip"), nullptr);
    EXPECT_EQ(journal.ProofOf(src() + "a.zip")->crc, 0x12345678u);
    // A file that stood there with an output's content is no output of the job's own.
    ASSERT_EQ(journal.OutputsOf(src() + "a.zip").size(), 2u);
    EXPECT_EQ(journal.OutputsOf(src() + "a.zip")[0].crc, 0xCAFEu);
    EXPECT_TRUE(journal.IsOutput(out() + "a.part1.rar"));
    EXPECT_FALSE(journal.IsOutput(out() + "a.nfo"));
    EXPECT_TRUE(journal.OutputsOf(src() + "a.zip")[1].secondLevel);
    EXPECT_EQ(journal.RenamedFrom(src() + "xxxb.rar"), src() + "b.rar");
    // The deleted volume of the set counts as consumed, the one left does not.
    EXPECT_TRUE(journal.IsConsumed(out() + "c.part1.rar"));
    EXPECT_FALSE(journal.IsConsumed(out() + "c.part2.rar"));
    ASSERT_NE(journal.set(), nullptr);
    EXPECT_EQ(journal.set()->entryBytes, 90u);
    EXPECT_EQ(journal.set()->entryCrc, 0xBEEFu);
    EXPECT_EQ(journal.set()->temporary, out() + "c.mkv.4f1c09aa.incomplete");
    EXPECT_TRUE(journal.set()->outputs[0].stood);
    for (uint64_t bytes = 91; bytes <= 140; ++bytes) {
        SetUnderDeletion set = *journal.set();
        set.entryBytes = bytes;
        ASSERT_TRUE(journal.Record([&](Journal& next) { next.SetProgress(set); }));
    }
    journal = Fresh();  // lets the file go
    std::string text = ReadFileBytes(path());
    EXPECT_LE(text.size(), 2 * one + 64);
    WriteFileBytes(path(), text.substr(0, text.size() - 1));
    Journal cut = Fresh();
    ASSERT_EQ(cut.Load(), Journal::LoadResult::Loaded);
    EXPECT_EQ(cut.set()->entryBytes, 139u);
    // An entry whose temporary name was cut short to be a name at all.
    cut = Fresh();
    JournalRecords longEntry = Records(out(), src());
    longEntry.set.entry = out() + std::string(250, 'c') + ".mkv";
    longEntry.set.temporary = OutputFile::TemporaryName(longEntry.set.entry, "4f1c09aa", 2);
    DeleteFileA(path().c_str());
    Plant(longEntry);
    EXPECT_EQ(Fresh().Load(), Journal::LoadResult::Loaded);
}

// Anything but a whole journal of this job, vouched for by its key, is never used nor touched:
// damaged, cut, of another key, and one that names a file outside the destination and the
// download folder, or in a folder of the wrong kind for its record, which no run writes.
TEST_F(JournalFiles, AnythingButTheJobsOwnIsNotUsedNorTouched)
{
    Plant(Records(out(), src()));
    const std::string good = ReadFileBytes(path());
    std::string changed = good;
    changed[good.size() / 2] ^= 1;
    std::vector<std::pair<std::string, std::string>> texts = {
        {"half", good.substr(0, good.size() / 2)},
        {"last byte cut", good.substr(0, good.size() - 1)},
        {"one bit changed", changed},
        {"not a journal", "not a journal\n"},
        {"empty", ""},
    };
    const std::string elsewhere = dir_ / "documents\\thesis.docx";
    const std::vector<std::pair<std::string, void (*)(JournalRecords&, const std::string&)>> unconfined = {
        {"consumed elsewhere", [](JournalRecords& r, const std::string& p) { r.consumed[0].path = p; }},
        {"output elsewhere", [](JournalRecords& r, const std::string& p) { r.outputs[0].second.path = p; }},
        {"rename elsewhere", [](JournalRecords& r, const std::string& p) { r.renamed[0].second = p; }},
        {"consumed above", [](JournalRecords& r, const std::string& p) { r.consumed[0].path = p; }},
        {"damaged kept under another name",
         [](JournalRecords& r, const std::string&) { r.repaired[0].damaged = r.repaired[0].path + ".old"; }},
        {"set entry written to another file", [](JournalRecords& r, const std::string&) { r.set.temporary = r.set.entry + ".nfo"; }},
        {"set entry written to another run's file",
         [](JournalRecords& r, const std::string&) { r.set.temporary = r.set.entry + ".5e2d1abb.incomplete"; }},
        {"output in the download folder",
         [](JournalRecords& r, const std::string&) { r.outputs[0].second.path = r.renamed[0].first; }},
        {"rename in the destination", [](JournalRecords& r, const std::string&) { r.renamed[0].second = r.set.entry; }},
    };
    for (const auto& change : unconfined) {
        JournalRecords records = Records(out(), src());
        change.second(records, change.first == std::string("consumed above") ? out() + "..\\x" : elsewhere);
        DeleteFileA(path().c_str());
        Journal journal = Fresh();
        journal.Load();
        // What no folder of the job holds cannot be written at all.
        const bool recorded = RecordAll(journal, records);
        EXPECT_EQ(recorded, std::string(change.first).find("elsewhere") == std::string::npos) << change.first;
        if (recorded) {
            journal = Fresh();
            texts.emplace_back(change.first, ReadFileBytes(path()));
        }
    }
    for (const auto& text : texts) {
        WriteFileBytes(path(), text.second);
        Journal journal = Fresh();
        EXPECT_EQ(journal.Load(), Journal::LoadResult::Foreign) << text.first;
        EXPECT_FALSE(journal.usable()) << text.first;
        EXPECT_FALSE(journal.IsConsumed(src() + "a.zip")) << text.first;
        EXPECT_EQ(journal.set(), nullptr) << text.first;
        EXPECT_FALSE(journal.Record([](Journal&) {})) << text.first;
        journal.Remove();
        EXPECT_EQ(ReadFileBytes(path()), text.second) << text.first;
    }
    // Under another key the job's journal has another name; a file of an older version's name,
    // or of another job's, is told and left as it is.
    WriteFileBytes(out() + ".ravelpak-journal", "ravelpak journal 3\n");
    Journal other = Fresh(std::string(32, '\x33'));
    EXPECT_NE(other.path(), path());
    EXPECT_EQ(other.Load(), Journal::LoadResult::None);
    EXPECT_EQ(other.others(), (std::vector<std::string>{".ravelpak-journal", OwnName(path())}));
    EXPECT_TRUE(other.Record([](Journal&) {}));
    other.Remove();
    EXPECT_EQ(ListTree(out()), (std::vector<std::string>{".ravelpak-journal", OwnName(path())}));
    // Without a key there is no journal.
    EXPECT_EQ(Fresh("").Load(), Journal::LoadResult::NoKey);
}

// A run holds its journal: another run of the same job is told so; a change that cannot be
// put on the disk is not taken, and the journal in memory stays what the disk says.
TEST_F(JournalFiles, HeldAndCommittedOrUnchanged)
{
    Journal journal = Fresh();
    ASSERT_EQ(journal.Load(), Journal::LoadResult::None);
    // Its temporary name taken by a folder, the first state cannot be written.
    MakeDirectories(path() + ".new");
    EXPECT_FALSE(journal.Record([&](Journal& next) { next.AddConsumed({{src() + "b.zip", FileProof()}}, {}); }));
    EXPECT_FALSE(journal.IsConsumed(src() + "b.zip"));
    RemoveDirectoryA((path() + ".new").c_str());
    ASSERT_TRUE(journal.Record([&](Journal& next) { next.AddConsumed({{src() + "a.zip", FileProof()}}, {}); }));
    EXPECT_EQ(Fresh().Load(), Journal::LoadResult::Busy);
    journal = Fresh();
    Journal read = Fresh();
    ASSERT_EQ(read.Load(), Journal::LoadResult::Loaded);
    EXPECT_TRUE(read.IsConsumed(src() + "a.zip"));
    EXPECT_FALSE(read.IsConsumed(src() + "b.zip"));
}

// A journal of a set whose volumes are not the ones on the disk (other sizes) continues
// nothing and deletes nothing.
TEST_F(JournalFiles, SetOfOtherVolumesIsKept)
{
    Plant(Records(out(), src()));
    WriteFileBytes(out() + "c.part2.rar", std::string(60, 'x'));
    WriteFileBytes(out() + "c.mkv.4f1c09aa.incomplete", std::string(90, 'y'));
    Journal journal = Fresh();
    ASSERT_EQ(journal.Load(), Journal::LoadResult::Loaded);
    JobProgress progress(nullptr);
    const DiskRoot root(out());
    UnpackContext context;
    context.progress = &progress;
    context.journal = &journal;
    context.source = context.destination = &root;
    SeenFiles seen;
    context.seen = &seen;
    std::vector<JournalFile> landed;
    EXPECT_EQ(ResumeSetUnderDeletion(context, out(), landed).outcome, Outcome::CannotRead);
    EXPECT_EQ(ReadFileBytes(out() + "c.part2.rar"), std::string(60, 'x'));
    EXPECT_EQ(ReadFileBytes(out() + "c.mkv.4f1c09aa.incomplete"), std::string(90, 'y'));
    EXPECT_TRUE(landed.empty());
}

}  // namespace
