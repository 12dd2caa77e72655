// The journal is input like any file on disk: what a run committed reads back as it was, and
// one that is cut, changed, of another format or that speaks of files outside its group is
// never acted on.
#include "engine/journal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/output_file.h"
#include "engine/rar_deleting_copy.h"
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
    records.outputs = {{src + "a.zip", {out + "a.part1.rar", 10, 0xCAFE}}};
    records.renamed = {{src + "xxxb.rar", src + "b.rar"}};
    records.named = {{src + "4f1c09", src + "d.part2.rar"}};
    records.repaired = {{src + "d.part3.rar", src + "d.part3.rar", src + "d.part3.rar.damaged"},
                        {src + "d.part4.rar", "", ""}};
    SetUnderDeletion& set = records.set;
    set.volumes = {{out + "c.part1.rar", 100, 0}, {out + "c.part2.rar", 50, 0}};
    set.deleted = 1;
    set.entry = out + "c.mkv";
    set.temporary = out + "c.mkv.4f1c09aa.incomplete";
    set.entryBytes = 90;
    set.entryCrc = 0xBEEF;
    set.outputs = {{out + "c.nfo", 3, 0xF00}};
    return records;
}

class JournalFiles : public ::testing::Test {
protected:
    std::string out() const { return dir_ / "out\\"; }
    std::string src() const { return dir_ / "src\\"; }
    std::string path() const { return out() + ".ravelpak-journal"; }
    void SetUp() override
    {
        MakeDirectories(out());
        MakeDirectories(src());
    }
    Journal Fresh() const { return Journal(out(), src()); }

    TempDir dir_;
};

TEST_F(JournalFiles, WhatWasCommittedReadsBack)
{
    WriteFileBytes(path(), WriteJournalText(Records(out(), src())));
    Journal journal = Fresh();
    ASSERT_EQ(journal.Load(), Journal::LoadResult::Loaded);
    EXPECT_TRUE(journal.VerifiedAndConsumed(src() + "A.ZIP", 0x12345678));
    EXPECT_FALSE(journal.VerifiedAndConsumed(src() + "a.zip", 0x12345679));
    ASSERT_NE(journal.ProofOf(src() + "a.zip"), nullptr);
    EXPECT_EQ(journal.ProofOf(src() + "a.zip")->crc, 0x12345678u);
    ASSERT_EQ(journal.OutputsOf(src() + "a.zip").size(), 1u);
    EXPECT_EQ(journal.OutputsOf(src() + "a.zip")[0].crc, 0xCAFEu);
    EXPECT_EQ(journal.RenamedFrom(src() + "xxxb.rar"), src() + "b.rar");
    // The deleted volume of the set counts as consumed, the one left does not.
    EXPECT_TRUE(journal.IsConsumed(out() + "c.part1.rar"));
    EXPECT_FALSE(journal.IsConsumed(out() + "c.part2.rar"));
    ASSERT_NE(journal.set(), nullptr);
    EXPECT_EQ(journal.set()->entryBytes, 90u);
    EXPECT_EQ(journal.set()->entryCrc, 0xBEEFu);
    // Written again, it says the same.
    ASSERT_TRUE(journal.Record([](Journal&) {}));
    JournalRecords again;
    ASSERT_TRUE(ReadJournalText(ReadFileBytes(path()), again));
    EXPECT_EQ(WriteJournalText(again), WriteJournalText(Records(out(), src())));
    // An entry whose temporary name was cut short to be a name at all.
    JournalRecords longEntry = Records(out(), src());
    longEntry.set.entry = out() + std::string(250, 'c') + ".mkv";
    longEntry.set.temporary = OutputFile::TemporaryName(longEntry.set.entry, "4f1c09aa", 2);
    WriteFileBytes(path(), WriteJournalText(longEntry));
    EXPECT_EQ(Fresh().Load(), Journal::LoadResult::Loaded);
}

// Anything but a whole journal of this group is moved aside and nothing of it is used: damaged,
// cut, foreign, and a valid one that names a file outside the destination and the download
// folder, or a folder of the wrong kind for its record.
TEST_F(JournalFiles, DamagedCutForeignOrUnconfinedIsNotUsed)
{
    const std::string good = WriteJournalText(Records(out(), src()));
    std::string changed = good;
    changed[good.size() / 2] ^= 1;
    std::vector<std::pair<std::string, std::string>> texts = {
        {"half", good.substr(0, good.size() / 2)},
        {"last byte cut", good.substr(0, good.size() - 1)},
        {"changed", changed},
        {"not a journal", "not a journal\n"},
        {"empty", ""},
    };
    const std::string elsewhere = dir_ / "documents\\thesis.docx";
    const std::vector<std::pair<std::string, void (*)(JournalRecords&, const std::string&)>> unconfined = {
        {"consumed elsewhere", [](JournalRecords& r, const std::string& p) { r.consumed[0].path = p; }},
        {"verified elsewhere", [](JournalRecords& r, const std::string& p) { r.verified[0].path = p; }},
        {"output elsewhere", [](JournalRecords& r, const std::string& p) { r.outputs[0].second.path = p; }},
        {"rename elsewhere", [](JournalRecords& r, const std::string& p) { r.renamed[0].second = p; }},
        {"PAR2 name elsewhere", [](JournalRecords& r, const std::string& p) { r.named[0].second = p; }},
        {"repair elsewhere", [](JournalRecords& r, const std::string& p) { r.repaired[1].path = p; }},
        {"damaged kept elsewhere", [](JournalRecords& r, const std::string& p) { r.repaired[0].damaged = p; }},
        {"damaged kept under another name",
         [](JournalRecords& r, const std::string&) { r.repaired[0].damaged = r.repaired[0].path + ".old"; }},
        {"set entry elsewhere", [](JournalRecords& r, const std::string& p) { r.set.entry = p; }},
        {"set entry written to another file", [](JournalRecords& r, const std::string&) { r.set.temporary = r.set.entry + ".nfo"; }},
        {"set entry written to another run's file",
         [](JournalRecords& r, const std::string&) { r.set.temporary = r.set.entry + ".5e2d1abb.incomplete"; }},
        {"volume elsewhere", [](JournalRecords& r, const std::string& p) { r.set.volumes[1].path = p; }},
        {"set output elsewhere", [](JournalRecords& r, const std::string& p) { r.set.outputs[0].path = p; }},
    };
    for (const auto& change : unconfined) {
        JournalRecords records = Records(out(), src());
        change.second(records, elsewhere);
        texts.emplace_back(change.first, WriteJournalText(records));
    }
    // Paths that only look as if they lay inside.
    for (const std::string& sneaky : {out() + "..\\documents\\thesis.docx", out() + "sub\\..\\..\\x",
                                      "\\\\?\\" + out() + "..\\x", out() + "...\\x", src() + ". \\x"}) {
        JournalRecords records = Records(out(), src());
        records.consumed[0].path = sneaky;
        texts.emplace_back(sneaky, WriteJournalText(records));
    }
    // An output in the download folder, a rename in the destination.
    JournalRecords outputInSource = Records(out(), src());
    outputInSource.outputs[0].second.path = src() + "a.part1.rar";
    texts.emplace_back("output in the download folder", WriteJournalText(outputInSource));
    JournalRecords renameInDestination = Records(out(), src());
    renameInDestination.renamed[0] = {out() + "xxxb.rar", out() + "b.rar"};
    texts.emplace_back("rename in the destination", WriteJournalText(renameInDestination));
    // Found by the fuzz target: a repair whose damaged file is named by nothing, which the writer
    // would write back as none kept, is no record.
    const std::string body = good.substr(0, good.rfind("end\t")) + "P\t" + out() + "c.rar\t" + out() + "c.rar.1\t\n";
    JournalRecords read;
    EXPECT_FALSE(ReadJournalText(body + "end\t" + CrcHex(body) + "\n", read));

    for (const auto& text : texts) {
        WriteFileBytes(path(), text.second);
        Journal journal = Fresh();
        EXPECT_EQ(journal.Load(), Journal::LoadResult::Unusable) << text.first;
        EXPECT_FALSE(journal.IsConsumed(src() + "a.zip")) << text.first;
        EXPECT_EQ(journal.set(), nullptr) << text.first;
        EXPECT_TRUE(journal.renamed().empty()) << text.first;
        EXPECT_FALSE(FileExists(path())) << text.first;
        EXPECT_EQ(ReadFileBytes(journal.unusablePath()), text.second) << text.first;
    }
    // Each one set aside stays beside the ones before it.
    EXPECT_EQ(ReadFileBytes(path() + ".unusable"), texts.front().second);
}

// Journals of the versions before are still read: a set resumes from the temporary file its
// entry names, and consumed records of the first version prove nothing, so that no file is ever
// deleted for them.
TEST_F(JournalFiles, EarlierJournalsAreReadAndPathOnlyOnesProveNothing)
{
    std::string text = "ravelpak journal 1\n"
                       "V\t" + src() + "a.zip\t0\t12345678\n"
                       "C\t" + src() + "a.zip\t" + src() + "a.zip\n"
                       "O\t" + src() + "a.zip\t" + out() + "a.part1.rar\t10\t0000CAFE\n"
                       "S\t1\t" + out() + "c.mkv\t90\t0000BEEF\n"
                       "W\t" + out() + "c.part1.rar\t100\t00000000\n"
                       "W\t" + out() + "c.part2.rar\t50\t00000000\n";
    WriteFileBytes(path(), text + "end\t" + CrcHex(text) + "\n");
    Journal journal = Fresh();
    ASSERT_EQ(journal.Load(), Journal::LoadResult::Loaded);
    ASSERT_TRUE(journal.IsConsumed(src() + "a.zip"));
    const FileProof* proof = journal.ProofOf(src() + "a.zip");
    ASSERT_NE(proof, nullptr);
    EXPECT_FALSE(proof->hasCrc || proof->hasIndex);
    ASSERT_NE(journal.set(), nullptr);
    EXPECT_EQ(journal.set()->deleted, 1u);
    EXPECT_EQ(journal.set()->temporary, out() + "c.mkv.incomplete");
    const std::string untagged = "ravelpak journal 2\n" + text.substr(text.find("S\t"));
    JournalRecords records;
    ASSERT_TRUE(ReadJournalText(untagged + "end\t" + CrcHex(untagged) + "\n", records));
    EXPECT_EQ(records.set.temporary, out() + "c.mkv.incomplete");
}

// A change that cannot be put on the disk is not taken: the journal in memory stays what the
// one on the disk says.
TEST_F(JournalFiles, FailedCommitChangesNothing)
{
    Journal journal = Fresh();
    ASSERT_TRUE(journal.Record([&](Journal& next) { next.AddConsumed({{src() + "a.zip", FileProof()}}, {}); }));
    // Its temporary name taken by a folder, the journal cannot be written.
    MakeDirectories(path() + ".new");
    EXPECT_FALSE(journal.Record([&](Journal& next) { next.AddConsumed({{src() + "b.zip", FileProof()}}, {}); }));
    EXPECT_TRUE(journal.IsConsumed(src() + "a.zip"));
    EXPECT_FALSE(journal.IsConsumed(src() + "b.zip"));
    Journal read = Fresh();
    ASSERT_EQ(read.Load(), Journal::LoadResult::Loaded);
    EXPECT_FALSE(read.IsConsumed(src() + "b.zip"));
}

// A journal of a set whose volumes are not the ones on the disk (other sizes) continues
// nothing and deletes nothing.
TEST_F(JournalFiles, SetOfOtherVolumesIsKept)
{
    WriteFileBytes(path(), WriteJournalText(Records(out(), src())));
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
