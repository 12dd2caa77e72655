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
#include "engine/sfv_list.h"

namespace {

// An SFV file lists names and checksums; one larger than this is no SFV file.
const DWORD kSfvSizeLimit = 16u << 20;

// The SFV file's text in UTF-8: it is taken for UTF-8 (with or without a byte-order mark, which
// never becomes part of a name) when its bytes are valid UTF-8, else for the ANSI code page.
bool ReadSfvText(const std::string& path, std::string& text)
{
    FileHandle file(OpenToRead(path, GENERIC_READ, FILE_SHARE_READ));
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

std::string Announcement(const std::string& name)
{
    return "Verifying " + name + "...";
}

// Reads the file at `path` for its CRC-32 while the host hears of `announcement`; false when
// it cannot be read or a stop ended the reading.
bool ReadCrc(const std::string& path, const std::string& announcement, JobProgress& progress, uint32_t& crc)
{
    return FileCrc32(path, crc, [&] {
        progress.Working(announcement);
        return !progress.stopped();
    });
}

// What a check of the listed file at `path` found: recorded in the journal when it matched, a
// failure naming the file when it did not or could not be read.
Failure Checked(const std::string& path, const std::string& name, uint32_t expected, bool read, uint32_t actual,
                Journal& journal)
{
    if (read && actual == expected) {
        journal.AddVerified({path, FileSize(path), actual});
        return Failure();
    }
    if (read)
        return {Outcome::BadData, "CRC mismatch in " + name};
    return GetFileAttributesW(PlatformPath(path).c_str()) == INVALID_FILE_ATTRIBUTES
               ? Failure{Outcome::CannotRead, name + " is missing"}
               : Failure{Outcome::CannotRead, "cannot read " + name};
}

}  // namespace

Failure VerifySfv(const std::string& sfvPath, JobProgress& progress, Journal& journal,
                  const std::unordered_set<std::wstring>& readLater, std::vector<SfvCheck>& later)
{
    const std::string sfvName = sfvPath.substr(DirectoryOf(sfvPath).size());
    const std::string directory = DirectoryOf(sfvPath);
    std::string text;
    if (!ReadSfvText(sfvPath, text))
        return {Outcome::CannotRead, "cannot read " + sfvName};

    Failure failure;
    for (const SfvEntry& entry : ReadSfvEntries(text)) {
        const std::string& name = entry.name;
        const std::string announcement = Announcement(name);
        const std::string path = directory + name;
        const bool contained = IsContainedName(name);
        if (contained && readLater.count(FileIdentity(path)) != 0) {
            later.push_back({path, name, entry.crc});
            continue;
        }
        progress.Text(announcement);
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
        if (contained && journal.VerifiedAndConsumed(path, entry.crc) &&
            GetFileAttributesW(PlatformPath(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
            // An earlier run of this job checked it, and it went once what came out of it was safe.
            progress.Text(announcement + " Done!");
            continue;
        }
        uint32_t actual = 0;
        const bool read = contained && ReadCrc(path, announcement, progress, actual);
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
        const Failure checked = contained ? Checked(path, name, entry.crc, read, actual, journal)
                                          : Failure{Outcome::BadData, sfvName + " names a file outside its folder"};
        if (failure.ok())
            failure = checked;
        progress.Text(announcement + " Done!");
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
    }
    return failure;
}

Failure SettleSfvCheck(const SfvCheck& check, uint32_t actual, JobProgress& progress, Journal& journal)
{
    progress.Text(Announcement(check.name) + " Done!");
    return Checked(check.path, check.name, check.expected, true, actual, journal);
}

Failure ReadSfvCheck(const SfvCheck& check, JobProgress& progress, Journal& journal)
{
    const std::string announcement = Announcement(check.name);
    progress.Text(announcement);
    uint32_t actual = 0;
    const bool read = !progress.stopped() && ReadCrc(check.path, announcement, progress, actual);
    if (progress.stopped())
        return {Outcome::Stopped, "stopped while verifying " + check.name};
    const Failure checked = Checked(check.path, check.name, check.expected, read, actual, journal);
    progress.Text(announcement + " Done!");
    return checked;
}
