#include "engine/rar_layout.h"

bool IsResumable(const std::vector<RarFile>& files)
{
    for (const RarFile& file : files)
        if (!file.directory && (!file.stored || file.encrypted || !file.hasCrc))
            return false;
    return !files.empty();
}
