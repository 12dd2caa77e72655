#include "base/text.h"

#include <windows.h>

namespace {

std::wstring ToWide(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int length = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideLength > 0 ? wideLength : 0), L'\0');
    if (wideLength > 0)
        MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], wideLength);
    return wide;
}

std::string FromWide(const std::wstring& wide, UINT codePage)
{
    if (wide.empty())
        return std::string();
    const int length = static_cast<int>(wide.size());
    const int narrowLength = WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(narrowLength > 0 ? narrowLength : 0), '\0');
    if (narrowLength > 0)
        WideCharToMultiByte(codePage, 0, wide.data(), length, &narrow[0], narrowLength, nullptr, nullptr);
    return narrow;
}

// The plain form of a path holds at most this many characters; a directory a few less, since
// a file name must still fit below it.
const size_t kPlainPathLimit = 247;

}  // namespace

std::wstring Widen(const std::string& utf8)
{
    return ToWide(utf8, CP_UTF8);
}

std::string Utf8(const std::wstring& wide)
{
    return FromWide(wide, CP_UTF8);
}

std::string Utf8FromCodePage(const std::string& text, unsigned codePage)
{
    return Utf8(ToWide(text, codePage));
}

std::string CodePageFromUtf8(const std::string& utf8, unsigned codePage)
{
    return FromWide(Widen(utf8), codePage);
}

bool IsValidUtf8(const std::string& text)
{
    return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

std::wstring PlatformPath(const std::string& path)
{
    std::wstring wide = Widen(path);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    if (wide.size() <= kPlainPathLimit || wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\')
        return L"\\\\?\\" + wide;
    if (wide.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + wide.substr(2);
    return wide;
}

std::wstring FileIdentity(const std::string& path)
{
    return FileIdentity(Widen(path));
}

// Windows takes "/" for "\" and ignores letter case the same way in every language (the
// invariant upper case; the user's locale may differ, as Turkish does for "i").
std::wstring FileIdentity(std::wstring spelling)
{
    for (wchar_t& c : spelling)
        if (c == L'/')
            c = L'\\';
    if (spelling.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        spelling = L"\\\\" + spelling.substr(8);
    else if (spelling.compare(0, 4, L"\\\\?\\") == 0)
        spelling = spelling.substr(4);
    if (spelling.empty())
        return spelling;
    const int length = static_cast<int>(spelling.size());
    std::wstring identity(spelling.size(), L'\0');
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, spelling.data(), length, &identity[0], length);
    return identity;
}
