#include "engine/journal.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/crc32.h"
#include "base/handles.h"
#include "base/text.h"

namespace {

const char kName[] = ".ravelpak-journal";
const char kFormat[] = "ravelpak journal 1";
const char kEnd[] = "end\t";
// A journal is a few lines a file; anything larger is not one of ours.
const DWORD kLargest = 16u << 20;

std::string Hex(uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

bool Number(const std::string& text, uint64_t& value, int base = 10)
{
    if (text.empty() || text.size() > 20)
        return false;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, base);
    return *end == '\0';
}

// A file line's fields from `at` on: path, size, CRC.
bool FileFields(const std::vector<std::string>& fields, size_t at, JournalFile& file)
{
    uint64_t crc = 0;
    if (fields.size() != at + 3 || fields[at].empty() || !Number(fields[at + 1], file.size) ||
        !Number(fields[at + 2], crc, 16) || crc > 0xFFFFFFFFu)
        return false;
    file.path = fields[at];
    file.crc = static_cast<uint32_t>(crc);
    return true;
}

std::string FileLine(const char* tag, const JournalFile& file)
{
    return std::string(tag) + "\t" + file.path + "\t" + std::to_string(file.size) + "\t" + Hex(file.crc) + "\n";
}

bool ReadWhole(const std::wstring& path, std::string& text, bool& exists)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    exists = file.valid() || GetLastError() != ERROR_FILE_NOT_FOUND;
    if (!file.valid())
        return false;
    LARGE_INTEGER size;
    bool read = GetFileSizeEx(file.get(), &size) && size.QuadPart <= kLargest;
    if (read) {
        text.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = text.empty() ||
               (::ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr) && got == text.size());
    }
    return read;
}

}  // namespace

Journal::Journal(const std::string& destination) : path_(destination + kName) {}

Journal::LoadResult Journal::Load()
{
    std::string text;
    bool exists = false;
    if (!ReadWhole(PlatformPath(path_), text, exists))
        return exists ? LoadResult::Unusable : LoadResult::None;
    if (Parse(text))
        return LoadResult::Loaded;
    *this = Journal(path_.substr(0, path_.size() - (sizeof kName - 1)));
    return LoadResult::Unusable;
}

void Journal::AddVerified(const JournalFile& file)
{
    verified_[FileIdentity(file.path)] = file;
}

bool Journal::VerifiedAndConsumed(const std::string& path, uint32_t crc) const
{
    const auto found = verified_.find(FileIdentity(path));
    return found != verified_.end() && found->second.crc == crc && IsConsumed(path);
}

void Journal::AddConsumed(const std::vector<std::string>& sources, const std::vector<JournalFile>& outputs)
{
    if (sources.empty())
        return;
    const std::string& key = sources.front();
    for (const std::string& source : sources) {
        if (consumedBy_.emplace(FileIdentity(source), key).second)
            consumedOrder_.push_back(source);
    }
    std::vector<JournalFile>& list = outputs_[key];
    list.insert(list.end(), outputs.begin(), outputs.end());
}

bool Journal::IsConsumed(const std::string& path) const
{
    if (consumedBy_.count(FileIdentity(path)) != 0)
        return true;
    // The volumes already deleted of the set being unpacked live on in its outputs.
    for (size_t i = 0; i < set_.deleted && i < set_.volumes.size(); ++i)
        if (FileIdentity(set_.volumes[i].path) == FileIdentity(path))
            return true;
    return false;
}

std::vector<JournalFile> Journal::OutputsOf(const std::string& path) const
{
    const auto found = consumedBy_.find(FileIdentity(path));
    if (found == consumedBy_.end())
        return {};
    const auto outputs = outputs_.find(found->second);
    return outputs == outputs_.end() ? std::vector<JournalFile>() : outputs->second;
}

void Journal::AddRenamed(const std::string& prefixed, const std::string& own)
{
    if (RenamedFrom(prefixed).empty())
        renamed_.emplace_back(prefixed, own);
}

std::string Journal::RenamedFrom(const std::string& path) const
{
    for (const auto& renamed : renamed_)
        if (FileIdentity(renamed.first) == FileIdentity(path))
            return renamed.second;
    return std::string();
}

std::string Journal::Serialise() const
{
    std::string text = std::string(kFormat) + "\n";
    for (const auto& file : verified_)
        text += FileLine("V", file.second);
    for (const std::string& source : consumedOrder_)
        text += "C\t" + consumedBy_.at(FileIdentity(source)) + "\t" + source + "\n";
    for (const auto& outputs : outputs_)
        for (const JournalFile& file : outputs.second)
            text += "O\t" + outputs.first + FileLine("", file);
    for (const auto& renamed : renamed_)
        text += "R\t" + renamed.first + "\t" + renamed.second + "\n";
    if (!set_.volumes.empty()) {
        text += "S\t" + std::to_string(set_.deleted) + "\t" + set_.entry + "\t" + std::to_string(set_.entryBytes) +
                "\t" + Hex(set_.entryCrc) + "\n";
        for (const JournalFile& volume : set_.volumes)
            text += FileLine("W", volume);
        for (const JournalFile& output : set_.outputs)
            text += FileLine("X", output);
    }
    return text + kEnd + Hex(Crc32Update(0, text.data(), text.size())) + "\n";
}

bool Journal::Parse(const std::string& text)
{
    // The last line vouches for everything before it: a cut or changed journal fails here.
    const size_t end = text.rfind(kEnd);
    uint64_t crc = 0;
    if (text.compare(0, sizeof kFormat, std::string(kFormat) + "\n") != 0 || end == std::string::npos ||
        text.back() != '\n' || !Number(text.substr(end + 4, text.size() - end - 5), crc, 16) ||
        Crc32Update(0, text.data(), end) != crc)
        return false;
    size_t start = sizeof kFormat;
    bool setSeen = false;
    while (start < end) {
        const size_t stop = text.find('\n', start);
        const std::vector<std::string> fields = Fields(text.substr(start, stop - start));
        start = stop + 1;
        const std::string& tag = fields[0];
        JournalFile file;
        uint64_t number = 0, bytes = 0, entryCrc = 0;
        if (tag == "V" && FileFields(fields, 1, file))
            AddVerified(file);
        else if (tag == "C" && fields.size() == 3 && !fields[1].empty() && !fields[2].empty()) {
            if (consumedBy_.emplace(FileIdentity(fields[2]), fields[1]).second)
                consumedOrder_.push_back(fields[2]);
        } else if (tag == "O" && fields.size() == 5 && FileFields(fields, 2, file))
            outputs_[fields[1]].push_back(file);
        else if (tag == "R" && fields.size() == 3 && !fields[1].empty() && !fields[2].empty())
            renamed_.emplace_back(fields[1], fields[2]);
        else if (tag == "S" && fields.size() == 5 && !setSeen && Number(fields[1], number) &&
                 Number(fields[3], bytes) && Number(fields[4], entryCrc, 16) && entryCrc <= 0xFFFFFFFFu) {
            setSeen = true;
            set_.deleted = static_cast<size_t>(number);
            set_.entry = fields[2];
            set_.entryBytes = bytes;
            set_.entryCrc = static_cast<uint32_t>(entryCrc);
        } else if (tag == "W" && setSeen && FileFields(fields, 1, file))
            set_.volumes.push_back(file);
        else if (tag == "X" && setSeen && FileFields(fields, 1, file))
            set_.outputs.push_back(file);
        else
            return false;
    }
    return !setSeen || (!set_.volumes.empty() && set_.deleted <= set_.volumes.size());
}

bool Journal::Commit()
{
    const std::string text = Serialise();
    const std::wstring temporary = PlatformPath(path_ + ".new");
    FileHandle file(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file.valid())
        return false;
    DWORD written = 0;
    bool done = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                written == text.size() && FlushFileBuffers(file.get());
    file.reset();
    done = done && MoveFileExW(temporary.c_str(), PlatformPath(path_).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done)
        DeleteFileW(temporary.c_str());
    return done;
}

void Journal::Remove()
{
    // A journal that stays describes a delivered group: the next run finds every consumed file's
    // outputs whole, delivers the group again and tries once more.
    DeleteFileW(PlatformPath(path_).c_str());
    *this = Journal(path_.substr(0, path_.size() - (sizeof kName - 1)));
}
