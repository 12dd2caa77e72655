#include "engine/ansi_text.h"

#include <windows.h>

std::wstring WidenAnsi(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], wideLength);
    return wide;
}

bool NarrowToAnsi(const std::wstring& text, std::string& ansi)
{
    ansi.clear();
    if (text.empty())
        return true;
    // UTF-8 as the ANSI code page spells everything, and refuses the check for a replacement.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL replaced = FALSE;
    BOOL* replacedCheck = utf8 ? nullptr : &replaced;
    const int length = static_cast<int>(text.size());
    const int narrowLength =
        WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, replacedCheck);
    if (narrowLength == 0 || replaced)
        return false;
    ansi.resize(static_cast<size_t>(narrowLength));
    WideCharToMultiByte(CP_ACP, flags, text.data(), length, &ansi[0], narrowLength, nullptr, nullptr);
    return true;
}

// One spelling for every path that names the same file: Windows takes "/" for "\" and
// ignores letter case the same way in every language (the invariant upper case; the user's
// locale may differ, as Turkish does for "i").
std::wstring FileIdentity(const std::string& path)
{
    return FileIdentity(WidenAnsi(path));
}

std::wstring FileIdentity(std::wstring spelling)
{
    for (wchar_t& c : spelling)
        if (c == L'/')
            c = L'\\';
    if (spelling.empty())
        return spelling;
    const int length = static_cast<int>(spelling.size());
    std::wstring identity(spelling.size(), L'\0');
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, spelling.data(), length, &identity[0], length);
    return identity;
}
