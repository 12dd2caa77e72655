// Conversions between the engine's narrow paths (active ANSI code page) and the wide text of
// the platform's and the UnRAR library's wide calls.
#pragma once

#include <string>

std::wstring WidenAnsi(const std::string& text);

// False when `text` has no exact spelling in the ANSI code page. No best-fit replacement is
// made: a lookalike character would give a path that names a different file.
bool NarrowToAnsi(const std::wstring& text, std::string& ansi);

// One spelling for every path that names the same file, to compare paths by: "/" becomes "\"
// and letters are upper-cased the way the file system compares them.
std::wstring FileIdentity(const std::string& path);
std::wstring FileIdentity(std::wstring path);
