#include "engine/release_names.h"

#include <windows.h>

#include <cstring>

#include "base/text.h"

namespace {

const char kVolumePrefix[] = "xxx";

// A volume number longer than this is no volume number (nor would it fit 64 bits).
const size_t kMostDigits = 18;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool EqualNoCase(const std::string& text, size_t at, const char* word)
{
    const size_t length = std::strlen(word);
    return text.size() >= at + length && _strnicmp(text.c_str() + at, word, length) == 0;
}

uint64_t Number(const std::string& text, size_t first, size_t end)
{
    uint64_t value = 0;
    for (size_t i = first; i < end; ++i)
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return value;
}

size_t NameStart(const std::string& path)
{
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? 0 : separator + 1;
}

// A name taken apart: what it is, where its stem ends and where its volume number stands.
struct Parsed {
    ReleaseName name;
    size_t stemEnd = 0;      // the stem is the path up to here (the folder included)
    size_t numberStart = 0;  // the volume number's digits (old style: the letter and digits)
    size_t numberEnd = 0;
};

// name.partN.rar with N from 1; false for any other name. `dot` is the position of ".rar".
bool ParsePart(const std::string& path, size_t nameStart, size_t dot, Parsed& parsed)
{
    size_t start = dot;
    while (start > nameStart && IsDigit(path[start - 1]))
        --start;
    const size_t digits = dot - start;
    if (digits == 0 || digits > kMostDigits || start < nameStart + 5 || !EqualNoCase(path, start - 5, ".part"))
        return false;
    const uint64_t number = Number(path, start, dot);
    if (number == 0)
        return false;
    parsed.name.scheme = VolumeScheme::Parts;
    parsed.name.number = number;
    parsed.stemEnd = start - 5;
    parsed.numberStart = start;
    parsed.numberEnd = dot;
    return true;
}

Parsed Parse(const std::string& path)
{
    Parsed parsed;
    const size_t nameStart = NameStart(path);
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return parsed;
    const std::string extension = path.substr(dot + 1);
    const size_t length = extension.size();
    ReleaseName& name = parsed.name;
    if (_stricmp(extension.c_str(), "zip") == 0) {
        name.kind = NameKind::Zip;
        return parsed;
    }
    if (_stricmp(extension.c_str(), "sfv") == 0) {
        name.kind = NameKind::Sfv;
        return parsed;
    }
    if (_stricmp(extension.c_str(), "rar") == 0) {
        if (!ParsePart(path, nameStart, dot, parsed)) {
            name.scheme = VolumeScheme::OldStyle;
            name.number = 1;
            parsed.stemEnd = dot;
            parsed.numberStart = parsed.numberEnd = path.size();
        }
    } else if (length == 3 && IsDigit(extension[1]) && IsDigit(extension[2]) &&
               ((extension[0] >= 'r' && extension[0] <= 'z') || (extension[0] >= 'R' && extension[0] <= 'Z'))) {
        // .r00 is the second volume; each letter after r holds a hundred more.
        const char letter = static_cast<char>(extension[0] | 0x20);
        name.scheme = VolumeScheme::OldStyle;
        name.number = 2 + 100 * static_cast<uint64_t>(letter - 'r') + Number(extension, 1, 3);
        parsed.stemEnd = dot;
        parsed.numberStart = dot + 1;
        parsed.numberEnd = path.size();
    } else if (length >= 3 && length <= kMostDigits &&
               extension.find_first_not_of("0123456789") == std::string::npos && Number(extension, 0, length) > 0) {
        name.scheme = VolumeScheme::Numbered;
        name.number = Number(extension, 0, length);
        parsed.stemEnd = dot;
        parsed.numberStart = dot + 1;
        parsed.numberEnd = path.size();
    } else {
        return parsed;
    }
    name.kind = name.number == 1 ? NameKind::FirstVolume : NameKind::LaterVolume;
    // '|' cannot stand in a file name: the scheme's mark never runs into a stem.
    static const wchar_t* const kSchemeMarks[] = {L"", L"|part", L"|rar", L"|001"};
    name.setKey = FileIdentity(path.substr(0, parsed.stemEnd)) + kSchemeMarks[static_cast<int>(name.scheme)];
    return parsed;
}

// Counts up the characters of `text` in [first, end) as odometer digits; a letter among them
// counts up once (r99 becomes s00), and digits that all roll over gain a place (999 becomes
// 1000).
std::string CountUp(std::string text, size_t first, size_t end)
{
    for (size_t i = end; i-- > first;) {
        if (!IsDigit(text[i]) || text[i] != '9') {
            ++text[i];
            return text;
        }
        text[i] = '0';
    }
    text.insert(first, 1, '1');
    return text;
}

}  // namespace

ReleaseName ClassifyName(const std::string& path)
{
    return Parse(path).name;
}

std::string NextVolumeName(const std::string& volume)
{
    const Parsed parsed = Parse(volume);
    switch (parsed.name.scheme) {
    case VolumeScheme::Parts:
    case VolumeScheme::Numbered:
        return CountUp(volume, parsed.numberStart, parsed.numberEnd);
    case VolumeScheme::OldStyle: {
        if (parsed.name.kind == NameKind::FirstVolume) {
            const bool upper = volume[parsed.stemEnd + 1] == 'R';
            return volume.substr(0, parsed.stemEnd) + (upper ? ".R00" : ".r00");
        }
        const char letter = volume[parsed.numberStart];
        if ((letter == 'z' || letter == 'Z') && volume.compare(parsed.numberStart + 1, 2, "99") == 0)
            return std::string();
        return CountUp(volume, parsed.numberStart, parsed.numberEnd);
    }
    default:
        return std::string();
    }
}

std::string FirstVolumeOf(const std::string& volume)
{
    const Parsed parsed = Parse(volume);
    const size_t width = parsed.numberEnd - parsed.numberStart;
    switch (parsed.name.scheme) {
    case VolumeScheme::Parts:
        return volume.substr(0, parsed.numberStart) + std::string(width - 1, '0') + "1" +
               volume.substr(parsed.numberEnd);
    case VolumeScheme::Numbered:
        // Split volumes count from .001; a wider number with leading zeros keeps its width.
        return volume.substr(0, parsed.numberStart) +
               std::string((width > 3 && volume[parsed.numberStart] == '0' ? width : 3) - 1, '0') + "1";
    case VolumeScheme::OldStyle:
        if (parsed.name.kind == NameKind::FirstVolume)
            return volume;
        return volume.substr(0, parsed.stemEnd) + (volume[parsed.numberStart] <= 'Z' ? ".RAR" : ".rar");
    default:
        return std::string();
    }
}

std::string ExtensionOf(const std::string& path)
{
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || dot < NameStart(path) ? std::string() : path.substr(dot + 1);
}

std::string PrefixedVolumeName(const std::string& path)
{
    const size_t start = NameStart(path);
    return path.substr(0, start) + kVolumePrefix + path.substr(start);
}

std::string VolumeNames::Next(const std::string& volume) const
{
    return first_.IsVolume() && ClassifyName(volume).setKey == first_.setKey ? NextVolumeName(volume) : std::string();
}
