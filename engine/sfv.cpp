#include "engine/sfv.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "base/names.h"
#include "base/crc32.h"
#include "base/files.h"
#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/zip/zip_entry_fields.h"

namespace {

// An SFV file lists names and checksums; one larger than this is no SFV file.
const DWORD kSfvSizeLimit = 16u << 20;

// The SFV file's text in UTF-8: it is taken for UTF-8 (with or without a byte-order mark, which
// never becomes part of a name) when its bytes are valid UTF-8, else for the ANSI code page.
bool ReadSfvText(const std::string& path, std::string& text)
{
    FileHandle file(CreateFileW(PlatformPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kSfvSizeLimit)
        return false;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()))
        return false;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    text = IsValidUtf8(bytes) ? bytes : Utf8FromCodePage(bytes, CP_ACP);
    return true;
}

// The lines of the text: they end at CR, at LF or at CR LF; the last one needs no terminator.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

uint32_t ParseSfvChecksum(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size() &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
        value = value * 16 + static_cast<uint64_t>(HexDigit(text[i]));
        if (value > 0xFFFFFFFFull) {
            overflow = true;
            value = 0xFFFFFFFFull;
        }
    }
    if (overflow)
        return 0xFFFFFFFFu;
    uint32_t result = static_cast<uint32_t>(value);
    return negative ? 0u - result : result;
}

bool SplitSfvLine(const std::string& line, std::string& name, std::string& checksum)
{
    if (line.empty() || line[0] == ';')
        return false;
    size_t end = line.find_last_not_of(' ');
    if (end == std::string::npos)
        return false;
    std::string trimmed = line.substr(0, end + 1);
    size_t space = trimmed.rfind(' ');
    if (space == std::string::npos) {
        name = trimmed;
        checksum = trimmed;
    } else {
        name = trimmed.substr(0, space);
        checksum = trimmed.substr(space + 1);
    }
    return true;
}

Failure VerifySfv(const std::string& sfvPath, JobProgress& progress, Journal& journal)
{
    const std::string sfvName = sfvPath.substr(DirectoryOf(sfvPath).size());
    const std::string directory = DirectoryOf(sfvPath);
    std::string text;
    if (!ReadSfvText(sfvPath, text))
        return {Outcome::CannotRead, "cannot read " + sfvName};

    Failure failure;
    std::string name, checksum;
    for (const std::string& line : Lines(text)) {
        if (!SplitSfvLine(line, name, checksum))
            continue;
        const uint32_t expected = ParseSfvChecksum(checksum);
        const std::string announcement = "Verifying " + name + "...";
        progress.Text(announcement);
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
        const std::string path = directory + name;
        uint32_t actual = 0;
        bool read = false;
        const bool contained = IsContainedName(name);
        if (contained && journal.VerifiedAndConsumed(path, expected) &&
            GetFileAttributesW(PlatformPath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
            // An earlier run of this job checked it, and it went once what came out of it was safe.
            progress.Text(announcement + " Done!");
            continue;
        }
        if (contained)
            read = FileCrc32(path, actual, [&] {
                progress.Working(announcement);
                return !progress.stopped();
            });
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
        if (read && actual == expected)
            journal.AddVerified({path, FileSize(path), actual});
        else if (failure.ok())
            failure = !contained ? Failure{Outcome::BadData, sfvName + " names a file outside its folder"}
                      : read                 ? Failure{Outcome::BadData, "CRC mismatch in " + name}
                      : GetFileAttributesW(PlatformPath(path).c_str()) == INVALID_FILE_ATTRIBUTES
                          ? Failure{Outcome::CannotRead, name + " is missing"}
                          : Failure{Outcome::CannotRead, "cannot read " + name};
        progress.Text(announcement + " Done!");
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
    }
    return failure;
}
