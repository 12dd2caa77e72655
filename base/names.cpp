#include "base/names.h"

#include <cstring>

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Characters that no Windows file name may hold; ':' among them also opens alternate data
// streams and names drives.
bool IsForbiddenCharacter(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr;
}

// Erases the characters of `set` at the end of `text`.
void EraseTrailing(std::string& text, const char* set)
{
    const size_t last = text.find_last_not_of(set);
    text.erase(last == std::string::npos ? 0 : last + 1);
}

bool IsOnlyDotsAndSpaces(const std::string& component)
{
    return component.find_first_not_of(". ") == std::string::npos;
}

// Windows opens a device for these base names whatever extension follows them.
bool IsDeviceName(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    EraseTrailing(base, " ");
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == device)
            return true;
    // COM and LPT with a digit, 0 too, or with a superscript one, two or three (in UTF-8), which
    // Windows also takes for the number of a port.
    if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)
        return false;
    const std::string number = base.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

// The journal's names and every name that begins with one, in any letter case.
bool IsReservedName(const std::string& component)
{
    const size_t length = sizeof kJournalName - 1;
    if (component.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = component[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kJournalName[i])
            return false;
    }
    return true;
}

bool IsContainedComponent(const std::string& component)
{
    if (component.empty() || component == ".")
        return true;
    return !IsOnlyDotsAndSpaces(component) && !IsDeviceName(component) && !IsReservedName(component);
}

}  // namespace

std::string WindowsName(const std::string& name)
{
    std::string result;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of("\\/", start);
        std::string component = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (component != "." && component != "..")
            EraseTrailing(component, ". ");
        result += component;
        if (end == std::string::npos)
            return result;
        result += name[end];
        start = end + 1;
    }
}

bool IsContainedName(const std::string& name)
{
    if (!name.empty() && IsSeparator(name[0]))
        return false;
    std::string component;
    for (char c : name) {
        if (IsForbiddenCharacter(c))
            return false;
        if (IsSeparator(c)) {
            if (!IsContainedComponent(component))
                return false;
            component.clear();
        } else {
            component += c;
        }
    }
    return IsContainedComponent(component);
}
