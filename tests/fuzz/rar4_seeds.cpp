// Writes the seeds of the RAR 4 fuzz target into the folder given, each the volumes of one set
// one after another, made by the writer of the tests: no tool at hand writes RAR 4 any more.
#include <fstream>
#include <string>
#include <vector>

#include "tests/portable/rar4_bytes.h"

using namespace rar4;

namespace {

std::string Joined(const std::vector<std::string>& volumes, size_t from = 0)
{
    std::string set;
    for (size_t i = from; i < volumes.size(); ++i)
        set += volumes[i];
    return set;
}

File Of(const std::string& name, size_t size)
{
    File file;
    file.name = name;
    file.data.resize(size);
    for (size_t i = 0; i < size; ++i)
        file.data[i] = static_cast<char>(i * 31 + 7);
    return file;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string folder = argv[1];
    File unicode = Of("Film\\caf\xc3\xa9 \xe2\x98\x83 \xf0\x9d\x84\x9e.nfo", 40);
    unicode.extendedTime = Le(0xB000, 2) + Le(1234567, 3);
    File large = Of("large.bin", 300);
    large.flags = kLarge;
    File directory = Of("Film", 0);
    directory.flags = 0xE0;
    File comment = Of("CMT", 12);
    comment.type = 0x7A;
    const std::vector<std::string> stored = WriteSet({Of("Film\\film.mkv", 3000), Of("film.nfo", 200)}, 1000);
    const struct {
        const char* name;
        std::string set;
    } seeds[] = {
        {"stored", Joined(stored)},
        {"stored-later-volumes", Joined(stored, 1)},
        {"names-times-sizes", Joined(WriteSet({directory, unicode, large}, 400))},
        {"sub-block", Main(kVolume | kFirstVolume) + FileHeader(comment, 12, 0, 0) + comment.data +
                          FileHeader(Of("a", 0), 0, 0, 0) + End(false, 0)},
    };
    for (const auto& seed : seeds)
        if (!(std::ofstream(folder + "/" + seed.name, std::ios::binary) << seed.set))
            return 1;
    return 0;
}
