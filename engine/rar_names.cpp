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

}  // namespace

std::string LocalName(const RarFile& file)
{
    std::string name = file.oemName ? FromOem(file.name) : file.name;
    std::replace(name.begin(), name.end(), '/', '\\');
    return WindowsName(name);
}
