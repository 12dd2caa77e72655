#include "engine/rar_layout.h"

bool IsResumable(const std::vector<RarFile>& files)
{
    for (const RarFile& file : files)
        if (!file.directory && (!file.stored || file.encrypted || !file.hasCrc || file.redirection != 0))
            return false;
    return !files.empty();
}

bool ReadRarLayout(const std::vector<RarVolume>& volumes, RarVolumeReader readVolume, std::vector<RarFile>& files,
                   std::string& error, bool* lastVolume)
{
    files.clear();
    bool continuing = false, last = false;
    for (size_t i = 0; i < volumes.size(); ++i) {
        if (!readVolume(volumes[i], i, files, continuing, last, error))
            return false;
        if (continuing && files.back().parts.back().volume != i) {
            error = volumes[i].name + " does not follow the volume before it";  // it holds nothing of the file
            return false;
        }
    }
    if (lastVolume)
        *lastVolume = last;
    if (continuing) {
        error = "the set ends inside " + (files.empty() ? std::string("a file") : files.back().name);
        return false;
    }
    return true;
}

bool AddRarPart(std::vector<RarFile>& files, const RarFile& file, const RarPart& part, bool splitBefore,
                bool& continuing, bool& damaged)
{
    if (splitBefore && continuing) {
        RarFile& open = files.back();
        damaged = open.parts.back().volume == part.volume;
        if (damaged || open.name != file.name)
            return false;
        open.hasCrc = open.hasCrc && file.hasCrc;
        open.parts.push_back(part);
    } else {
        // Only the first volume read may start inside a file, with its first file header: the
        // volumes before it are gone.
        damaged = splitBefore && part.volume == 0 && !files.empty();
        if (damaged || continuing || (splitBefore && part.volume > 0))
            return false;
        files.push_back(file);
        files.back().startsBefore = splitBefore;
        files.back().parts.push_back(part);
    }
    continuing = !part.last;
    return true;
}
