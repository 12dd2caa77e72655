// Damaged archives: mutated copies of valid ones go through opening, every item record and
// every extraction. None may crash, hang, or write outside the destination. The mutations
// come from a fixed seed, so a failure repeats; its message names the mutation's number.
#include "engine/zip/zip_reader.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "tests/support/test_files.h"
#include "tests/support/zip_test_support.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;
typedef std::pair<size_t, int> Field;  // offset, width

const int kMutationsPerSeed = 1700;  // a multiple of 100: every mutation is checked

size_t Below(std::mt19937_64& random, size_t bound)
{
    return bound == 0 ? 0 : static_cast<size_t>(random() % bound);
}

// Offsets of the size, offset, count and length fields of every header in `archive`.
std::vector<Field> HeaderFields(const std::string& archive)
{
    struct Layout {
        const char* signature;
        std::vector<Field> fields;  // offset from the signature, width
    } layouts[] = {
        {"PK\x03\x04", {{8, 2}, {14, 4}, {18, 4}, {22, 4}, {26, 2}, {28, 2}}},
        {"PK\x01\x02", {{4, 2}, {10, 2}, {16, 4}, {20, 4}, {24, 4}, {28, 2}, {30, 2}, {32, 2}, {38, 4}, {42, 4}}},
        {"PK\x05\x06", {{4, 2}, {6, 2}, {8, 2}, {10, 2}, {12, 4}, {16, 4}, {20, 2}}},
    };
    std::vector<Field> fields;
    for (const Layout& layout : layouts)
        for (size_t at = archive.find(layout.signature); at != std::string::npos;
             at = archive.find(layout.signature, at + 1))
            for (const auto& field : layout.fields)
                if (at + field.first + field.second <= archive.size())
                    fields.push_back({at + field.first, field.second});
    return fields;
}

std::string Mutate(const std::string& seed, const std::vector<Field>& fields, std::mt19937_64& random)
{
    std::string bytes = seed;
    const int rounds = 1 + static_cast<int>(Below(random, 3));
    for (int round = 0; round < rounds && !bytes.empty(); ++round) {
        switch (Below(random, 4)) {
        case 0:  // flip bytes
            for (size_t n = 1 + Below(random, 4); n > 0; --n)
                bytes[Below(random, bytes.size())] ^= static_cast<char>(1 + Below(random, 255));
            break;
        case 1:  // truncate
            bytes.resize(Below(random, bytes.size()));
            break;
        case 2: {  // set a size, offset, count or length field
            const auto& field = fields[Below(random, fields.size())];
            if (field.first + field.second > bytes.size())
                break;
            const uint64_t values[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, 0xFFFF, random(), 12, 0x10000};
            uint64_t value = values[Below(random, std::size(values))];
            if (Below(random, 3) == 0) {
                value = 0;
                for (int i = field.second; i-- > 0;)
                    value = (value << 8) | static_cast<unsigned char>(bytes[field.first + i]);
                value = Below(random, 2) ? value + 1 : value - 1;
            }
            bytes.replace(field.first, field.second, LittleEndian(value, field.second));
            break;
        }
        default: {  // cut out or repeat a span, which shifts everything behind it
            const size_t at = Below(random, bytes.size());
            const size_t length = 1 + Below(random, 64);
            if (Below(random, 2))
                bytes.erase(at, length);
            else
                bytes.insert(at, bytes.substr(at, length));
            break;
        }
        }
    }
    return bytes;
}

std::vector<std::string> Seeds()
{
    ZipEntry encrypted = FileEntry("enc/secret.txt", "encrypted with the empty password, then deflated");
    encrypted.encrypted = true;
    ZipEntry described = FileEntry("described.bin", PatternBytes(600, 5), 0);
    described.dataDescriptor = true;
    ZipEntry stamped = UnixEntry("stamped.txt", std::string(300, 's'), 0100644);
    stamped.localExtra = UtBlock(0x07, {1, 2, 3}) + ExtraBlock("ux", "abcdefghijk");
    const std::string written =
        BuildZip({FileEntry("a.txt", "a short text, deflated; a short text, deflated"), DirectoryEntry("dir/"),
                  FileEntry("dir/b.bin", PatternBytes(900, 6), 0), encrypted, described, stamped});
    return {written, ReadFileBytes(ZipFixtureDirectory() + "seed.zip"),
            ReadFileBytes(ZipFixtureDirectory() + "encrypted-deflated.zip")};
}

// Everything in the test's directory besides the archive, the destination and its contents.
Names Outside(const std::string& root)
{
    const std::string destination = "a\\b\\dest\\";
    Names outside;
    for (const std::string& entry : ListTree(root))
        if (entry.compare(0, destination.size(), destination) != 0 && entry != "a\\b\\m.zip")
            outside.push_back(entry);
    return outside;
}

TEST(ZipRobustness, MutatedArchivesNeverCrashHangOrEscape)
{
    ASSERT_TRUE(FileExists(ZipFixtureDirectory() + "stamp")) << "run ctest, which makes the fixtures";
    TempDir dir;
    // a\b\ gives names that climb out of dest\ room to land in.
    const std::string destination = dir / "a\\b\\dest\\", archive = dir / "a\\b\\m.zip";
    MakeDirectories(destination);
    std::mt19937_64 random(0x5EED2024);
    int number = 0, opened = 0, extracted = 0;
    for (const std::string& seed : Seeds()) {
        const std::vector<Field> fields = HeaderFields(seed);
        ASSERT_FALSE(fields.empty());
        for (int i = 0; i < kMutationsPerSeed; ++i, ++number) {
            WriteFileBytes(archive, Mutate(seed, fields, random));
            ReaderHandle reader(openReader(archive));
            opened += reader != nullptr;
            setBaseDirectory(reader.get(), destination);
            ZipItem summary;
            getItem(reader.get(), -1, summary);
            for (int32_t index = 0; index < summary.index; ++index) {
                ZipItem item;
                getItem(reader.get(), index, item);
                extracted += extractItem(reader.get(), index, item.name) == ZipStatus::Ok;
            }
            reader.reset();
            if (number % 100 == 99) {
                ASSERT_EQ(Outside(dir.path()), (Names{"a\\", "a\\b\\"}))
                    << "mutations " << number - 99 << " to " << number;
                RemoveTree(destination);
                MakeDirectories(destination);
            }
        }
    }
    // The mutations must leave enough intact to reach the entries' data.
    EXPECT_GT(opened, number / 4);
    EXPECT_GT(extracted, number / 2);
}

}  // namespace
