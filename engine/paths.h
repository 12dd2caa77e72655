// Path helpers shared by the engine. Paths are UTF-8 strings with backslash separators.
#pragma once

#include <string>

// The path up to and including its last backslash; empty when it has none.
inline std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
