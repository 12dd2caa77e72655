// The PAR2 packet reader on packets made byte by byte: a set read in any order, with repeats and
// from several files; damaged packets skipped; names that leave the set's folder, numbers out of
// range and contradictions refused; the bounds on memory and on hashing; with the inputs that
// its fuzz target found. Sets that par2 makes are read in par2_set_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "engine/par2/par2_packets.h"
#include "tests/portable/memory_source.h"

namespace {

const std::string kMain("PAR 2.0\0Main\0\0\0\0", 16), kDesc("PAR 2.0\0FileDesc", 16),
    kIfsc("PAR 2.0\0IFSC\0\0\0\0", 16), kRecv("PAR 2.0\0RecvSlic", 16), kUnicode("PAR 2.0\0UniFileN", 16);

std::string Le(uint64_t value, int bytes)
{
    std::string text;
    for (int i = 0; i < bytes; ++i)
        text += static_cast<char>(value >> (8 * i));
    return text;
}

std::string Md5Text(const std::string& bytes)
{
    const Md5Digest digest = Md5Of(bytes.data(), bytes.size());
    return std::string(digest.begin(), digest.end());
}

std::string Padded(std::string text)
{
    return text.append((4 - text.size() % 4) % 4, '\0');
}

std::string Packet(const std::string& set, const std::string& type, const std::string& body)
{
    const std::string hashed = set + type + body;
    return std::string("PAR2\0PKT", 8) + Le(64 + body.size(), 8) + Md5Text(hashed) + hashed;
}

// The packets of a set of files, each of a name and a length, in slices of `sliceSize`; the
// last `others` files outside the recovery set.
struct Made {
    Made(const std::vector<std::pair<std::string, uint64_t>>& files, uint64_t sliceSize = 64, uint32_t others = 0)
    {
        std::string body = Le(sliceSize, 8) + Le(files.size() - others, 4);
        for (const auto& file : files)
            body += ids.emplace_back(Md5Text(Md5Text(file.first) + Le(file.second, 8) + file.first));
        set = Md5Text(body);
        main = Packet(set, kMain, body);
        for (size_t i = 0; i < files.size(); ++i) {
            const uint64_t length = files[i].second, slices = (length + sliceSize - 1) / sliceSize;
            descriptions.push_back(
                Packet(set, kDesc, ids[i] + std::string(32, 'm') + Le(length, 8) + Padded(files[i].first)));
            checksums.push_back(Packet(set, kIfsc, ids[i] + std::string(20 * slices, 's')));
        }
    }
    std::string All() const
    {
        std::string all = main;
        for (size_t i = 0; i < ids.size(); ++i)
            all += descriptions[i] + checksums[i];
        return all;
    }
    std::string set, main;
    std::vector<std::string> ids, descriptions, checksums;
};

// What a reading found: per file "d<damaged packets> s<skipped bytes>", then per set its flags
// (v verifiable, r repairable) and its files' names ("?" for one not described), sorted.
std::string Summary(const Par2Reading& reading)
{
    std::string text;
    for (const Par2FileReport& file : reading.files)
        text += "d" + std::to_string(file.damagedPackets) + " s" + std::to_string(file.skippedBytes) +
                (file.gaveUp ? " gave up" : "") + (file.readFailed ? " failed" : "") +
                (file.stopped ? " stopped" : "") + "; ";
    for (const Par2Set& set : reading.sets) {
        std::vector<std::string> names;
        for (const Par2File& file : set.files)
            names.push_back(file.described ? file.name : "?");
        std::sort(names.begin(), names.end());
        text += std::string(set.verifiable ? "v" : "-") + (set.repairable ? "r" : "-");
        for (const std::string& name : names)
            text += " " + name;
        text += "; ";
    }
    return text.substr(0, text.size() - 2);
}

Par2Reading Read(const std::vector<std::string>& files, std::vector<std::unique_ptr<MemorySource>>* keep = nullptr)
{
    std::vector<std::unique_ptr<MemorySource>> sources;
    std::vector<ByteSource*> list;
    for (const std::string& file : files)
        list.push_back(sources.emplace_back(std::make_unique<MemorySource>(file)).get());
    Par2Reading reading = ReadPar2Files(list);
    if (keep)
        *keep = std::move(sources);
    return reading;
}

struct Row {
    const char* what;
    std::string bytes, summary;
    const char* problem;  // a part of the problems named, "" for none
};

void Check(const Row& row)
{
    const Par2Reading reading = Read({row.bytes});
    EXPECT_EQ(Summary(reading), row.summary) << row.what;
    std::string problems;
    for (const Par2Set& set : reading.sets)
        for (const std::string& problem : set.problems)
            problems += problem + "|";
    EXPECT_TRUE(*row.problem ? problems.find(row.problem) != std::string::npos : problems.empty())
        << row.what << ": " << problems;
}

TEST(Par2Packets, SetsReadInAnyOrderWithRepeatsAndFromSeveralFiles)
{
    const Made made({{"b.mkv", 130}, {"sub/a.nfo", 64}});
    const std::string data(64, 'r');
    std::vector<std::unique_ptr<MemorySource>> sources;
    const Par2Reading reading =
        Read({made.checksums[1] + made.descriptions[1] + made.checksums[0] + made.main + made.descriptions[0] +
                  made.descriptions[0] + made.main,
              Packet(made.set, kRecv, Le(3, 4) + data) + Packet(made.set, kRecv, Le(1, 4) + data),
              Packet(made.set, kRecv, Le(1, 4) + std::string(64, 'x'))},
             &sources);
    ASSERT_EQ(Summary(reading), "d0 s0; d0 s0; d0 s0; vr b.mkv sub/a.nfo");
    const Par2Set& set = reading.sets[0];
    EXPECT_EQ(set.sliceSize, 64u);
    EXPECT_EQ(set.inputSliceCount, 4u);
    // Input slices follow the File IDs as little-endian numbers.
    const bool aFirst =
        std::string(made.ids[1].rbegin(), made.ids[1].rend()) < std::string(made.ids[0].rbegin(), made.ids[0].rend());
    EXPECT_EQ(set.files[aFirst ? 0 : 1].name, "sub/a.nfo");
    EXPECT_EQ(set.files[1].firstSlice, set.files[0].sliceCount);
    EXPECT_EQ(set.files[aFirst ? 1 : 0].slices.size(), 3u);
    // The first packet of each exponent counts, where it lies.
    ASSERT_EQ(set.recoverySlices.size(), 2u);
    EXPECT_EQ(set.recoverySlices[0].exponent, 1u);
    EXPECT_EQ(set.recoverySlices[0].source, 1u);
    EXPECT_EQ(sources[1]->bytes().substr(set.recoverySlices[0].offset, 64), data);

    const Made other({{"a", 10}});
    EXPECT_EQ(Summary(Read({other.All() + made.All()})), "d0 s0; vr b.mkv sub/a.nfo; vr a");
}

TEST(Par2Packets, DamagedPacketsAreSkipped)
{
    // Packets of 108 (main), 124 (a description) and 120 bytes (two slices' checksums).
    const Made made({{"a", 100}, {"b", 100}});
    const std::string all = made.All();
    const size_t b = all.find(made.descriptions[1]);
    auto changed = [&all](size_t at, const std::string& bytes) {
        return std::string(all).replace(at, bytes.size(), bytes);
    };
    const Row rows[] = {
        {"a byte of a description", changed(b + 70, "!"), "d1 s124; -- ? a", "no description"},
        {"odd bytes between packets",
         made.main + "xyz" + made.descriptions[0] + made.checksums[0] + "\1" + made.descriptions[1] + made.checksums[1],
         "d0 s4; vr a b", ""},
        // Their MD5s hold: only the length tells them from packets.
        {"lengths below the header or not a multiple of 4",
         all + std::string("PAR2\0PKT", 8) + Le(32, 8) + Md5Text(made.set + kRecv) + made.set + kRecv +
             Packet(made.set, kUnicode, made.ids[0] + "abcde"),
         "d2 s149; vr a b", ""},
        {"a length past the end", changed(b + 8, Le(1 << 20, 8)), "d1 s124; -- ? a", "no description"},
        {"the last packet cut", all.substr(0, all.size() - 1), "d1 s119; v- a b", "checksums are missing"},
        {"a magic in front", std::string("PAR2\0PKT", 8) + all, "d1 s8; vr a b", ""},
    };
    for (const Row& row : rows)
        Check(row);
}

// The reader applies the name check (whose own cases are the tables of names_test and of
// engine_tests' sfv_test) to the ASCII name as it stands once its padding is gone, and to the
// Unicode name that stands for it; both are converted to UTF-8 first.
TEST(Par2Packets, NamesThatLeaveTheFolderAreRefused)
{
    const struct {
        std::string ascii, unicode, summary;  // unicode: UTF-16LE, "" for none
    } rows[] = {
        {"Sub Dir/film.mkv", "", "vr Sub Dir/film.mkv"},
        {"caf\xC3\xA9.nfo", "", "vr caf\xC3\xA9.nfo"},
        {"caf\xE9.nfo", "", "vr caf\xC3\xA9.nfo"},  // not UTF-8: taken as Latin-1
        {"../film.mkv", "", "-- ?"},
        {"/etc/passwd", "", "-- ?"},
        {"C:film.mkv", "", "-- ?"},
        {std::string("a\0b", 3), "", "-- ?"},
        {"", "", "-- ?"},
        {"x", std::string("c\0a\0f\0\xE9\0", 8), "vr caf\xC3\xA9"},
        {"x", std::string("\x3D\xD8\x00\xDE", 4), "vr \xF0\x9F\x98\x80"},  // a pair of surrogates
        {"x", std::string("a\0\x3D\xD8", 4), "-- ?"},                      // a high surrogate alone
        {"x", std::string("\x00\xDE\x61\x00", 4), "-- ?"},                 // a low one alone
        {"x", std::string(".\0.\0/\0x\0", 8), "-- ?"},
    };
    for (const auto& row : rows) {
        const Made made({{row.ascii, 10}});
        const std::string unicode =
            row.unicode.empty() ? "" : Packet(made.set, kUnicode, made.ids[0] + Padded(row.unicode));
        EXPECT_EQ(Summary(Read({made.All() + unicode})), "d0 s0; " + row.summary) << row.ascii;
    }
}

TEST(Par2Packets, NumbersOutOfRangeAndContradictionsAreRefused)
{
    auto main = [](uint64_t sliceSize, uint64_t count, const std::string& ids) {
        const std::string body = Le(sliceSize, 8) + Le(count, 4) + ids;
        return Packet(Md5Text(body), kMain, body);
    };
    const Made two({{"a", 100}, {"b", 100}});
    const std::string id = two.ids[0];
    const Row rows[] = {
        {"slice size 0", main(0, 1, id), "d0 s0; --", "slice size"},
        {"slice size 6", main(6, 1, id), "d0 s0; --", "slice size"},
        {"slice size past 1 GiB", main((1 << 30) + 4, 1, id), "d0 s0; --", "slice size"},
        {"more recovery files than files", main(64, 2, id), "d0 s0; --", "file count"},
        {"a file listed twice", main(64, 2, id + id), "d0 s0; --", "twice"},
        {"a set ID not the main packet's MD5", Packet(two.set, kMain, Le(64, 8) + Le(1, 4) + id), "d0 s0; --", "MD5"},
        {"no main packet", two.descriptions[0], "d0 s0; --", "no main packet"},
        {"a file of 32769 slices", Made({{"a", 32769 * 4ull}}, 4).All(), "d0 s0; -- ?", "32768 slices"},
        {"32769 input slices", Made({{"a", 20000 * 4}, {"b", 12769 * 4}}, 4).All(), "d0 s0; -- a b",
         "32768 input slices"},
        {"slices outside the recovery set", Made({{"a", 20000 * 4}, {"b", 20000 * 4}}, 4, 1).All(), "d0 s0; vr a b",
         ""},
        {"checksums of a wrong count", two.All() + Packet(two.set, kIfsc, two.ids[1] + std::string(20, 's')),
         "d0 s0; -- a b", "contradict"},
        {"checksums of a wrong count alone",
         two.main + two.descriptions[0] + two.descriptions[1] + two.checksums[0] +
             Packet(two.set, kIfsc, two.ids[1] + std::string(20, 's')),
         "d0 s0; v- a b", "do not list its 2 slices"},
        {"a recovery slice of a wrong size", two.All() + Packet(two.set, kRecv, Le(0, 4) + "rrrr"), "d0 s0; vr a b",
         "one slice size"},
        {"a description too short", two.All() + Packet(two.set, kDesc, std::string(52, 'd')), "d0 s0; vr a b",
         "too short"},
    };
    for (const Row& row : rows)
        Check(row);
}

TEST(Par2Packets, MemoryAndHashingStayBounded)
{
    // 40 checksum packets of 1 MiB each, for files the main packet may yet name: past the bound
    // on what the model keeps.
    const Made made({{"a", 10}});
    std::string many = made.All();
    for (int i = 0; i < 40; ++i)
        many += Packet(made.set, kIfsc, std::string(16, static_cast<char>(i)) + std::string(20 * 52428, 's'));
    Check({"checksums past the bound", many, "d0 s0; vr a", "left out to keep memory bounded"});

    // Packet starts every 64 bytes, each claiming the rest of the file, each failing its MD5.
    std::string overlapping;
    for (uint64_t at = 0; at < 256 * 1024; at += 64)
        overlapping += std::string("PAR2\0PKT", 8) + Le(256 * 1024 - at, 8) + std::string(48, 'z');
    std::vector<std::unique_ptr<MemorySource>> sources;
    const Par2Reading reading = Read({overlapping}, &sources);
    EXPECT_TRUE(reading.files[0].gaveUp);
    EXPECT_LE(sources[0]->read, 3 * overlapping.size() + (1 << 20));
}

TEST(Par2Packets, ReadFailuresAndStops)
{
    const std::string all = Made({{"a", 100}}).All();
    MemorySource failing(all), source(all);
    failing.failFrom = all.size() / 2;
    EXPECT_EQ(Summary(ReadPar2Files({&failing, &source})), "d0 s336 failed; d0 s0; vr a");
    const Par2Reading stopped = ReadPar2Files({&source, &source}, [](uint64_t) { return false; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(Summary(stopped), "d0 s336 stopped");
}

}  // namespace
