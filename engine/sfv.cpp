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

}  // namespace

Failure VerifySfv(const std::string& sfvPath, JobProgress& progress, Journal& journal)
{
    const std::string sfvName = sfvPath.substr(DirectoryOf(sfvPath).size());
    const std::string directory = DirectoryOf(sfvPath);
    std::string text;
    if (!ReadSfvText(sfvPath, text))
        return {Outcome::CannotRead, "cannot read " + sfvName};

    Failure failure;
    for (const SfvEntry& entry : ReadSfvEntries(text)) {
        const std::string& name = entry.name;
        const uint32_t expected = entry.crc;
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
