#include "engine/source_deletion.h"

#include "engine/unrar_api.h"

namespace {

const char kVolumePrefix[] = "xxx";
const size_t kVolumePrefixLength = sizeof kVolumePrefix - 1;

// Entries of ZIP archives keep their stored separators, so a path may use either.
size_t NameStart(const std::string& path)
{
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? 0 : separator + 1;
}

// The volume's own path, for a path whose file name carries the prefix.
bool OwnVolumeName(const std::string& prefixed, std::string& own)
{
    const size_t start = NameStart(prefixed);
    if (prefixed.compare(start, kVolumePrefixLength, kVolumePrefix) != 0)
        return false;
    own = prefixed.substr(0, start) + prefixed.substr(start + kVolumePrefixLength);
    return true;
}

// The part of a volume name that every volume of its set shares, whichever naming the set
// uses: the name without its extension and without the volume number before it
// ("show.part1.rar" gives "show.part", "show.rar" and "show.001" give "show").
std::string SetStem(const std::string& name)
{
    std::string stem = name.substr(0, name.rfind('.'));
    while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9')
        stem.pop_back();
    return stem;
}

bool PrefixedFileOfSetExists(const std::string& firstVolume)
{
    const size_t start = NameStart(firstVolume);
    const std::string pattern = firstVolume.substr(0, start) + kVolumePrefix + SetStem(firstVolume.substr(start)) + "*";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

}  // namespace

bool SourcesMayBeDeleted(const UnpackContext& context)
{
    return context.settings.deleteSrcDuring && (context.sfvPresent || !context.settings.keepSrcNoSfv);
}

std::string PrefixedVolumeName(const std::string& path)
{
    const size_t start = NameStart(path);
    return path.substr(0, start) + kVolumePrefix + path.substr(start);
}

bool VolumeRenaming::Begin(const std::string& firstVolume)
{
    if (PrefixedFileOfSetExists(firstVolume))
        return false;
    const std::string prefixed = PrefixedVolumeName(firstVolume);
    if (!MoveFileA(firstVolume.c_str(), prefixed.c_str()))
        return false;
    previousVolume_ = prefixed;
    return true;
}

int VolumeRenaming::NextVolume(const std::string& prefixedName)
{
    std::string own;
    if (stopped_ || !OwnVolumeName(prefixedName, own) || !MoveFileA(own.c_str(), prefixedName.c_str())) {
        stopped_ = true;
        return -1;
    }
    // The library has closed the finished volume before asking for the next one, and the
    // next one is already in place under its own new name: no pause is needed between them.
    DeleteFileA(previousVolume_.c_str());
    previousVolume_ = prefixedName;
    return 0;
}

void VolumeRenaming::Finish(bool complete)
{
    std::string own;
    if (complete)
        DeleteFileA(previousVolume_.c_str());
    else if (OwnVolumeName(previousVolume_, own))
        MoveFileA(previousVolume_.c_str(), own.c_str());
}

int CALLBACK RarCallback(UINT message, LPARAM userData, LPARAM p1, LPARAM p2)
{
    VolumeRenaming& renaming = *reinterpret_cast<VolumeRenaming*>(userData);
    switch (message) {
    case UCM_CHANGEVOLUMEW:
        // Answered unchanged, the library asks again in ANSI, the engine's own path encoding.
        // Once the set has been given up, the wide request is refused already.
        return p2 == RAR_VOL_ASK && renaming.stopped() ? -1 : 0;
    case UCM_CHANGEVOLUME:
        return p2 == RAR_VOL_ASK ? renaming.NextVolume(reinterpret_cast<const char*>(p1)) : 0;
    case UCM_NEEDPASSWORD:
    case UCM_NEEDPASSWORDW:
        return -1;
    default:
        return 0;
    }
}
