// The RAR 5 header reader on volumes made byte by byte: the layout it reads from sound sets,
// and the reason it gives for each kind of broken one, with the inputs that its fuzz target
// found. Sets made by the real rar tool are read in the fault matrix and are the fuzz seeds.
#include <gtest/gtest.h>

#include "base/crc32.h"
#include "tests/portable/rar5_bytes.h"

namespace {

const std::string kSignature("Rar!\x1A\x07\x01\x00", 8);
const uint64_t kSplitBefore = 0x08, kSplitAfter = 0x10, kNoData = ~0ull;

std::string Vint(uint64_t value)
{
    std::string bytes;
    for (; value > 0x7F; value >>= 7)
        bytes += static_cast<char>(0x80 | (value & 0x7F));
    return bytes + static_cast<char>(value);
}

std::string Le32(uint32_t value)
{
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
            static_cast<char>(value >> 24)};
}

// A header block with its CRC: the extra area and the data area are announced when given.
std::string Block(uint64_t type, uint64_t flags, const std::string& fields, const std::string& extra = "",
                  uint64_t dataSize = kNoData)
{
    std::string body = Vint(type) + Vint(flags | (extra.empty() ? 0 : 0x01) | (dataSize != kNoData ? 0x02 : 0)) +
                       (extra.empty() ? "" : Vint(extra.size())) + (dataSize != kNoData ? Vint(dataSize) : "");
    body = Vint(body.size() + fields.size() + extra.size()) + body + fields + extra;
    return Le32(Crc32Update(0, body.data(), body.size())) + body;
}

std::string Main(uint64_t archiveFlags = 0, uint64_t number = 0)
{
    return kSignature + Block(1, 0, Vint(archiveFlags) + (archiveFlags & 0x02 ? Vint(number) : ""));
}
const std::string kEnd = Block(5, 0, Vint(0));

// The fields of a file header: `fileFlags` 0x01 a directory, 0x02 a Unix time, 0x04 a CRC.
std::string FileFields(const std::string& name, uint64_t compression = 0, uint64_t fileFlags = 0x04)
{
    return Vint(fileFlags) + Vint(0) + Vint(0x20) + (fileFlags & 0x02 ? Le32(1000000000) : "") +
           (fileFlags & 0x04 ? Le32(0x11223344) : "") + Vint(compression) + Vint(0) + Vint(name.size()) + name;
}

std::string File(const std::string& name, uint64_t dataSize, uint64_t split = 0, const std::string& extra = "",
                 uint64_t compression = 0, uint64_t fileFlags = 0x04)
{
    return Block(2, split, FileFields(name, compression, fileFlags), extra, dataSize);
}

// A volume holding one stored file of `data`.
std::string Volume(const std::string& name, const std::string& data, uint64_t split = 0)
{
    return Main() + File(name, data.size(), split) + data + kEnd;
}

// The layout as text: per file its name and facts, then its parts (volume:offset+size, with a
// comma while the file goes on).
std::string Describe(const std::vector<RarFile>& files)
{
    std::string text;
    for (const RarFile& file : files) {
        text += file.name + (file.directory ? "/" : "") + (file.stored ? "" : " packed") +
                (file.encrypted ? " encrypted" : "") + (file.hasCrc ? "" : " no-crc") +
                (file.startsBefore ? " continued" : "") + (file.hasTime ? " @" + std::to_string(file.writeTime) : "");
        for (const RarPart& part : file.parts)
            text += " " + std::to_string(part.volume) + ":" + std::to_string(part.offset) + "+" +
                    std::to_string(part.size) + (part.last ? "" : ",");
        text += "; ";
    }
    return text;
}

// A file whose data size wraps around past the volume's end to the offset of an earlier file's
// data, which holds the bytes of an end block: read as they stand, the volume ends there and
// the file seems to hold almost 2^64 bytes.
std::string WrappingVolume()
{
    const std::string head = Main() + File("a", kEnd.size()) + kEnd;
    const uint64_t back = File("b", 1ull << 63).size() + kEnd.size();  // to the data of "a"
    return head + File("b", 0 - back) + kEnd;
}

const std::string kTimeRecord = Vint(3) + Vint(0x02) + std::string("\x00\x80\x3e\xd5\xde\xb1\x9d\x01", 8);

const struct {
    const char* what;
    std::string set;     // the volumes one after another
    const char* result;  // the layout (Describe), or the reason of the failure
} kRows[] = {
    {"one stored file", Volume("a.mkv", "12345"), "a.mkv 0:39+5; "},
    {"a file over two volumes and one in the second",
     Volume("a.mkv", "123", kSplitAfter) + Main() + File("a.mkv", 2, kSplitBefore) + "45" + File("b", 1) + "x" + kEnd,
     "a.mkv 0:39+3, 1:39+2; b 1:60+1; "},
    {"the first volume read starts inside a file", Main() + File("a", 2, kSplitBefore) + "45" + kEnd,
     "a continued 0:35+2; "},
    {"a directory, a compressed file, one with a BLAKE2 hash only, an encrypted one",
     Main() + File("d", 0, 0, "", 0, 0x05) + File("p", 0, 0, "", 1 << 7) + File("h", 0, 0, "", 0, 0) +
         File("e", 0, 0, Vint(2) + Vint(1) + "x") + kEnd,
     "d/ 0:35+0; p packed 0:55+0; h no-crc 0:70+0; e encrypted 0:93+0; "},
    {"times in Unix seconds and as a FILETIME record",
     Main() + File("u", 0, 0, "", 0, 0x06) + File("w", 0, 0, Vint(kTimeRecord.size()) + kTimeRecord) + kEnd,
     "u @126444736000000000 0:39+0; w @116444736000000000 0:70+0; "},
    {"a service block with data is passed over", Main() + Block(3, 0, std::string(3, '\0'), "", 1) + "x" + kEnd, ""},
    {"no signature", Main().substr(1) + kEnd, "vol1 is no RAR 5 volume"},
    {"an empty volume", "", "vol1 is no RAR 5 volume"},
    {"a header's CRC does not match", Main() + File("a", 0).replace(0, 1, "?") + kEnd, "vol1 is damaged"},
    {"no end block", Main() + File("a", 1) + "x", "vol1 is damaged"},
    {"encrypted headers", kSignature + Block(4, 0, Vint(0) + Vint(0) + std::string(16, 'k')) + kEnd,
     "vol1 is encrypted"},
    {"a file's data reaches past the end", Main() + File("a", 100) + "x" + kEnd, "vol1 is cut short"},
    {"a file's data size wraps around the offsets", WrappingVolume(), "vol1 is cut short"},
    {"the extra area is larger than the header", Main() + Block(2, 0x01, Vint(200) + FileFields("a")) + kEnd,
     "vol1 is damaged"},
    {"a file ends in a volume and the next goes on in one",
     Volume("a", "1") + Main() + File("a", 1, kSplitBefore) + "2" + kEnd, "vol2 does not follow the volume before it"},
    {"a file goes on in the next under another name",
     Volume("a", "1", kSplitAfter) + Main() + File("b", 1, kSplitBefore) + "2" + kEnd,
     "vol2 does not follow the volume before it"},
    // Found by the fuzz target: headers that contradict each other, a volume left out.
    {"a file continued from before after another file",
     Main() + File("a", 1) + "x" + File("b", 1, kSplitBefore) + "y" + kEnd, "vol1 is damaged"},
    {"a file goes on in the same volume",
     Main() + File("a", 1, kSplitAfter) + "x" + File("a", 1, kSplitBefore) + "y" + kEnd, "vol1 is damaged"},
    {"a file goes on past a volume that holds none of it",
     Volume("a", "1", kSplitAfter) + Main() + kEnd + Main() + File("a", 1, kSplitBefore) + "2" + kEnd,
     "vol2 does not follow the volume before it"},
    {"the set ends inside a file", Volume("a", "1", kSplitAfter), "the set ends inside a"},
    {"the last volume read says that another follows", Main() + File("a", 1) + "x" + Block(5, 0, Vint(0x01)),
     "a 0:35+1; more volumes follow"},
};

TEST(Rar5Layout, ReadsSetsAndGivesTheReasonForBrokenOnes)
{
    for (const auto& row : kRows) {
        MemorySet set(SplitVolumes(row.set));
        std::vector<RarFile> files;
        std::string error;
        bool last = false;
        const bool read = ReadRar5Layout(set.volumes, files, error, &last);
        EXPECT_EQ(read ? Describe(files) + (last ? "" : "more volumes follow") : error, row.result) << row.what;
    }
}

// The number of a volume, counted from 0; none for an archive that is no volume.
TEST(Rar5Layout, VolumeNumberOfTheMainHeader)
{
    const auto number = [](const std::string& volume) {
        MemorySource source(volume);
        uint64_t value = 0;
        return Rar5VolumeNumber(source, value) ? static_cast<int>(value) : -1;
    };
    EXPECT_EQ(number(Main(0x03, 4) + kEnd), 4);
    EXPECT_EQ(number(Main(0x01) + kEnd), 0);  // the first volume carries no number
    EXPECT_EQ(number(Main(0x00) + kEnd), -1);
    EXPECT_EQ(number(Main(0x03, 4).substr(0, 12)), -1);
}

}  // namespace
