#include "engine/rar5_files.h"

#include <memory>

#include "base/files.h"

namespace {

// A volume file as the layout reads it.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path) : file_(path) {}
    bool ReadAt(uint64_t offset, void* data, size_t size, size_t& got) override
    {
        return file_.open() && file_.ReadAt(offset, data, size, got);
    }
    uint64_t Size() const override { return file_.Size(); }

private:
    FileReader file_;
};

}  // namespace

bool ReadRar5Layout(const std::vector<std::string>& paths, std::vector<Rar5File>& files, std::string& error)
{
    std::vector<std::unique_ptr<FileSource>> sources;
    std::vector<Rar5Volume> volumes;
    for (const std::string& path : paths) {
        sources.push_back(std::make_unique<FileSource>(path));
        volumes.push_back({path.substr(path.find_last_of("\\/") + 1), sources.back().get()});
    }
    return ReadRar5Layout(volumes, files, error);
}

bool Rar5VolumeNumber(const std::string& path, uint64_t& number)
{
    FileSource volume(path);
    return Rar5VolumeNumber(volume, number);
}
