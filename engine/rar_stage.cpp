#include "engine/rar_stage.h"

#include <cwchar>
#include <memory>

#include "engine/ansi_text.h"
#include "engine/paths.h"
#include "engine/source_deletion.h"
#include "engine/unrar_library.h"

namespace {

// An archive opened through the library, closed exactly once.
class RarArchive {
public:
    explicit RarArchive(const UnrarLibrary& unrar) : unrar_(unrar) {}
    ~RarArchive() { Close(); }
    RarArchive(const RarArchive&) = delete;
    RarArchive& operator=(const RarArchive&) = delete;

    bool Open(const std::string& path)
    {
        std::wstring widePath = WidenAnsi(path);
        RAROpenArchiveDataEx data = {};
        data.ArcNameW = &widePath[0];
        data.OpenMode = RAR_OM_EXTRACT;
        handle_ = unrar_.RAROpenArchiveEx(&data);
        flags_ = data.Flags;
        if (handle_ && data.OpenResult != ERAR_SUCCESS)
            Close();
        return handle_ != nullptr;
    }

    void Close()
    {
        if (handle_)
            unrar_.RARCloseArchive(handle_);
        handle_ = nullptr;
    }

    HANDLE handle() const { return handle_; }
    unsigned flags() const { return flags_; }

private:
    const UnrarLibrary& unrar_;
    HANDLE handle_ = nullptr;
    unsigned flags_ = 0;
};

// A volume after the first of a set named name.partN.rar: its set is extracted from the first.
bool IsLaterVolumeOfNewNamingSet(const std::string& archivePath, unsigned flags)
{
    const size_t nameStart = archivePath.find_last_of("\\/") + 1;
    const size_t dot = archivePath.rfind('.');
    if (dot == std::string::npos || dot < nameStart || archivePath.size() - dot - 1 < 3)
        return false;
    const bool rarExtension = _strnicmp(archivePath.c_str() + dot + 1, "rar", 3) == 0;
    return rarExtension && (flags & ROADF_VOLUME) && (flags & ROADF_NEWNUMBERING) && !(flags & ROADF_FIRSTVOLUME);
}

// Under renamed volumes the library finds each next volume by counting up the last number in
// the name it has (name.part1.rar, name.001). A set under the new numbering whose name holds no
// number (a RAR 5 set given old-style names) is found only through the library's probe of the
// old-style name, which the prefix defeats: such a set is read under its own names.
bool VolumesFollowUnderPrefix(const std::string& archivePath, unsigned flags)
{
    if (!(flags & ROADF_VOLUME) || !(flags & ROADF_NEWNUMBERING))
        return true;
    const size_t nameStart = archivePath.find_last_of("\\/") + 1;
    return archivePath.find_first_of("0123456789", nameStart) != std::string::npos;
}

// A stored name that stays below the extraction directory: relative, without a drive, a
// stream or a ".." part.
bool StaysBelowDestination(const std::wstring& name)
{
    if (name.empty() || name[0] == L'\\' || name[0] == L'/' || name.find(L':') != std::wstring::npos)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of(L"\\/", start);
        if (name.compare(start, end == std::wstring::npos ? std::wstring::npos : end - start, L"..") == 0)
            return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

// Records where the library wrote an entry, so that the second pass and the clean-up find
// the file. A name that the library would have to change to keep it below the destination,
// or that has no exact ANSI spelling, would give a path naming some other file: such an entry
// stays unrecorded, and nothing is ever deleted through it.
void RecordEntry(const std::string& destination, const RARHeaderDataEx& header, FileList& output)
{
    const size_t capacity = sizeof header.FileNameW / sizeof header.FileNameW[0];
    const std::wstring name(header.FileNameW, wcsnlen(header.FileNameW, capacity));
    std::string ansiName;
    if (!StaysBelowDestination(name) || !NarrowToAnsi(name, ansiName))
        return;
    const std::string path = destination + ansiName;
    if (FitsMaxPath(path))
        output.Append(path);
}

// Extracts every entry of an open archive; true when each one was extracted and the library
// reached the end of the set.
bool ExtractEntries(const UnrarLibrary& unrar, HANDLE archive, const std::string& destination, FileList& output)
{
    // The wide call takes destinations that the OEM code page of the narrow one cannot spell.
    std::wstring extractionPath = WidenAnsi(destination);
    std::unique_ptr<RARHeaderDataEx> header(new RARHeaderDataEx());
    bool everyEntry = true;
    int status;
    while ((status = unrar.RARReadHeaderEx(archive, header.get())) == ERAR_SUCCESS) {
        if (unrar.RARProcessFileW(archive, RAR_EXTRACT, &extractionPath[0], nullptr) == ERAR_SUCCESS)
            RecordEntry(destination, *header, output);
        else
            everyEntry = false;
    }
    return everyEntry && status == ERAR_END_ARCHIVE;
}

}  // namespace

bool ExtractRar(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                FileList& output)
{
    if (!context.unrar)
        return false;
    const UnrarLibrary& unrar = *context.unrar;
    RarArchive archive(unrar);
    if (!archive.Open(archivePath))
        return false;
    if (IsLaterVolumeOfNewNamingSet(archivePath, archive.flags()))
        return true;

    VolumeRenaming renaming;
    bool renamed = false;
    if (SourcesMayBeDeleted(context) && VolumesFollowUnderPrefix(archivePath, archive.flags())) {
        archive.Close();
        renamed = renaming.Begin(archivePath);
        if (!archive.Open(renamed ? renaming.previousVolume() : archivePath)) {
            if (renamed)
                renaming.Finish(false);
            return false;
        }
        if (renamed)
            unrar.RARSetCallback(archive.handle(), RarCallback, reinterpret_cast<LPARAM>(&renaming));
    }
    const bool complete = ExtractEntries(unrar, archive.handle(), destination, output) && !renaming.stopped();
    // Volumes can be renamed back only once the library has let go of them.
    archive.Close();
    if (renamed)
        renaming.Finish(complete);
    return complete;
}
