#include "engine/rar5_files.h"

#include <memory>

#include "base/files.h"

bool ReadRar5Layout(const std::vector<std::string>& paths, std::vector<RarFile>& files, std::string& error)
{
    std::vector<std::unique_ptr<FileReader>> sources;
    std::vector<RarVolume> volumes;
    for (const std::string& path : paths) {
        sources.push_back(std::make_unique<FileReader>(path));
        volumes.push_back({path.substr(path.find_last_of("\\/") + 1), sources.back().get()});
    }
    return ReadRar5Layout(volumes, files, error);
}

bool Rar5VolumeNumber(const std::string& path, uint64_t& number)
{
    FileReader volume(path);
    return Rar5VolumeNumber(volume, number);
}
