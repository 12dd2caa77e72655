// Path helpers shared by the engine. Paths are ANSI strings with backslash separators.
#pragma once

#include <string>

// Platform calls and the host's buffers hold MAX_PATH (260) characters with the terminator.
const size_t kMaxPathChars = 259;

inline bool FitsMaxPath(const std::string& path)
{
    return path.size() <= kMaxPathChars;
}

// The path up to and including its last backslash; empty when it has none.
inline std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
