// The RAR 4 header reader on volumes made by the writer of rar4_bytes.h (whose sets the UnRAR
// library tests as sound) and byte by byte: the layout it reads, the facts of each file, and the
// reason it gives for each kind of broken set.
#include <gtest/gtest.h>

#include "tests/portable/rar4_bytes.h"

namespace {

using namespace rar4;

// The layout as text: per file its name, facts and size, then its parts (volume:offset+size,
// with a comma while the file goes on).
std::string Describe(const std::vector<RarFile>& files)
{
    std::string text;
    for (const RarFile& file : files) {
        text += file.name + (file.directory ? "/" : "") + (file.stored ? "" : " packed") +
                (file.encrypted ? " encrypted" : "") + (file.hasCrc ? "" : " no-crc") +
                (file.startsBefore ? " continued" : "") +
                (file.attributes != 0x20 ? " attributes " + std::to_string(file.attributes) : "") + " " +
                std::to_string(file.size) + ":";
        for (const RarPart& part : file.parts)
            text += " " + std::to_string(part.volume) + ":" + std::to_string(part.offset) + "+" +
                    std::to_string(part.size) + (part.last ? "" : ",");
        text += "; ";
    }
    return text;
}

// Every part's CRC is that of its bytes in the volume while the file goes on, of the whole
// file in its last part; and the parts together are the file's data.
void ExpectPartsHoldTheData(const MemorySet& set, const std::vector<RarFile>& files, const std::vector<File>& written)
{
    ASSERT_EQ(files.size(), written.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::string data;
        for (const RarPart& part : files[i].parts) {
            const std::string bytes = set.sources[part.volume]->bytes().substr(part.offset, part.size);
            data += bytes;
            EXPECT_EQ(part.crc, Crc32Update(0, (part.last ? data : bytes).data(), (part.last ? data : bytes).size()));
        }
        EXPECT_EQ(data, written[i].data) << files[i].name;
    }
}

File Sized(const std::string& name, size_t size, unsigned flags = 0, uint32_t highSize = 0)
{
    File file;
    file.name = name;
    file.data.resize(size);
    for (size_t i = 0; i < size; ++i)
        file.data[i] = static_cast<char>(i * 7 + name.size());
    file.flags = flags;
    file.highSize = highSize;
    return file;
}

TEST(Rar4Layout, ReadsTheSetsThatTheWriterMakes)
{
    const struct {
        const char* what;
        std::vector<File> files;
        size_t volumeSize;
        size_t from;  // the first volume read
        const char* result;
    } rows[] = {
        {"one file over four volumes",
         {Sized("film.mkv", 300)},
         150,
         0,
         "film.mkv 300: 0:60+81, 1:60+81, 2:60+81, 3:60+57; "},
        {"read from the second volume on",
         {Sized("film.mkv", 300)},
         150,
         1,
         "film.mkv continued 300: 0:60+81, 1:60+81, 2:60+57; "},
        {"a file that starts the next volume, and an empty one",
         {Sized("a", 50), Sized("b", 10), Sized("c", 0)},
         120,
         0,
         "a 50: 0:53+50; b 10: 1:53+10; c 0: 1:96+0; "},
        {"a Unicode name with the separator of Windows",
         {Sized("Filme\\caf\xc3\xa9 \xe2\x98\x83\xf0\x9d\x84\x9e.nfo", 5)},
         200,
         0,
         "Filme/caf\xc3\xa9 \xe2\x98\x83\xf0\x9d\x84\x9e.nfo 5: 0:97+5; "},
        {"64-bit sizes",
         {Sized("big", 20, kLarge, 1), Sized("small", 3)},
         85,
         0,
         "big 4294967316: 0:63+13, 1:63+7; small 3: 2:57+3; "},
    };
    for (const auto& row : rows) {
        const std::vector<std::string> all = WriteSet(row.files, row.volumeSize);
        MemorySet set(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(row.from), all.end()));
        std::vector<RarFile> files;
        std::string error;
        bool last = false;
        ASSERT_TRUE(ReadRar4Layout(set.volumes, files, error, &last)) << row.what << ": " << error;
        EXPECT_EQ(Describe(files), row.result) << row.what;
        EXPECT_TRUE(last) << row.what;
        if (row.from == 0)
            ExpectPartsHoldTheData(set, files, row.files);
        for (size_t i = 0; i < set.volumes.size(); ++i) {
            uint64_t number = 0;
            EXPECT_TRUE(Rar4VolumeNumber(*set.sources[i], number) && number == i + row.from) << row.what;
        }
    }
}

File Header(const std::string& name, unsigned flags = 0, unsigned method = 0x30, unsigned host = 2,
            uint32_t attributes = 0x20)
{
    File file;
    file.name = name;
    file.nameField = name;
    file.flags = flags;
    file.method = method;
    file.host = host;
    file.attributes = attributes;
    return file;
}

File SubBlock(const std::string& name)
{
    File block = Header(name);
    block.type = 0x7A;
    return block;
}

// A main header of RAR 2.x with a comment inside, which its CRC leaves out.
std::string MainWithComment()
{
    const std::string comment = Block(0x75, 0, Le(5, 2) + Le(20, 1) + Le(0x30, 1) + Le(0, 2) + "hello");
    std::string body = Le(0x73, 1) + Le(0x0003, 2) + Le(13 + comment.size(), 2) + std::string(6, '\0') + comment;
    return kMarker + Le(Crc32Update(0, body.data(), 11), 2) + body;
}

const std::vector<std::string> kSet = WriteSet({Sized("film.mkv", 300)}, 150);
std::string Cut(const std::string& bytes, size_t size)
{
    return bytes.substr(0, size);
}

TEST(Rar4Layout, ReadsTheFactsOfFilesAndGivesTheReasonForBrokenSets)
{
    const std::string cyrillic = std::string("\x8F\xB0\0\x04\xC0\x80\x90", 7);  // "Пр" copied with a correction
    std::string damaged = kSet[0];
    damaged[30] ^= 1;
    const struct {
        const char* what;
        std::vector<std::string> set;
        const char* result;  // the layout (Describe), or the reason of the failure
    } rows[] = {
        {"a directory, a packed, an encrypted file, Unix attributes, a symbolic link",
         {Main() + FileHeader(Header("d", 0xE0), 0, 0, 0) + FileHeader(Header("p", 0, 0x33), 0, 0, 0) +
          FileHeader(Header("e", 0x04), 0, 0, 0) + FileHeader(Header("u", 0, 0x30, 3, 0x81A4), 0, 0, 0) +
          FileHeader(Header("l", 0, 0x30, 3, 0xA1FF), 0, 0, 0) + End(false, 0)},
         "d/ 0: 0:53+0; p packed 0: 0:86+0; e encrypted 0: 0:119+0; u attributes 0 0: 0:152+0; "
         "l packed attributes 0 0: 0:185+0; "},
        {"names in Latin-1, in UTF-8, and in the Unicode form copied from the plain name",
         {Main() + FileHeader(Header("caf\xe9"), 0, 0, 0) + FileHeader(Header("caf\xc3\xa9", kUnicode), 0, 0, 0) +
          FileHeader(Header(cyrillic, kUnicode), 0, 0, 0) + End(false, 0)},
         "caf\xc3\xa9 0: 0:56+0; caf\xc3\xa9 0: 0:93+0; \xd0\x9f\xd1\x80 0: 0:132+0; "},
        {"a part that carries no CRC of its own (all ones)",
         {Main() + FileHeader(Header("a"), 1, kSplitAfter, 0xFFFFFFFF) + "x" + End(true, 0),
          Main() + FileHeader(Header("a"), 1, kSplitBefore, 0) + "y" + End(false, 1)},
         "a no-crc 0: 0:53+1, 1:53+1; "},
        {"comments, a recovery record, sub-blocks and unknown blocks are passed over",
         {MainWithComment() + FileHeader(SubBlock("CMT"), 2, 0, 0) + "cc" +
          Block(0x78, kLongBlock, Le(3, 4) + std::string(15, '\0')) + "rrr" + Block(0x7C, kLongBlock, Le(1, 4)) + "u" +
          Block(0x76, 0, "").replace(0, 2, "??") + FileHeader(Header("a"), 0, 0, 0) + End(false, 0)},
         "a 0: 0:156+0; "},
        {"the last volume read says that another follows",
         {Main() + FileHeader(Header("a"), 0, 0, 0) + End(true, 0)},
         "a 0: 0:53+0; more volumes follow"},
        {"a header's CRC does not hold", {damaged, kSet[1], kSet[2], kSet[3]}, "vol1 is damaged"},
        {"a volume cut inside a file's data", {Cut(kSet[0], 100), kSet[1], kSet[2], kSet[3]}, "vol1 is cut short"},
        {"a volume cut inside a header", {Cut(kSet[0], 50)}, "vol1 is cut short"},
        {"a header's size reaches past the end",
         {Main() + Block(0x7C, 0, "").replace(5, 2, "\xff\x00")},
         "vol1 is cut short"},
        {"a pack size of more than 32 bits",
         {Main() + FileHeader(Sized("big", 1, kLarge), 1ull << 32, 0, 0) + "x"},
         "vol1 is cut short"},
        {"a file header too short for its type",
         {Main() + Block(0x74, kLongBlock, std::string(20, '\0')) + End(false, 0)},
         "vol1 is damaged"},
        {"a name longer than its header",
         {Main() + Block(0x74, kLongBlock, FileHeader(Header("a"), 0, 0, 0).substr(7).replace(19, 2, "\x09\x00"))},
         "vol1 is damaged"},
        {"encrypted headers", {Main(kVolume | 0x0080) + std::string(40, '\x5a')}, "vol1 is encrypted"},
        {"a solid set", {Main(kVolume | 0x0008) + End(false, 0)}, "vol1 is solid"},
        {"the first block is no main header", {kMarker + End(false, 0)}, "vol1 is damaged"},
        {"a volume twice", {kSet[0], kSet[0]}, "vol2 does not follow the volume before it"},
        {"a file goes on in a volume after one where it ended",
         {Main() + FileHeader(Sized("film.mkv", 0), 0, 0, 0) + End(true, 0), kSet[1]},
         "vol2 does not follow the volume before it"},
        {"the set ends inside a file", {kSet[0], kSet[1]}, "the set ends inside film.mkv"},
        {"no RAR volume", {"not a RAR volume at all"}, "vol1 is no RAR 4 volume"},
        {"a RAR 5 volume", {std::string("Rar!\x1A\x07\x01\x00", 8) + std::string(20, '\0')}, "vol1 is no RAR 4 volume"},
    };
    for (const auto& row : rows) {
        MemorySet set(row.set);
        std::vector<RarFile> files;
        std::string error;
        bool last = false;
        const bool read = ReadRar4Layout(set.volumes, files, error, &last);
        EXPECT_EQ(read ? Describe(files) + (last ? "" : "more volumes follow") : error, row.result) << row.what;
    }
}

// The write time: the DOS time of the header as it stands (local), made precise by the
// extended time field; none for a DOS time that is no calendar time.
TEST(Rar4Layout, WriteTimeOfTheDosTimeAndTheExtendedTimeField)
{
    const auto time = [](uint32_t dos, const std::string& extended) {
        File file = Header("a");
        file.dosTime = dos;
        file.extendedTime = extended;
        MemorySet set({Main() + FileHeader(file, 0, 0, 0) + End(false, 0)});
        std::vector<RarFile> files;
        std::string error;
        EXPECT_TRUE(ReadRar4Layout(set.volumes, files, error)) << error;
        if (files.empty() || !files[0].hasTime)
            return std::string("none");
        return std::to_string(files[0].writeTime) + (files[0].localTime ? " local" : "");
    };
    EXPECT_EQ(time(kDosTime, ""), "128895426440000000 local");
    EXPECT_EQ(time(20u << 25 | 2u << 21 | 29u << 16 | 23u << 11 | 59u << 5 | 29u, ""), "125963423980000000 local");
    EXPECT_EQ(time(21u << 25 | 2u << 21 | 29u << 16, ""), "none");  // 2001 is no leap year
    EXPECT_EQ(time(0, ""), "none");
    EXPECT_EQ(time(kDosTime, Le(0xB000, 2) + Le(1234567, 3)), "128895426441234567 local");
    EXPECT_EQ(time(kDosTime, Le(0xD000, 2) + Le(0x12, 1)), "128895426451179648 local");  // +1 s, a high byte
    EXPECT_EQ(time(kDosTime, Le(0x0800, 2) + Le(0, 4)), "128895426440000000 local");     // no write time in it
}

TEST(Rar4Layout, VolumeNumberOfTheEndBlockOrTheFirstVolumeFlag)
{
    const auto number = [](const std::string& volume) {
        MemorySource source(volume);
        uint64_t value = 0;
        return Rar4VolumeNumber(source, value) ? static_cast<int>(value) : -1;
    };
    EXPECT_EQ(number(Main() + End(false, 7)), 7);
    EXPECT_EQ(number(Main() + Block(0x7B, 0x000A, Le(0xDEADBEEF, 4) + Le(5, 2))), 5);  // after the data CRC
    EXPECT_EQ(number(Main(kVolume | kFirstVolume) + Block(0x7B, 0, "")), 0);
    EXPECT_EQ(number(Main(kVolume | kFirstVolume | 0x0080) + std::string(40, '\x5a')), 0);
    EXPECT_EQ(number(Main() + Block(0x7B, 0, "")), -1);
    EXPECT_EQ(number(Main(0) + End(false, 0)), -1);  // no volume
    EXPECT_EQ(number(Cut(Main(), 15)), -1);
}

}  // namespace
