// Path helpers shared by every layer. Paths are UTF-8 strings with backslash separators; the
// entries of ZIP archives keep their stored "/", which separates folders as well.
#pragma once

#include <string>

// The path up to and including its last backslash; empty when it has none.
inline std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file's own name: the text after its last separator.
inline std::string OwnName(const std::string& path)
{
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}
