#include "engine/sfv_list.h"

namespace {

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
    // A sign negates the value modulo 2^32, as strtoul does; negated as a signed number, so
    // that nothing here wraps around.
    return static_cast<uint32_t>(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
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
        // Spaces between the name and the checksum all separate them: no name that Windows
        // opens ends in a space, and one that kept it would open only while its path is short.
        const size_t nameEnd = trimmed.find_last_not_of(' ', space);
        name = nameEnd == std::string::npos ? std::string() : trimmed.substr(0, nameEnd + 1);
        checksum = trimmed.substr(space + 1);
    }
    return true;
}

std::vector<SfvEntry> ReadSfvEntries(const std::string& text)
{
    std::vector<SfvEntry> entries;
    std::string name, checksum;
    for (const std::string& line : Lines(text))
        if (SplitSfvLine(line, name, checksum))
            entries.push_back({name, ParseSfvChecksum(checksum)});
    return entries;
}
