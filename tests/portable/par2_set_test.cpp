// PAR2 sets that par2 made at test time (tests/fixtures/make_par2_sets.sh): read as par2 wrote
// them; each recovery slice par2 wrote is the sum that the field's arithmetic gives; files
// damaged, cut, grown, removed or renamed are reported as they are; lost slices are rebuilt
// byte for byte, also where the first recovery slices chosen give equations that are not
// independent.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "engine/par2/gf16.h"
#include "engine/par2/par2_repair.h"
#include "engine/par2/par2_verify.h"
#include "tests/portable/memory_source.h"

namespace {

using Files = std::map<std::string, std::string>;

// Sources in memory, one for each file.
struct Sources {
    explicit Sources(const Files& files)
    {
        for (const auto& file : files) {
            list.push_back(sources.emplace_back(std::make_unique<MemorySource>(file.second)).get());
            candidates.push_back({file.first, list.back()});
        }
    }
    std::vector<std::unique_ptr<MemorySource>> sources;
    std::vector<ByteSource*> list;
    std::vector<Par2Candidate> candidates;
};

// A set as par2 made it in a folder of the fixtures: its PAR2 files read, and the files it was
// made of.
struct MadeSet {
    MadeSet(const std::string& folder, const std::vector<std::string>& par2Names, const std::vector<std::string>& names)
    {
        auto load = [&folder](const std::string& name) {
            std::ifstream file(std::string(PAR2_FIXTURES) + "/" + folder + "/" + name, std::ios::binary);
            std::ostringstream bytes;
            bytes << file.rdbuf();
            return bytes.str();
        };
        Files par2Files;
        for (const std::string& name : par2Names)
            par2Files[name] = load(name);
        for (const std::string& name : names)
            files[name] = load(name);
        par2 = std::make_unique<Sources>(par2Files);
        reading = ReadPar2Files(par2->list);
    }
    const Par2Set& set() const { return reading.sets.at(0); }
    std::unique_ptr<Sources> par2;
    Files files;
    Par2Reading reading;
};

// The sets of the fixtures, each read once.
const MadeSet& Plain()
{
    static const MadeSet made("plain", {"set.par2", "set.vol0+1.par2", "set.vol1+2.par2", "set.vol3+3.par2"},
                              {"film.bin", "sub/notes.txt", "tiny.nfo"});
    return made;
}
const MadeSet& Singular()
{
    static const MadeSet made(
        "singular",
        {"s.par2", "s.vol00+1.par2", "s.vol01+2.par2", "s.vol03+4.par2", "s.vol07+8.par2", "s.vol15+3.par2"},
        {"s.bin"});
    return made;
}
const MadeSet& Wide()
{
    static const MadeSet made("wide", {"one.par2", "one.vol0+1.par2"}, {"one.bin"});
    return made;
}

const MadeSet& Big()
{
    static const MadeSet made("big", {"big.par2", "big.vol0+1.par2", "big.vol1+1.par2"}, {"big.bin"});
    return made;
}

// The file of the recovery set that input slice `index` belongs to.
const Par2File& FileOf(const Par2Set& set, uint32_t index)
{
    for (const Par2File& file : set.files)
        if (file.inRecoverySet && index >= file.firstSlice && index - file.firstSlice < file.sliceCount)
            return file;
    throw std::out_of_range("no such slice");
}

// Input slice `index`, padded with zeros, from the files the set was made of.
std::string SliceOf(const Par2Set& set, const Files& files, uint32_t index)
{
    const Par2File& file = FileOf(set, index);
    std::string slice = files.at(file.name).substr((index - file.firstSlice) * set.sliceSize, set.sliceSize);
    return slice.append(set.sliceSize - slice.size(), '\0');
}

// The verdicts as "name=state slices@candidate|...", in the order of the names.
std::string Describe(const Par2Set& set, const Par2Verification& verification, const Sources& sources)
{
    static const char* const kStates[] = {"intact", "damaged", "missing", "unknown"};
    std::map<std::string, std::string> verdicts;
    for (size_t f = 0; f < set.files.size(); ++f) {
        const Par2FileVerdict& v = verification.files[f];
        std::string& text = verdicts[set.files[f].name] = kStates[static_cast<int>(v.state)];
        for (uint32_t slice : v.damagedSlices)
            text += " " + std::to_string(slice);
        text += std::string(!v.sizeMatches && v.state == Par2FileState::Damaged ? " size" : "") +
                (v.foundElsewhere ? "@" + sources.candidates[v.candidate].name : "") + (v.readFailed ? " unread" : "");
    }
    std::string all;
    for (const auto& verdict : verdicts)
        all += (all.empty() ? "" : "|") + verdict.first + "=" + verdict.second;
    return all;
}

TEST(Par2Set, ReadAsParMadeIt)
{
    const MadeSet& made = Plain();
    ASSERT_EQ(made.reading.sets.size(), 1u);
    const Par2Set& set = made.set();
    EXPECT_TRUE(set.verifiable && set.repairable && set.problems.empty());
    EXPECT_EQ(set.sliceSize, 4096u);
    EXPECT_EQ(set.inputSliceCount, 20u);
    EXPECT_NE(set.creator.find("par2cmdline"), std::string::npos) << set.creator;
    ASSERT_EQ(set.files.size(), 3u);
    for (const Par2File& file : set.files)
        EXPECT_EQ(file.length, made.files.at(file.name).size()) << file.name;
    std::vector<uint32_t> exponents;
    for (const Par2RecoverySlice& slice : set.recoverySlices)
        exponents.push_back(slice.exponent);
    EXPECT_EQ(exponents, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    for (const Par2FileReport& report : made.reading.files)
        EXPECT_TRUE(report.damagedPackets == 0 && report.skippedBytes == 0 && !report.gaveUp);
}

TEST(Par2Set, RecoverySlicesAreTheSumsOfTheInputSlices)
{
    const MadeSet& made = Plain();
    const Par2Set& set = made.set();
    for (const Par2RecoverySlice& recovery : set.recoverySlices) {
        std::string sum(set.sliceSize, '\0');
        for (uint32_t i = 0; i < set.inputSliceCount; ++i) {
            const std::string slice = SliceOf(set, made.files, i);
            gf16::MultiplyAccumulate(reinterpret_cast<uint8_t*>(&sum[0]),
                                     reinterpret_cast<const uint8_t*>(slice.data()), sum.size(),
                                     gf16::RecoveryCoefficient(i, recovery.exponent));
        }
        EXPECT_EQ(sum, made.par2->sources[recovery.source]->bytes().substr(recovery.offset, set.sliceSize))
            << "exponent " << recovery.exponent;
    }
}

// Each row changes the files a set was made of, and makes the last of them (in the order of
// the names) fail to read from `failFrom` on where that is not 0. Big's rows put changes at each
// end of the 1 MiB pieces read while the one before is hashed, a cut between slices, and a read
// that fails in the third piece after two were hashed; Wide's slice of 2 MiB for a file of
// 1000 bytes has its padding carried over arithmetically.
TEST(Par2Set, VerificationReportsWhatBecameOfEachFile)
{
    const struct {
        const char* what;
        const MadeSet& made;
        std::function<void(Files&)> change;
        uint64_t failFrom;
        const char* verdicts;
        const char* missing;  // the slices to rebuild, as "name:slice in the file"
    } rows[] = {
        {"nothing", Plain(), [](Files&) {}, 0, "film.bin=intact|sub/notes.txt=intact|tiny.nfo=intact", ""},
        {"a byte changed", Plain(), [](Files& f) { f["film.bin"][5000] ^= 1; }, 0,
         "film.bin=damaged 1|sub/notes.txt=intact|tiny.nfo=intact", "film.bin:1"},
        {"cut", Plain(), [](Files& f) { f["film.bin"].resize(61000); }, 0,
         "film.bin=damaged 14 15 16 17 size|sub/notes.txt=intact|tiny.nfo=intact",
         "film.bin:14 film.bin:15 film.bin:16 film.bin:17"},
        {"grown", Plain(), [](Files& f) { f["film.bin"] += "x"; }, 0,
         "film.bin=damaged size|sub/notes.txt=intact|tiny.nfo=intact", ""},
        {"removed", Plain(), [](Files& f) { f.erase("tiny.nfo"); }, 0,
         "film.bin=intact|sub/notes.txt=intact|tiny.nfo=missing", "tiny.nfo:0"},
        {"unreadable", Plain(), [](Files&) {}, 5, "film.bin=intact|sub/notes.txt=intact|tiny.nfo=missing unread",
         "tiny.nfo:0"},
        {"renamed", Plain(), [](Files& f) { f["x.bin"] = f["tiny.nfo"], f.erase("tiny.nfo"); }, 0,
         "film.bin=intact|sub/notes.txt=intact|tiny.nfo=intact@x.bin", ""},
        {"renamed and damaged", Plain(),
         [](Files& f) { f["a7f3.dat"] = f["film.bin"], f["a7f3.dat"][20000] ^= 1, f.erase("film.bin"); }, 0,
         "film.bin=damaged 4@a7f3.dat|sub/notes.txt=intact|tiny.nfo=intact", "film.bin:4"},
        {"names swapped", Plain(), [](Files& f) { std::swap(f["film.bin"], f["sub/notes.txt"]); }, 0,
         "film.bin=intact@sub/notes.txt|sub/notes.txt=intact@film.bin|tiny.nfo=intact", ""},
        {"a damaged copy beside an intact one", Plain(),
         [](Files& f) { f["film.bin.1"] = f["film.bin"], f["film.bin"][0] ^= 1; }, 0,
         "film.bin=intact@film.bin.1|sub/notes.txt=intact|tiny.nfo=intact", ""},
        {"a separator as Windows writes it", Plain(),
         [](Files& f) { f["sub\\notes.txt"] = f["sub/notes.txt"], f.erase("sub/notes.txt"); }, 0,
         "film.bin=intact|sub/notes.txt=intact|tiny.nfo=intact", ""},
        {"big: nothing", Big(), [](Files&) {}, 0, "big.bin=intact", ""},
        {"big: last byte of a piece", Big(), [](Files& f) { f["big.bin"][(1 << 20) - 1] ^= 1; }, 0, "big.bin=damaged 1",
         "big.bin:1"},
        {"big: first bytes of pieces", Big(), [](Files& f) { f["big.bin"][1 << 20] ^= 1, f["big.bin"][2 << 20] ^= 1; },
         0, "big.bin=damaged 1 2", "big.bin:1 big.bin:2"},
        {"big: last byte", Big(), [](Files& f) { f["big.bin"].back() ^= 1; }, 0, "big.bin=damaged 3", "big.bin:3"},
        {"big: cut", Big(), [](Files& f) { f["big.bin"].resize(3 * 786432 - 1); }, 0, "big.bin=damaged 2 3 size",
         "big.bin:2 big.bin:3"},
        {"big: unreadable", Big(), [](Files&) {}, (2 << 20) + 5, "big.bin=missing unread",
         "big.bin:0 big.bin:1 big.bin:2 big.bin:3"},
        {"wide: nothing", Wide(), [](Files&) {}, 0, "one.bin=intact", ""},
        {"wide: last byte", Wide(), [](Files& f) { f["one.bin"][999] ^= 1; }, 0, "one.bin=damaged 0", "one.bin:0"},
    };
    for (const auto& row : rows) {
        const Par2Set& set = row.made.set();
        Files files = row.made.files;
        row.change(files);
        Sources sources(files);
        if (row.failFrom)
            sources.sources.back()->failFrom = row.failFrom;
        const Par2Verification verification = VerifyPar2Set(set, sources.candidates);
        EXPECT_EQ(Describe(set, verification, sources), row.verdicts) << row.what;
        std::string missing;
        for (uint32_t slice : Par2MissingSlices(set, verification)) {
            const Par2File& file = FileOf(set, slice);
            missing += (missing.empty() ? "" : " ") + file.name + ":" + std::to_string(slice - file.firstSlice);
        }
        EXPECT_EQ(missing, row.missing) << row.what;
    }
    EXPECT_TRUE(
        VerifyPar2Set(Plain().set(), Sources(Plain().files).candidates, [](uint64_t) { return false; }).stopped);
}

// Takes the rebuilt slices whole, checking that their pieces come in order.
class Rebuilt : public Par2SetSlices {
public:
    using Par2SetSlices::Par2SetSlices;
    bool WriteRebuilt(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) override
    {
        EXPECT_EQ(offset, slices[index].size());
        slices[index].append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    std::map<uint32_t, std::string> slices;
};

// Rebuilds `missing` of a set made by par2 from its recovery slices tried in the order of
// `available`, from copies of its files where the missing slices are zeros, and compares them
// with the slices lost. The exponents used, or why there was no plan; "stopped" when `stopAfter`
// bytes read stop it.
std::string Repair(const MadeSet& made, const std::vector<uint32_t>& missing, const std::vector<uint32_t>& available,
                   size_t memory, unsigned threads, uint64_t stopAfter = 0)
{
    const Par2Set& set = made.set();
    Par2RepairPlan plan;
    const Par2PlanResult result = PlanPar2Repair(set.inputSliceCount, missing, available, plan);
    if (result != Par2PlanResult::Ready)
        return "not planned " + std::to_string(static_cast<int>(result));
    Files damaged = made.files;
    for (uint32_t index : missing) {
        const Par2File& file = FileOf(set, index);
        const size_t at = (index - file.firstSlice) * set.sliceSize;
        std::fill_n(damaged[file.name].begin() + at, std::min<size_t>(set.sliceSize, file.length - at), '\0');
    }
    const Sources sources(damaged);
    std::vector<ByteSource*> files;
    for (const Par2File& file : set.files)
        files.push_back(sources.sources[std::distance(damaged.begin(), damaged.find(file.name))].get());
    Rebuilt rebuilt(set, files, made.par2->list);
    uint64_t read = 0;
    const Par2Progress progress = [&](uint64_t bytes) { return stopAfter == 0 || (read += bytes) < stopAfter; };
    const Par2RebuildResult rebuild =
        RebuildPar2Slices(plan, set.inputSliceCount, set.sliceSize, rebuilt, memory, progress, threads);
    if (stopAfter != 0)
        return rebuild == Par2RebuildResult::Stopped && read < stopAfter + set.sliceSize ? "stopped" : "went on";
    EXPECT_EQ(rebuild, Par2RebuildResult::Done);
    EXPECT_EQ(rebuilt.slices.size(), missing.size());
    for (uint32_t index : missing)
        EXPECT_EQ(rebuilt.slices[index], SliceOf(set, made.files, index)) << "slice " << index;
    std::string used;
    for (uint32_t e : plan.exponents)
        used += (used.empty() ? "" : " ") + std::to_string(e);
    return used;
}

// The same bytes on any number of threads: 0 for one per core, 1 for the calling thread alone,
// and more for shares of a piece that end between SIMD blocks or are empty.
TEST(Par2Repair, LostSlicesAreRebuiltByteForByte)
{
    const size_t all = kPar2RebuildMemory;
    const struct {
        const MadeSet& made;
        std::vector<uint32_t> missing, available;
        size_t memory;
        unsigned threads;
        const char* used;
        uint64_t stopAfter;
    } rows[] = {
        {Plain(), {3, 7}, {0, 1, 2, 3, 4, 5}, all, 0, "0 1", 0},
        {Plain(), {19, 0, 11}, {5, 2, 4}, 1000, 1, "5 2 4", 0},  // in pieces of 192 bytes
        {Plain(), {19, 0, 11}, {5, 2, 4}, 1000, 5, "5 2 4", 0},  // of 3 blocks for 5 threads
        {Plain(), {0, 4, 8, 12, 16, 19}, {0, 1, 2, 3, 4, 5}, all, 3, "0 1 2 3 4 5", 0},
        {Wide(), {0}, {0}, all, 2, "0", 0},  // 2 MiB in pieces of 1 MiB
        {Big(), {1, 3}, {1, 0}, all, 0, "1 0", 0},
        {Big(), {2}, {1}, 1u << 20, 3, "1", 0},  // in pieces of 349504 bytes, the last one short
        {Plain(), {3, 7}, {0, 1}, 1000, 2, "stopped", 5000},
        {Wide(), {0}, {0}, all, 0, "stopped", 1},
        // Slices 0 and 1927 have constants 2^1 and 2^3856, whose 17th powers are equal: the
        // recovery slices of exponents e and e + 17 give the same equation for them.
        {Singular(), {0, 1927}, {0, 17, 1, 2}, all, 0, "0 1", 0},
        {Singular(), {0, 1927}, {17, 0, 34, 16}, all, 0, "17 16", 0},
        {Singular(), {0, 5, 1927}, {0, 17, 1, 2}, all, 0, "0 17 1", 0},
        {Singular(), {0, 1927}, {0, 17}, all, 0, "not planned 4", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Repair(row.made, row.missing, row.available, row.memory, row.threads, row.stopAfter), row.used)
            << "threads " << row.threads;
}

TEST(Par2Repair, PlansRefused)
{
    std::vector<uint32_t> many(kPar2MaxMissingSlices + 1);
    for (uint32_t i = 0; i < many.size(); ++i)
        many[i] = i;
    const struct {
        uint32_t inputSlices;
        std::vector<uint32_t> missing, available;
        Par2PlanResult result;
    } rows[] = {
        {10, {10}, {0}, Par2PlanResult::BadInput},
        {10, {1, 1}, {0, 1}, Par2PlanResult::BadInput},
        {32769, {1}, {0}, Par2PlanResult::BadInput},
        {5000, many, many, Par2PlanResult::TooManyMissing},
        {10, {1, 2}, {0}, Par2PlanResult::TooFewRecoverySlices},
        {10, {1, 2}, {5, 65540}, Par2PlanResult::TooFewRecoverySlices},  // one exponent, told twice
        {10, {}, {}, Par2PlanResult::Ready},
        {10, {1, 2}, {65535, 1}, Par2PlanResult::Ready},
    };
    for (const auto& row : rows) {
        Par2RepairPlan plan;
        EXPECT_EQ(PlanPar2Repair(row.inputSlices, row.missing, row.available, plan), row.result);
    }
}

}  // namespace
