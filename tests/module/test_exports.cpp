// Extra exports of the test build of the module, which lets the tests observe what the
// module loaded at attach. The shipped module does not have them.
#include <windows.h>

#include <cstdio>
#include <string>

#include "settings/unpack_settings.h"

namespace {

int CopyOut(const std::string& text, char* buffer, int size)
{
    if (!buffer || size <= 0)
        return -1;
    std::snprintf(buffer, static_cast<size_t>(size), "%s", text.c_str());
    return static_cast<int>(text.size());
}
}  // namespace

// "deleteTemp=D keepOverwritten=K deleteSrcDuring=S keepSrcNoSfv=N checkCrc=C deleteSfv=F
// keep=ext1,ext2" with the kept extensions in sorted order.
extern "C" __declspec(dllexport) int __stdcall RavelpakTestSettings(char* buffer, int size)
{
    SettingsRecord s = SnapshotUnpackSettings();
    std::string text =
        "deleteTemp=" + std::to_string(s.deleteTemp) + " keepOverwritten=" + std::to_string(s.keepOverwritten) +
        " deleteSrcDuring=" + std::to_string(s.deleteSrcDuring) + " keepSrcNoSfv=" + std::to_string(s.keepSrcNoSfv) +
        " checkCrc=" + std::to_string(s.checkCrc) + " deleteSfv=" + std::to_string(s.deleteSfv) + " keep=";
    bool first = true;
    for (const std::string& extension : s.keepExtensions) {
        text += (first ? "" : ",") + extension;
        first = false;
    }
    return CopyOut(text, buffer, size);
}
