// The RAR 4 header reader on volumes made by the writer of rar4_bytes.h (whose sets the UnRAR
// library tests as sound) and byte by byte: the layout it reads, the facts of each file, and the
// reason it gives for each kind of broken set. How the parts of a file are joined across volumes
// is shared with the RAR 5 reader (engine/rar_layout.cpp), whose tests hold the cases of it.
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
                (file.startsBefore ? " continued" : "") + (file.oemName ? " oem" : "") +
                (file.attributes != 0x20 ? " attributes " + std::to_string(file.attributes) : "") + " " +
                std::to_string(file.size) + ":";
        for (const RarPart& part : file.parts)
            text += " " + std::to_string(part.volume) + ":" + std::to_string(part.offset) + "+" +
                    std::to_string(part.size) + (part.last ? "" : ",");
        text += "; ";
    }
    return text;
}

// A file of `size` bytes with the fields of its header.
File Of(const std::string& name, size_t size = 0, unsigned flags = 0, unsigned method = 0x30, unsigned host = 2,
        uint32_t attributes = 0x20)
{
    File file;
    file.name = name;
    for (size_t i = 0; i < size; ++i)
        file.data += static_cast<char>(i * 7 + name.size());
    file.flags = flags;
    file.method = method;
    file.host = host;
    file.attributes = attributes;
    return file;
}

// A main header of RAR 2.x with a comment inside, which its CRC leaves out.
std::string MainWithComment()
{
    const std::string comment = Block(0x75, 0, Le(5, 2) + Le(20, 1) + Le(0x30, 1) + Le(0, 2) + "hello");
    std::string body = Le(0x73, 1) + Le(0x0003, 2) + Le(13 + comment.size(), 2) + std::string(6, '\0') + comment;
    return kMarker + Le(Crc32Update(0, body.data(), 11), 2) + body;
}

TEST(Rar4Layout, ReadsSetsAndTheFactsOfFilesAndGivesTheReasonForBrokenOnes)
{
    const std::vector<std::string> film = WriteSet({Of("film.mkv", 300)}, 150);
    std::string damaged = film[0];
    damaged[30] ^= 1;
    File big = Of("big", 20, kLarge), comment = Of("CMT", 2);
    big.highSize = 1;
    comment.type = 0x7A;  // a sub-block
    // Unicode forms: "Пр" copied from the plain name with a correction; and "a\é☃𝄞" in one byte,
    // one under the high byte 0x26, and two for each half of a surrogate pair.
    const std::string cyrillic("\x8F\xB0\0\x04\xC0\x80\x90", 7);
    const std::string symbols("a\\___\0\x26\x01\x61\\\xE9\x03\xA0\x34\xD8\x1E\xDD", 17);
    const struct {
        const char* what;
        std::vector<std::string> set;
        const char* result;  // the layout (Describe), or the reason of the failure
    } rows[] = {
        {"one file over four volumes", film, "film.mkv 300: 0:60+81, 1:60+81, 2:60+81, 3:60+57; "},
        {"read from the second volume on", std::vector<std::string>(film.begin() + 1, film.end()),
         "film.mkv continued 300: 0:60+81, 1:60+81, 2:60+57; "},
        {"a file that starts the next volume, and an empty one", WriteSet({Of("a", 50), Of("b", 10), Of("c")}, 120),
         "a 50: 0:53+50; b 10: 1:53+10; c 0: 1:96+0; "},
        {"64-bit sizes", WriteSet({big, Of("small", 3)}, 85), "big 4294967316: 0:63+13, 1:63+7; small 3: 2:57+3; "},
        {"a directory, a packed, an encrypted file, Unix attributes, a symbolic link",
         {Main() + FileHeader(Of("d", 0, 0xE0)) + FileHeader(Of("p", 0, 0, 0x33)) + FileHeader(Of("e", 0, 0x04)) +
          FileHeader(Of("u", 0, 0, 0x30, 3, 0x81A4)) + FileHeader(Of("l", 0, 0, 0x30, 3, 0xA1FF)) + End(false, 0)},
         "d/ 0: 0:53+0; p packed 0: 0:86+0; e encrypted 0: 0:119+0; u attributes 0 0: 0:152+0; "
         "l packed attributes 0 0: 0:185+0; "},
        {"names in bytes of the OEM code page, as the library reads them, and in the Unicode form, with / for "
         "the separator of Windows",
         {Main() + FileHeader(Of("caf\xe9")) + FileHeader(Of("caf\xc3\xa9", 0, kUnicode)) +
          FileHeader(Of(cyrillic, 0, kUnicode)) + FileHeader(Of(symbols, 0, kUnicode)) + End(false, 0)},
         "caf\xe9 oem 0: 0:56+0; caf\xc3\xa9 oem 0: 0:93+0; \xd0\x9f\xd1\x80 0: 0:132+0; "
         "a/\xc3\xa9\xe2\x98\x83\xf0\x9d\x84\x9e 0: 0:181+0; "},
        {"a part after the first that carries no CRC of its own (all ones)",
         {Main() + FileHeader(Of("a"), 1, kSplitAfter) + "x" + End(true, 0),
          Main() + FileHeader(Of("a"), 1, kSplitBefore | kSplitAfter, 0xFFFFFFFF) + "y" + End(true, 1),
          Main() + FileHeader(Of("a"), 1, kSplitBefore) + "z" + End(false, 2)},
         "a no-crc 0: 0:53+1, 1:53+1, 2:53+1; "},
        {"comments, a recovery record, sub-blocks and unknown blocks are passed over",
         {MainWithComment() + FileHeader(comment, 2) + comment.data +
          Block(0x78, kLongBlock, Le(3, 4) + std::string(15, '\0')) + "rrr" + Block(0x7C, kLongBlock, Le(1, 4)) + "u" +
          Block(0x76, 0, "").replace(0, 2, "??") + FileHeader(Of("a")) + End(false, 0)},
         "a 0: 0:156+0; "},
        {"the last volume read says that another follows",
         {Main() + FileHeader(Of("a")) + End(true, 0)},
         "a 0: 0:53+0; more volumes follow"},
        {"a header's CRC does not hold", {damaged}, "vol1 is damaged"},
        {"a volume cut inside a header", {film[0].substr(0, 50)}, "vol1 is cut short"},
        {"a pack size of more than 32 bits",
         {Main() + FileHeader(Of("big", 1, kLarge), (1ull << 32) + 1) + "x" + End(false, 0)},
         "vol1 is cut short"},
        {"a file header too short for its type",
         {Main() + Block(0x74, kLongBlock, std::string(20, '\0')) + End(false, 0)},
         "vol1 is damaged"},
        {"a name longer than its header",
         {Main() + Block(0x74, kLongBlock, FileHeader(Of("a")).substr(7).replace(19, 2, "\x09\x00"))},
         "vol1 is damaged"},
        {"encrypted headers", {Main(kVolume | 0x0080) + std::string(40, '\x5a')}, "vol1 is encrypted"},
        {"a solid set", {Main(kVolume | 0x0008) + End(false, 0)}, "vol1 is solid"},
        {"the first block is no main header", {kMarker + End(false, 0)}, "vol1 is damaged"},
        {"a volume twice", {film[0], film[0]}, "vol2 does not follow the volume before it"},
        {"a RAR 5 volume", {std::string("Rar!\x1A\x07\x01\x00", 8) + std::string(20, '\0')}, "vol1 is no RAR 4 volume"},
    };
    for (const auto& row : rows) {
        MemorySet set(row.set);
        std::vector<RarFile> files;
        std::string error;
        bool last = false;
        const bool read = ReadRar4Layout(set.volumes, files, error, &last);
        EXPECT_EQ(read ? Describe(files) + (last ? "" : "more volumes follow") : error, row.result) << row.what;
        // A part's CRC is that of its data while the file goes on, of the whole file in its last
        // part (which a file continued from before does not hold).
        for (const RarFile& file : files) {
            std::string data;
            for (const RarPart& part : file.parts) {
                const std::string bytes = set.sources[part.volume]->bytes().substr(part.offset, part.size);
                data += bytes;
                const std::string& covered = part.last ? data : bytes;
                if (file.hasCrc && !(part.last && file.startsBefore)) {
                    EXPECT_EQ(part.crc, Crc32Update(0, covered.data(), covered.size())) << row.what;
                }
            }
        }
    }
}

// The write time: the DOS time of the header as it stands (local), made precise by the
// extended time field, which may carry the creation and access times besides, each with a DOS
// time of its own; none for a DOS time that is no calendar time.
TEST(Rar4Layout, WriteTimeOfTheDosTimeAndTheExtendedTimeField)
{
    const auto time = [](uint32_t dos, const std::string& extended) {
        File file = Of("a");
        file.dosTime = dos;
        file.extendedTime = extended;
        MemorySet set({Main() + FileHeader(file) + End(false, 0)});
        std::vector<RarFile> files;
        std::string error;
        EXPECT_TRUE(ReadRar4Layout(set.volumes, files, error)) << error;
        if (files.empty() || !files[0].hasTime)
            return std::string("none");
        const RarFile& read = files[0];
        return std::to_string(read.writeTime) + (read.creationTime ? " created " + std::to_string(read.creationTime) : "") +
               (read.accessTime ? " accessed " + std::to_string(read.accessTime) : "") + (read.localTime ? " local" : "");
    };
    EXPECT_EQ(time(kDosTime, ""), "128895426440000000 local");
    EXPECT_EQ(time(20u << 25 | 2u << 21 | 29u << 16 | 23u << 11 | 59u << 5 | 29u, ""), "125963423980000000 local");
    EXPECT_EQ(time(21u << 25 | 2u << 21 | 29u << 16, ""), "none");  // 2001 is no leap year
    EXPECT_EQ(time(0, ""), "none");
    EXPECT_EQ(time(kDosTime, Le(0xB000, 2) + Le(1234567, 3)), "128895426441234567 local");
    EXPECT_EQ(time(kDosTime, Le(0xD000, 2) + Le(0x12, 1)), "128895426451179648 local");  // +1 s, a high byte
    EXPECT_EQ(time(kDosTime, Le(0x0800, 2) + Le(0, 4)), "128895426440000000 local");     // no write time in it
    EXPECT_EQ(time(kDosTime, Le(0xBB80, 2) + Le(1234567, 3) + Le(kDosTime, 4) + Le(7, 3) + Le(kDosTime + 1, 4)),
              "128895426441234567 created 128895426440000007 accessed 128895426460000000 local");
}

// The number of the end block, or 0 for a first volume without one; none for a volume that
// tells no number. The headers after an encrypted main header are not walked.
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
    EXPECT_EQ(number(Main(kVolume | kFirstVolume | 0x0080) + End(false, 7)), 0);
    EXPECT_EQ(number(Main() + Block(0x7B, 0, "")), -1);
    EXPECT_EQ(number(Main(0) + End(false, 0)), -1);  // no volume
    EXPECT_EQ(number(Main().substr(0, 15)), -1);
}

}  // namespace
