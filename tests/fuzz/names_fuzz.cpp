// Fuzz target for the check of names that come out of archives and SFV files. A name that the
// check lets through, and the name it is written under (WindowsName), must stay inside the
// destination when Windows resolves them, by a model of Windows' own rules written apart from
// the check: for the SFV check and the RAR stage, which check the name as stored, and for the
// copy of a stored RAR set, which checks the name it writes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/names.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The devices that Windows opens for a name whatever extension follows it, as its
// documentation lists them: also COM0, LPT0, and COM and LPT with a superscript digit.
bool IsDevice(std::string component)
{
    component = component.substr(0, component.find('.'));
    while (!component.empty() && component.back() == ' ')
        component.pop_back();
    std::transform(component.begin(), component.end(), component.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (component == device)
            return true;
    const std::string prefix = component.substr(0, 3);
    const std::string digit = component.substr(prefix.size());
    return (prefix == "COM" || prefix == "LPT") && ((digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
                                                    digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3");
}

// How Windows resolves `name` appended to a directory in a path of the plain form: a rooted
// name or a colon leave it; each component, split at either separator, loses its trailing dots
// and spaces; empty ones and "." go; one of dots and spaces holding two dots or more (taken
// for "..", to be sure) goes up. True when it stays below the directory, with no component
// that names a device or holds a character that names cannot hold.
bool StaysInside(const std::string& name)
{
    if ((!name.empty() && IsSeparator(name[0])) || name.find(':') != std::string::npos)
        return false;
    int depth = 0;
    for (size_t start = 0;;) {
        const size_t end = std::min(name.find_first_of("\\/", start), name.size());
        std::string component = name.substr(start, end - start);
        for (char c : component)
            if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c))
                return false;
        if (component.find_first_not_of(". ") == std::string::npos) {
            if (std::count(component.begin(), component.end(), '.') >= 2 && --depth < 0)
                return false;
        } else {
            component.erase(component.find_last_not_of(". ") + 1);
            if (IsDevice(component))
                return false;
            ++depth;
        }
        if (end == name.size())
            return true;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    const std::string windows = WindowsName(name);
    check(windows.size() <= name.size());
    check(WindowsName(windows) == windows);
    if (IsContainedName(name)) {
        check(StaysInside(name));
        check(IsContainedName(windows) && StaysInside(windows));
    }

    // The copy of a stored RAR set: "/" becomes "\", then the name it writes is checked.
    std::string local = name;
    std::replace(local.begin(), local.end(), '/', '\\');
    local = WindowsName(local);
    if (IsContainedName(local))
        check(StaysInside(local));
    return 0;
}
