// The PAR2 packet reader on packets made byte by byte: a set read in any order, with repeats and
// from several files; damaged packets skipped; names that leave the set's folder, numbers out of
// range and contradictions refused; the bounds on memory and on hashing; with the inputs that
// its fuzz target found. Sets that par2 makes are read in par2_set_test.
#include <gtest/gtest.h>

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

std::string Text(const Md5Digest& digest)
{
    return std::string(digest.begin(), digest.end());
}

std::string Md5Text(const std::string& bytes)
{
    return Text(Md5Of(bytes.data(), bytes.size()));
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

// The packets of a set of files, each of a name and a length, in slices of `sliceSize`.
struct Made {
    std::string set, main;
    std::vector<std::string> ids, descriptions, checksums;
    std::string All() const
    {
        std::string all = main;
        for (size_t i = 0; i < ids.size(); ++i)
            all += descriptions[i] + checksums[i];
        return all;
    }
    std::string Recovery(uint32_t exponent, const std::string& data) const
    {
        return Packet(set, kRecv, Le(exponent, 4) + data);
    }
};

Made MakeSet(const std::vector<std::pair<std::string, uint64_t>>& files, uint64_t sliceSize = 64, int others = 0)
{
    Made made;
    std::string body = Le(sliceSize, 8) + Le(files.size() - others, 4);
    for (const auto& file : files) {
        made.ids.push_back(Md5Text(Md5Text(file.first) + Le(file.second, 8) + file.first));
        body += made.ids.back();
    }
    made.set = Md5Text(body);
    made.main = Packet(made.set, kMain, body);
    for (size_t i = 0; i < files.size(); ++i) {
        made.descriptions.push_back(Packet(made.set, kDesc,
                                           made.ids[i] + Md5Text("all") + Md5Text(files[i].first) +
                                               Le(files[i].second, 8) + Padded(files[i].first)));
        const uint64_t slices = (files[i].second + sliceSize - 1) / sliceSize;
        made.checksums.push_back(Packet(made.set, kIfsc, made.ids[i] + std::string(20 * slices, 's')));
    }
    return made;
}

Par2Reading Read(const std::vector<std::string>& files, std::vector<std::unique_ptr<MemorySource>>* keep = nullptr)
{
    std::vector<std::unique_ptr<MemorySource>> sources;
    std::vector<ByteSource*> list;
    for (const std::string& file : files) {
        sources.push_back(std::make_unique<MemorySource>(file));
        list.push_back(sources.back().get());
    }
    Par2Reading reading = ReadPar2Files(list);
    if (keep)
        *keep = std::move(sources);
    return reading;
}

std::string Problems(const Par2Set& set)
{
    std::string all;
    for (const std::string& problem : set.problems)
        all += problem + "|";
    return all;
}

TEST(Par2Packets, ASetInAnyOrderWithRepeatsAndFromSeveralFiles)
{
    const Made made = MakeSet({{"b.mkv", 130}, {"sub/a.nfo", 64}});
    const std::string data(64, 'r');
    std::string reversed;
    for (size_t i = made.ids.size(); i-- > 0;)
        reversed += made.checksums[i] + made.descriptions[i] + made.descriptions[i];
    std::vector<std::unique_ptr<MemorySource>> sources;
    const Par2Reading reading =
        Read({reversed + made.main + made.main, made.Recovery(3, data) + made.Recovery(1, data) + made.main,
              made.Recovery(1, std::string(64, 'x'))},
             &sources);
    ASSERT_EQ(reading.sets.size(), 1u);
    const Par2Set& set = reading.sets[0];
    EXPECT_TRUE(set.verifiable && set.repairable) << Problems(set);
    EXPECT_EQ(set.sliceSize, 64u);
    EXPECT_EQ(set.inputSliceCount, 4u);
    ASSERT_EQ(set.files.size(), 2u);
    // Input slices follow the File IDs as little-endian numbers.
    const std::string b(made.ids[0].rbegin(), made.ids[0].rend()), a(made.ids[1].rbegin(), made.ids[1].rend());
    const size_t first = a < b ? 0 : 1;
    EXPECT_EQ(set.files[first].name, "sub/a.nfo");
    EXPECT_EQ(set.files[0].firstSlice, 0u);
    EXPECT_EQ(set.files[1].firstSlice, set.files[0].sliceCount);
    EXPECT_EQ(set.files[1 - first].sliceCount, 3u);
    EXPECT_EQ(set.files[1 - first].length, 130u);
    EXPECT_EQ(set.files[1 - first].slices.size(), 3u);
    // The first packet of each exponent counts, where it lies.
    ASSERT_EQ(set.recoverySlices.size(), 2u);
    EXPECT_EQ(set.recoverySlices[0].exponent, 1u);
    EXPECT_EQ(set.recoverySlices[0].source, 1u);
    EXPECT_EQ(sources[1]->bytes().substr(set.recoverySlices[0].offset, 64), data);
    EXPECT_EQ(reading.files[0].packets, 8u);
    EXPECT_EQ(reading.files[0].damagedPackets, 0u);
}

TEST(Par2Packets, DamagedPacketsAreSkipped)
{
    const Made made = MakeSet({{"a", 100}, {"b", 100}});
    const std::string all = made.All();
    const size_t second = made.main.size() + made.descriptions[0].size() + made.checksums[0].size();
    const struct {
        const char* damage;
        std::function<std::string()> bytes;
        size_t described, damaged;
        uint64_t skipped;
    } rows[] = {
        {"none", [&] { return all; }, 2, 0, 0},
        {"a byte of a description", [&] { return std::string(all).replace(second + 70, 1, "!"); }, 1, 1,
         made.descriptions[1].size()},
        {"odd bytes between packets",
         [&] {
             return made.main + "xyz" + made.descriptions[0] + made.checksums[0] + std::string(1, '\0') +
                    made.descriptions[1];
         },
         2, 0, 4},
        {"a length not a multiple of 4", [&] { return std::string(all).replace(second + 8, 1, "\x02"); }, 1, 1,
         made.descriptions[1].size()},
        {"a length below the header", [&] { return std::string(all).replace(second + 8, 8, Le(60, 8)); }, 1, 1,
         made.descriptions[1].size()},
        {"a length past the end", [&] { return std::string(all).replace(second + 8, 8, Le(1 << 20, 8)); }, 1, 1,
         made.descriptions[1].size()},
        {"the last packet cut", [&] { return made.All().substr(0, all.size() - 1); }, 2, 1,
         made.checksums[1].size() - 1},
        {"a magic inside a packet", [&] { return std::string("PAR2\0PKT", 8) + all; }, 2, 1, 8},
    };
    for (const auto& row : rows) {
        const Par2Reading reading = Read({row.bytes()});
        ASSERT_EQ(reading.sets.size(), 1u) << row.damage;
        size_t described = 0;
        for (const Par2File& file : reading.sets[0].files)
            described += file.described;
        EXPECT_EQ(described, row.described) << row.damage;
        EXPECT_EQ(reading.files[0].damagedPackets, row.damaged) << row.damage;
        EXPECT_EQ(reading.files[0].skippedBytes, row.skipped) << row.damage;
    }
}

TEST(Par2Packets, NamesThatLeaveTheFolderAreRefused)
{
    const struct {
        std::string stored, name;  // name "" when it is refused
    } rows[] = {
        {"film.mkv", "film.mkv"},
        {"Sub Dir/film.mkv", "Sub Dir/film.mkv"},
        {"caf\xC3\xA9.nfo", "caf\xC3\xA9.nfo"},
        {"caf\xE9.nfo", "caf\xC3\xA9.nfo"},  // not UTF-8: taken as Latin-1
        {"../film.mkv", ""},
        {"sub/../../film.mkv", ""},
        {"/etc/passwd", ""},
        {"\\\\server\\share", ""},
        {"C:film.mkv", ""},
        {"CON", ""},
        {"sub/nul.txt", ""},
        {std::string("a\0b", 3), ""},
        {"", ""},
    };
    for (const auto& row : rows) {
        const Par2Reading reading = Read({MakeSet({{row.stored, 10}}).All()});
        ASSERT_EQ(reading.sets.size(), 1u);
        const Par2Set& set = reading.sets[0];
        EXPECT_EQ(set.files[0].described, !row.name.empty()) << row.stored;
        EXPECT_EQ(set.files[0].name, row.name) << row.stored;
        EXPECT_EQ(set.verifiable, !row.name.empty()) << row.stored;
    }
}

TEST(Par2Packets, UnicodeNamesStandForTheOthers)
{
    const struct {
        std::string utf16, name;  // name "" when it is refused
    } rows[] = {
        {std::string("f\0i\0l\0m\0", 8), "film"},
        {std::string("c\0a\0f\0\xE9\0\0\0", 10), "caf\xC3\xA9"},
        {std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},  // a pair of surrogates
        {std::string("a\0\x3D\xD8", 4), ""},                       // a high surrogate alone
        {std::string("\x00\xDE"
                     "a\0",
                     4),
         ""},  // a low one alone
        {std::string(".\0.\0/\0x\0", 8), ""},
    };
    for (const auto& row : rows) {
        const Made made = MakeSet({{"ascii", 10}});
        const Par2Reading reading = Read({made.All() + Packet(made.set, kUnicode, made.ids[0] + Padded(row.utf16))});
        ASSERT_EQ(reading.sets.size(), 1u);
        EXPECT_EQ(reading.sets[0].files[0].name, row.name) << Problems(reading.sets[0]);
        EXPECT_EQ(reading.sets[0].files[0].described, !row.name.empty());
    }
}

TEST(Par2Packets, NumbersOutOfRangeAndContradictionsAreRefused)
{
    auto withMain = [](uint64_t sliceSize, uint64_t count, const std::string& ids) {
        const std::string body = Le(sliceSize, 8) + Le(count, 4) + ids;
        return Packet(Md5Text(body), kMain, body);
    };
    const Made two = MakeSet({{"a", 100}, {"b", 100}});
    const struct {
        const char* what;
        std::function<std::string()> bytes;
        bool hasMain, verifiable, repairable;
        const char* problem;
    } rows[] = {
        {"slice size 0", [&] { return withMain(0, 1, two.ids[0]); }, false, false, false, "slice size"},
        {"slice size 6", [&] { return withMain(6, 1, two.ids[0]); }, false, false, false, "slice size"},
        {"slice size past 1 GiB", [&] { return withMain((1 << 30) + 4, 1, two.ids[0]); }, false, false, false,
         "slice size"},
        {"more recovery files than files", [&] { return withMain(64, 3, two.ids[0] + two.ids[1]); }, false, false,
         false, "file count"},
        {"a file listed twice", [&] { return withMain(64, 2, two.ids[0] + two.ids[0]); }, false, false, false, "twice"},
        {"a set ID that is not the main packet's MD5",
         [&] { return Packet(two.set, kMain, Le(64, 8) + Le(1, 4) + two.ids[0]); }, false, false, false, "MD5"},
        {"a file of 32769 slices",
         [] {
             return MakeSet({{"a", 32769 * 4ull}}, 4).All();
         },
         true, false, false, "32768 slices"},
        {"32769 input slices in all",
         [] {
             return MakeSet({{"a", 20000 * 4}, {"b", 12769 * 4}}, 4).All();
         },
         true, false, false, "32768 input slices"},
        {"slices outside the recovery set uncounted",
         [] {
             return MakeSet({{"a", 20000 * 4}, {"b", 20000 * 4}}, 4, 1).All();
         },
         true, true, true, ""},
        {"checksums of the wrong count",
         [&] {
             return two.main + two.descriptions[0] + two.descriptions[1] + two.checksums[0] +
                    Packet(two.set, kIfsc, two.ids[1] + std::string(20, 's'));
         },
         true, true, false, "do not list its 2 slices"},
        {"a recovery slice of the wrong size", [&] { return two.All() + two.Recovery(0, std::string(60, 'r')); }, true,
         true, true, "one slice size"},
        {"contradicting descriptions",
         [&] {
             return two.All() + Packet(two.set, kDesc, two.ids[0] + std::string(32, 'q') + Le(100, 8) + Padded("a"));
         },
         true, false, false, "contradict"},
        {"no main packet", [&] { return two.descriptions[0]; }, false, false, false, "no main packet"},
        {"a description too short", [&] { return two.All() + Packet(two.set, kDesc, std::string(52, 'd')); }, true,
         true, true, "too short"},
    };
    for (const auto& row : rows) {
        const Par2Reading reading = Read({row.bytes()});
        ASSERT_EQ(reading.sets.size(), 1u) << row.what;
        const Par2Set& set = reading.sets[0];
        EXPECT_EQ(set.hasMain, row.hasMain) << row.what;
        EXPECT_EQ(set.verifiable, row.verifiable) << row.what;
        EXPECT_EQ(set.repairable, row.repairable) << row.what;
        EXPECT_NE(Problems(set).find(row.problem), std::string::npos) << row.what << ": " << Problems(set);
        EXPECT_EQ(*row.problem == '\0', set.problems.empty()) << row.what << ": " << Problems(set);
    }
}

TEST(Par2Packets, OtherSetsAreKeptApart)
{
    const Made one = MakeSet({{"a", 10}}), other = MakeSet({{"a", 10}, {"b", 10}});
    const Par2Reading reading = Read({one.All() + other.All(), other.main});
    ASSERT_EQ(reading.sets.size(), 2u);
    EXPECT_EQ(std::string(reading.sets[0].id.begin(), reading.sets[0].id.end()), other.set);
    EXPECT_EQ(reading.sets[0].files.size(), 2u);
    EXPECT_EQ(reading.sets[1].files.size(), 1u);
    EXPECT_TRUE(reading.sets[0].verifiable && reading.sets[1].verifiable);
}

TEST(Par2Packets, MemoryAndHashingStayBounded)
{
    // 40 checksum packets of 1 MiB each for files the main packet may yet name: past the bound
    // on what the model keeps.
    const Made made = MakeSet({{"a", 10}});
    std::string many = made.main;
    for (int i = 0; i < 40; ++i)
        many += Packet(made.set, kIfsc, std::string(16, static_cast<char>(i)) + std::string(20 * 52428, 's'));
    Par2Reading reading = Read({many});
    ASSERT_EQ(reading.sets.size(), 1u);
    EXPECT_NE(Problems(reading.sets[0]).find("left out to keep memory bounded"), std::string::npos);

    // Packet starts every 64 bytes, each claiming the rest of the file: each fails its MD5.
    std::string overlapping;
    for (uint64_t at = 0; at < 256 * 1024; at += 64)
        overlapping += std::string("PAR2\0PKT", 8) + Le(256 * 1024 - at, 8) + std::string(48, 'z');
    std::vector<std::unique_ptr<MemorySource>> sources;
    reading = Read({overlapping}, &sources);
    EXPECT_TRUE(reading.files[0].gaveUp);
    EXPECT_LE(sources[0]->read, 3 * overlapping.size() + (1 << 20));
}

TEST(Par2Packets, ReadFailuresAndStops)
{
    const std::string all = MakeSet({{"a", 100}, {"b", 100}}).All();
    MemorySource failing(all);
    failing.failFrom = all.size() / 2;
    Par2Reading reading = ReadPar2Files({&failing});
    EXPECT_TRUE(reading.files[0].readFailed);
    MemorySource source(all);
    uint64_t heard = 0;
    reading = ReadPar2Files({&source, &source}, [&heard](uint64_t bytes) {
        heard += bytes;
        return heard < 100;
    });
    EXPECT_TRUE(reading.stopped && reading.files[0].stopped);
    EXPECT_EQ(reading.files.size(), 1u);
}

}  // namespace
