#include "engine/rar_names.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/names.h"
#include "base/text.h"

namespace {

// The library turns such bytes into the ANSI code page, then into Unicode from there: a
// character the ANSI page lacks becomes what that page makes of it.
std::string FromOem(const std::string& bytes)
{
    std::vector<char> ansi(bytes.size() + 1);
    if (!OemToCharBuffA(bytes.c_str(), ansi.data(), static_cast<DWORD>(bytes.size())))
        return bytes;
    return Utf8FromCodePage(std::string(ansi.data(), bytes.size()), CP_ACP);
}

// A local time as UTC, to the 100 ns.
uint64_t Utc(uint64_t local)
{
    const FILETIME time = {static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)};
    SYSTEMTIME wall, utc;
    FILETIME converted;
    if (!FileTimeToSystemTime(&time, &wall) || !TzSpecificLocalTimeToSystemTime(nullptr, &wall, &utc) ||
        !SystemTimeToFileTime(&utc, &converted))
        return local;
    // SYSTEMTIME holds milliseconds: the rest comes back.
    return ((static_cast<uint64_t>(converted.dwHighDateTime) << 32) | converted.dwLowDateTime) + local % 10000;
}

FILETIME Of(uint64_t time, bool local)
{
    if (time != 0 && local)
        time = Utc(time);
    return {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
}

}  // namespace

FileTimes::FileTimes(const RarFile& file)
    : creation_(Of(file.creationTime, file.localTime)), access_(Of(file.accessTime, file.localTime)),
      write_(Of(file.hasTime ? file.writeTime : 0, file.localTime))
{
}

std::string LocalName(const RarFile& file)
{
    std::string name = file.oemName ? FromOem(file.name) : file.name;
    std::replace(name.begin(), name.end(), '/', '\\');
    return WindowsName(name);
}
