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
// keep=key1,key2" with the keys of the keep-extension map in map order.
extern "C" __declspec(dllexport) int __stdcall RavelpakTestSettings(char* buffer, int size)
{
    SettingsRecord s = SnapshotUnpackSettings();
    std::string text =
        "deleteTemp=" + std::to_string(s.deleteTemp) + " keepOverwritten=" + std::to_string(s.keepOverwritten) +
        " deleteSrcDuring=" + std::to_string(s.deleteSrcDuring) + " keepSrcNoSfv=" + std::to_string(s.keepSrcNoSfv) +
        " checkCrc=" + std::to_string(s.checkCrc) + " deleteSfv=" + std::to_string(s.deleteSfv) + " keep=";
    bool first = true;
    for (const auto& entry : s.keepExtensions) {
        text += (first ? "" : ",") + entry.first;
        first = false;
    }
    return CopyOut(text, buffer, size);
}
