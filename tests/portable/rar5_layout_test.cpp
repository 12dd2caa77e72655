// The RAR 5 header reader on volumes made byte by byte: the layout it reads from sound sets,
// and the reason it gives for each kind of broken one, with the inputs that its fuzz target
// found. Sets made by the real rar tool are read in the fault matrix and are the fuzz seeds.
#include <gtest/gtest.h>

#include <cstdio>

#include "base/crc32.h"
#include "tests/portable/rar5_bytes.h"

namespace {

const std::string kSignature("Rar!\x1A\x07\x01\x00", 8);
const uint64_t kSplitBefore = 0x08, kSplitAfter = 0x10;

std::string Vint(uint64_t value)
{
    std::string bytes;
    do {
        bytes += static_cast<char>((value & 0x7F) | (value > 0x7F ? 0x80 : 0));
        value >>= 7;
    } while (value);
    return bytes;
}

std::string Le32(uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}

// A header block with its CRC: the extra area and the data area are announced when given.
std::string Block(uint64_t type, uint64_t flags, const std::string& fields, const std::string& extra = "",
                  const uint64_t* dataSize = nullptr)
{
    std::string body = Vint(type) + Vint(flags | (extra.empty() ? 0 : 0x01) | (dataSize ? 0x02 : 0));
    if (!extra.empty())
        body += Vint(extra.size());
    if (dataSize)
        body += Vint(*dataSize);
    const std::string sized = Vint(body.size() + fields.size() + extra.size()) + body + fields + extra;
    return Le32(Crc32Update(0, sized.data(), sized.size())) + sized;
}

std::string Main(uint64_t archiveFlags = 0, uint64_t number = 0)
{
    return Block(1, 0, Vint(archiveFlags) + (archiveFlags & 0x02 ? Vint(number) : ""));
}

std::string End()
{
    return Block(5, 0, Vint(0));
}

// A file header with a CRC-32 of 0x11223344 whose data area has `dataSize` bytes; `extra` is
// its extra area, `compression` its compression field.
std::string FileFields(const std::string& name, uint64_t size, uint64_t compression = 0, uint64_t fileFlags = 0x04)
{
    std::string fields = Vint(fileFlags) + Vint(size) + Vint(0x20);
    if (fileFlags & 0x02)
        fields += Le32(1000000000);
    if (fileFlags & 0x04)
        fields += Le32(0x11223344);
    return fields + Vint(compression) + Vint(0) + Vint(name.size()) + name;
}

std::string File(const std::string& name, uint64_t dataSize, uint64_t split = 0, const std::string& extra = "",
                 uint64_t compression = 0, uint64_t fileFlags = 0x04)
{
    return Block(2, split, FileFields(name, dataSize, compression, fileFlags), extra, &dataSize);
}

// A volume holding one stored file of `data`.
std::string Volume(const std::string& name, const std::string& data, uint64_t split = 0)
{
    return kSignature + Main() + File(name, data.size(), split) + data + End();
}

// The layout as text: per file its name and facts, then its parts (volume:offset+size).
std::string Describe(const std::vector<Rar5File>& files)
{
    std::string text;
    for (const Rar5File& file : files) {
        text += file.name + (file.directory ? "/" : "") + (file.stored ? "" : " packed") +
                (file.encrypted ? " encrypted" : "") + (file.hasCrc ? "" : " no-crc") +
                (file.startsBefore ? " continued" : "") + " " + std::to_string(file.size);
        if (file.hasTime)
            text += " @" + std::to_string(file.writeTime);
        for (const Rar5Part& part : file.parts) {
            char crc[16];
            std::snprintf(crc, sizeof crc, "%x", part.crc);
            text += " " + std::to_string(part.volume) + ":" + std::to_string(part.offset) + "+" +
                    std::to_string(part.size) + (part.last ? " crc " : " part crc ") + crc;
        }
        text += "; ";
    }
    return text;
}

// The data of a file whose data size wraps around past the volume's end to the offset of an
// earlier file's data, which holds the bytes of an end block: read as they stand, the volume
// ends there and the file seems to hold almost 2^64 bytes.
std::string WrappingVolume()
{
    const std::string head = kSignature + Main() + File("a", End().size()) + End();
    const uint64_t firstData = head.size() - End().size();
    const uint64_t secondData = head.size() + File("b", ~0ull).size();
    return head + File("b", 0 - (secondData - firstData)) + End();
}

struct Row {
    const char* what;
    std::string set;     // the volumes one after another
    const char* result;  // the layout (Describe), or the reason of the failure
};

const uint64_t kOne = 1;
const std::string kTimeRecord = Vint(3) + Vint(0x02) + std::string("\x00\x80\x3e\xd5\xde\xb1\x9d\x01", 8);

const Row kRows[] = {
    {"one stored file", Volume("a.mkv", "12345"), "a.mkv 5 0:39+5 crc 11223344; "},
    {"a file over two volumes and one in the second",
     Volume("a.mkv", "123", kSplitAfter) + kSignature + Main() + File("a.mkv", 2, kSplitBefore) + "45" +
         File("b.nfo", 1) + "x" + End(),
     "a.mkv 3 0:39+3 part crc 11223344 1:39+2 crc 11223344; b.nfo 1 1:64+1 crc 11223344; "},
    {"the first volume read starts inside a file", kSignature + Main() + File("a.mkv", 2, kSplitBefore) + "45" + End(),
     "a.mkv continued 2 0:39+2 crc 11223344; "},
    {"a directory, a compressed file, one with a BLAKE2 hash only, an encrypted one",
     kSignature + Main() + File("d", 0, 0, "", 0, 0x05) + File("p", 0, 0, "", 1 << 7) + File("h", 0, 0, "", 0, 0) +
         File("e", 0, 0, Vint(2) + Vint(1) + "x") + End(),
     "d/ 0 0:35+0 crc 11223344; p packed 0 0:55+0 crc 11223344; h no-crc 0 0:70+0 crc 0; "
     "e encrypted 0 0:93+0 crc 11223344; "},
    {"times in Unix seconds and as a FILETIME record",
     kSignature + Main() + File("u", 0, 0, "", 0, 0x06) + File("w", 0, 0, Vint(kTimeRecord.size()) + kTimeRecord) +
         End(),
     "u 0 @126444736000000000 0:39+0 crc 11223344; w 0 @116444736000000000 0:70+0 crc 11223344; "},
    {"a service block with data is passed over",
     kSignature + Main() + Block(3, 0, std::string(3, '\0'), "", &kOne) + "x" + End(), ""},
    {"no signature", "Rar!\x1A\x07\x00" + Main() + End(), "vol1 is no RAR 5 volume"},
    {"an empty volume", "", "vol1 is no RAR 5 volume"},
    {"a header's CRC does not match", kSignature + Main() + File("a", 0).replace(0, 1, "?") + End(), "vol1 is damaged"},
    {"no end block", kSignature + Main() + File("a", 1) + "x", "vol1 is damaged"},
    {"encrypted headers", kSignature + Block(4, 0, Vint(0) + Vint(0) + std::string(16, 'k')) + Main() + End(),
     "vol1 is encrypted"},
    {"a file's data reaches past the end", kSignature + Main() + File("a", 100) + "x" + End(), "vol1 is cut short"},
    {"a file's data size wraps around the offsets", WrappingVolume(), "vol1 is cut short"},
    {"the extra area is larger than the header",
     kSignature + Main() + Block(2, 0x01, Vint(200) + FileFields("a", 0)) + End(), "vol1 is damaged"},
    {"a file ends in a volume and the next goes on in one",
     Volume("a", "1") + kSignature + Main() + File("a", 1, kSplitBefore) + "2" + End(),
     "vol2 does not follow the volume before it"},
    {"a file goes on in the next under another name",
     Volume("a", "1", kSplitAfter) + kSignature + Main() + File("b", 1, kSplitBefore) + "2" + End(),
     "vol2 does not follow the volume before it"},
    // Found by the fuzz target: headers that contradict each other inside one volume.
    {"a file continued from before after another file",
     kSignature + Main() + File("a", 1) + "x" + File("b", 1, kSplitBefore) + "y" + End(), "vol1 is damaged"},
    {"a file goes on in the same volume",
     kSignature + Main() + File("a", 1, kSplitAfter) + "x" + File("a", 1, kSplitBefore) + "y" + End(),
     "vol1 is damaged"},
    {"a file goes on past a volume that holds none of it",
     Volume("a", "1", kSplitAfter) + kSignature + Main() + End() + kSignature + Main() + File("a", 1, kSplitBefore) +
         "2" + End(),
     "vol2 does not follow the volume before it"},
    {"the set ends inside a file", Volume("a", "1", kSplitAfter), "the set ends inside a"},
};

TEST(Rar5Layout, ReadsSetsAndGivesTheReasonForBrokenOnes)
{
    for (const Row& row : kRows) {
        MemorySet set(row.set);
        std::vector<Rar5File> files;
        std::string error;
        const bool read = ReadRar5Layout(set.volumes, files, error);
        EXPECT_EQ(read ? Describe(files) : error, row.result) << row.what;
    }
}

TEST(Rar5Layout, VolumeNumberOfTheMainHeader)
{
    const struct {
        std::string volume;
        bool found;
        uint64_t number;
    } cases[] = {
        {kSignature + Main(0x03, 4) + End(), true, 4},
        {kSignature + Main(0x01) + End(), true, 0},   // a first volume carries no number
        {kSignature + Main(0x00) + End(), false, 0},  // no volume
        {kSignature + File("a", 0) + End(), false, 0},
        {kSignature + Main(0x03).substr(0, 8), false, 0},
    };
    for (const auto& c : cases) {
        MemorySource volume(c.volume);
        uint64_t number = 99;
        EXPECT_EQ(Rar5VolumeNumber(volume, number), c.found) << c.volume.size();
        if (c.found)
            EXPECT_EQ(number, c.number);
    }
}

TEST(Rar5Layout, ResumableOnlyWhenEveryFileIsStoredPlainWithCrcs)
{
    Rar5File stored;
    stored.stored = stored.hasCrc = true;
    Rar5File directory;
    directory.directory = true;
    Rar5File packed = stored, encrypted = stored, hashed = stored;
    packed.stored = false;
    encrypted.encrypted = true;
    hashed.hasCrc = false;
    EXPECT_TRUE(IsResumable({stored, directory}));
    EXPECT_FALSE(IsResumable({}));
    for (const Rar5File& file : {packed, encrypted, hashed})
        EXPECT_FALSE(IsResumable({stored, file}));
}

}  // namespace
