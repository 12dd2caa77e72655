// Conversions between the engine's narrow paths (active ANSI code page) and the wide text of
// the platform's and the UnRAR library's wide calls.
#pragma once

#include <string>

std::wstring WidenAnsi(const std::string& text);

// False when `text` has no exact spelling in the ANSI code page. No best-fit replacement is
// made: a lookalike character would give a path that names a different file.
bool NarrowToAnsi(const std::wstring& text, std::string& ansi);
