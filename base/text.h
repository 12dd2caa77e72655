// The engine's text: paths and names are UTF-8 strings with backslash separators, so that every
// name a file system can hold passes through, whatever the ANSI code page. The platform and the
// UnRAR library take UTF-16; the host's ANSI entry points take the ANSI code page.
#pragma once

#include <cstddef>
#include <string>

std::wstring Widen(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// Text in a code page (CP_ACP, CP_OEMCP, 437, ...) as UTF-8, and back; a character the code
// page cannot spell becomes a stand-in in the way back, which is for display only.
std::string Utf8FromCodePage(const std::string& text, unsigned codePage);
std::string CodePageFromUtf8(const std::string& utf8, unsigned codePage);

bool IsValidUtf8(const std::string& text);

// A path as the platform's wide calls take it: UTF-16 with backslashes, in the long-path form
// ("\\?\C:\..." or "\\?\UNC\server\...") when it is absolute and too long for the plain form.
std::wstring PlatformPath(const std::string& path);

// One spelling for every path that names the same file, to compare paths by: "/" becomes "\",
// the long-path form is dropped, and letters are upper-cased the way the file system compares
// them.
std::wstring FileIdentity(const std::string& path);
std::wstring FileIdentity(std::wstring path);
