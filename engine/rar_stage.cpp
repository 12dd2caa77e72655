#include "engine/rar_stage.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <vector>

#include "engine/text.h"
#include "engine/paths.h"
#include "engine/release_names.h"
#include "engine/source_deletion.h"
#include "engine/unrar_library.h"

namespace {

std::string NameOf(const std::string& path)
{
    return path.substr(path.find_last_of("\\/") + 1);
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

// A volume after the first of a set named name.partN.rar: its set is extracted from the first.
// Its name only says that it is a .rar file; the archive's flags say that it is a later volume.
bool IsLaterVolumeOfNewNamingSet(const std::string& archivePath, unsigned flags)
{
    const ReleaseName name = ClassifyName(archivePath);
    const bool rarExtension = name.scheme == VolumeScheme::Parts ||
                              (name.scheme == VolumeScheme::OldStyle && name.kind == NameKind::FirstVolume);
    return rarExtension && (flags & ROADF_VOLUME) && (flags & ROADF_NEWNUMBERING) && !(flags & ROADF_FIRSTVOLUME);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesW(PlatformPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

enum class Pass { Survey, Test, Extract };

// One pass of the library over the set, and everything the library's callback decides: which
// file is the next volume, when a finished volume may be deleted, the host's progress and stop.
class SetPass {
public:
    SetPass(const UnpackContext& context, const VolumeNames& names, const std::string& firstVolume,
            const std::string& openedAs, Pass pass)
        : context_(context), names_(names), pass_(pass), onDisk_(openedAs)
    {
        volumes_.push_back(firstVolume);
    }

    // The volumes the library has opened so far, under their own names.
    const std::vector<std::string>& volumes() const { return volumes_; }
    // What the library has open now, under the name it carries on disk.
    const std::string& onDisk() const { return onDisk_; }
    const Failure& volumeFailure() const { return volumeFailure_; }
    bool encrypted() const { return encrypted_; }
    bool deletionBegun() const { return deleted_ > 0; }
    size_t deleted() const { return deleted_; }
    bool deletionEnded() const { return deletionEnded_; }

    // Deletion of finished volumes during this pass; the sizes tell how far the library got.
    void DeleteAsItGoes(bool on) { deleting_ = on; }
    void MeasureAgainst(const std::vector<std::string>& volumeNames, std::vector<uint64_t> volumeSizes,
                        uint64_t unpackedTotal)
    {
        volumeNames_ = volumeNames;
        volumeSizes_ = std::move(volumeSizes);
        unpackedTotal_ = unpackedTotal;
        reported_.assign(volumeSizes_.size(), 0);
    }

    // The entry being written now (empty between entries), and the end of an entry.
    void BeginEntry(const std::wstring& outputPath)
    {
        currentOutput_ = outputPath;
        delivered_ = 0;
    }
    uint64_t EndEntry(bool failed)
    {
        currentOutput_.clear();
        if (failed)
            EndDeletion();
        return delivered_;
    }
    void EndDeletion() { deletionEnded_ = true; }

    static int CALLBACK Callback(UINT message, LPARAM userData, LPARAM p1, LPARAM p2)
    {
        return reinterpret_cast<SetPass*>(userData)->OnMessage(message, p1, p2);
    }

    // The rest of every volume of a finished set, for the host's progress.
    void ReportAllConsumed()
    {
        for (size_t i = 0; i < volumes_.size(); ++i)
            context_.progress->ConsumeRest(volumes_[i]);
    }

private:
    int OnMessage(UINT message, LPARAM p1, LPARAM p2)
    {
        switch (message) {
        case UCM_CHANGEVOLUMEW:
            return p2 == RAR_VOL_ASK ? GiveNextVolume(reinterpret_cast<wchar_t*>(p1))
                                     : AcceptVolume(reinterpret_cast<const wchar_t*>(p1));
        case UCM_PROCESSDATA:
            return Processed(static_cast<uint64_t>(p2));
        case UCM_NEEDPASSWORD:
        case UCM_NEEDPASSWORDW:
            encrypted_ = true;
            return -1;
        default:
            // The narrow volume messages repeat the wide ones, which are answered already.
            return 0;
        }
    }

    std::string ExpectedNext() const { return names_.Next(volumes_.back()); }

    // The library did not find the next volume under the name it derived: it is given the
    // set's own next volume, once; asked again, that volume cannot be read.
    int GiveNextVolume(wchar_t* name)
    {
        const std::string next = ExpectedNext();
        if (next.empty() || !Exists(next)) {
            volumeFailure_ = {Outcome::CannotRead,
                              (next.empty() ? std::string("the next volume") : NameOf(next)) + " is missing"};
            return -1;
        }
        if (next == lastGiven_) {
            volumeFailure_ = {Outcome::CannotRead, "cannot read " + NameOf(next)};
            return -1;
        }
        lastGiven_ = next;
        const std::wstring wide = PlatformPath(next);
        const size_t kNameCapacity = 1024;
        if (wide.size() >= kNameCapacity) {
            volumeFailure_ = {Outcome::CannotRead, "cannot read " + NameOf(next)};
            return -1;
        }
        std::wmemcpy(name, wide.c_str(), wide.size() + 1);
        return 1;
    }

    // The library has opened the next volume (and closed the finished one): it must be the
    // set's own next volume; then the finished one may go.
    int AcceptVolume(const wchar_t* opened)
    {
        const std::string next = ExpectedNext();
        uint64_t number = 0;
        const bool own = !next.empty() && FileIdentity(std::wstring(opened)) == FileIdentity(next) &&
                         (!Rar5VolumeNumber(next, number) || number == volumes_.size());
        if (!own) {
            volumeFailure_ = {Outcome::BadData, NameOf(Utf8(opened)) + " does not belong to the set"};
            return -1;
        }
        const std::string finished = onDisk_;
        volumes_.push_back(next);
        onDisk_ = next;
        ReportProgress();
        if (deleting_ && !deletionEnded_) {
            if (CurrentEntryLanding() && DeleteFileW(PlatformPath(finished).c_str()))
                ++deleted_;
            else
                EndDeletion();
        }
        return 0;
    }

    // Everything written so far is on disk: no entry failed, and the one being written has all
    // the bytes the library gave it.
    bool CurrentEntryLanding() const
    {
        return currentOutput_.empty() || delivered_ == 0 || WrittenSoFar(currentOutput_, delivered_);
    }

    int Processed(uint64_t bytes)
    {
        delivered_ += bytes;
        unpackedDone_ += bytes;
        ReportProgress();
        if (!context_.progress->stopped())
            return 0;
        if (!deletionBegun())
            return -1;
        if (!finishingAnnounced_) {
            context_.progress->Text("Finishing " + NameOf(volumes_.front()) +
                                    " before stopping: its first volumes are already deleted");
            finishingAnnounced_ = true;
        }
        return 0;
    }

    // The host learns how far the set got: as bytes of its volumes when they are selected
    // files, estimated from the unpacked bytes; as a percentage otherwise.
    void ReportProgress()
    {
        JobProgress& progress = *context_.progress;
        if (pass_ == Pass::Test) {
            progress.Working("Testing " + NameOf(volumes_.front()) + "...");
            return;
        }
        if (pass_ != Pass::Extract || volumeSizes_.empty())
            return;
        uint64_t total = 0, finished = 0;
        for (size_t i = 0; i < volumeSizes_.size(); ++i) {
            total += volumeSizes_[i];
            if (i + 1 < volumes_.size())
                finished += volumeSizes_[i];
        }
        const double share = unpackedTotal_ ? static_cast<double>(unpackedDone_) / unpackedTotal_ : 0.0;
        const uint64_t target = std::max(finished, static_cast<uint64_t>(share * static_cast<double>(total)));
        if (!progress.IsSource(volumes_.front())) {
            progress.Percent(volumes_.front(), static_cast<int>(total ? 100 * target / total : 0));
            return;
        }
        uint64_t before = 0;
        for (size_t i = 0; i < volumeSizes_.size() && before < target; ++i) {
            const uint64_t due = std::min(volumeSizes_[i], target - before);
            if (due > reported_[i]) {
                progress.Consumed(volumeNames_[i], due - reported_[i]);
                reported_[i] = due;
            }
            before += volumeSizes_[i];
        }
    }

    const UnpackContext& context_;
    const VolumeNames& names_;
    const Pass pass_;
    std::vector<std::string> volumes_;
    std::string onDisk_;
    std::string lastGiven_;
    Failure volumeFailure_;
    bool encrypted_ = false;
    bool deleting_ = false;
    bool deletionEnded_ = false;
    size_t deleted_ = 0;
    bool finishingAnnounced_ = false;
    std::wstring currentOutput_;
    uint64_t delivered_ = 0;
    uint64_t unpackedDone_ = 0;
    uint64_t unpackedTotal_ = 0;
    std::vector<std::string> volumeNames_;
    std::vector<uint64_t> volumeSizes_;
    std::vector<uint64_t> reported_;
};

// An archive opened through the library, closed exactly once.
class RarArchive {
public:
    explicit RarArchive(const UnrarLibrary& unrar) : unrar_(unrar) {}
    ~RarArchive() { Close(); }
    RarArchive(const RarArchive&) = delete;
    RarArchive& operator=(const RarArchive&) = delete;

    // The library's open result (ERAR_SUCCESS when open). The library never deletes an output
    // that failed: what goes is decided here, since after volumes were deleted that output may
    // hold the only copy of their data.
    int Open(const std::string& path, unsigned mode, SetPass* pass)
    {
        std::wstring widePath = PlatformPath(path);
        RAROpenArchiveDataEx data = {};
        data.ArcNameW = &widePath[0];
        data.OpenMode = mode;
        data.OpFlags = ROADOF_KEEPBROKEN;
        if (pass) {
            data.Callback = SetPass::Callback;
            data.UserData = reinterpret_cast<LPARAM>(pass);
        }
        handle_ = unrar_.RAROpenArchiveEx(&data);
        flags_ = data.Flags;
        const int result = data.OpenResult != ERAR_SUCCESS ? static_cast<int>(data.OpenResult)
                           : handle_                       ? ERAR_SUCCESS
                                                           : ERAR_EOPEN;
        if (handle_ && result != ERAR_SUCCESS)
            Close();
        return result;
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

// The library's verdict on an archive or entry, in the engine's words.
Failure LibraryFailure(int code, const SetPass& pass, const std::string& entry)
{
    if (!pass.volumeFailure().ok())
        return pass.volumeFailure();
    const std::string volume = NameOf(pass.onDisk());
    switch (code) {
    case ERAR_NO_MEMORY:
        return {Outcome::NoMemory, "out of memory"};
    case ERAR_MISSING_PASSWORD:
    case ERAR_BAD_PASSWORD:
        return {Outcome::Encrypted, volume + " is encrypted"};
    case ERAR_EOPEN:
    case ERAR_EREAD:
        return {Outcome::CannotRead, "cannot read " + volume};
    case ERAR_ECREATE:
    case ERAR_EWRITE:
    case ERAR_ECLOSE:
        return {Outcome::CannotWrite, "cannot write " + entry};
    case ERAR_UNKNOWN_FORMAT:
        return {Outcome::NewerFormat, volume + " needs a newer UnRAR library (a newer compression or a larger dictionary)"};
    default:
        if (pass.encrypted())
            return {Outcome::Encrypted, volume + " is encrypted"};
        return {Outcome::BadData, volume + " is damaged"};
    }
}

// What the headers of a set tell before anything is written.
struct SetSurvey {
    std::vector<std::string> volumes;
    uint64_t unpackedSize = 0;
    bool encrypted = false;
};

Failure Survey(const UnrarLibrary& unrar, const UnpackContext& context, const VolumeNames& names,
               const std::string& archivePath, const std::string& openedAs, SetSurvey& survey)
{
    SetPass pass(context, names, archivePath, openedAs, Pass::Survey);
    RarArchive archive(unrar);
    const int opened = archive.Open(openedAs, RAR_OM_LIST, &pass);
    if (opened != ERAR_SUCCESS)
        return LibraryFailure(opened, pass, std::string());
    survey.encrypted = (archive.flags() & ROADF_ENCHEADERS) != 0;
    std::unique_ptr<RARHeaderDataEx> header(new RARHeaderDataEx());
    int status;
    while ((status = unrar.RARReadHeaderEx(archive.handle(), header.get())) == ERAR_SUCCESS) {
        survey.unpackedSize += (static_cast<uint64_t>(header->UnpSizeHigh) << 32) | header->UnpSize;
        survey.encrypted = survey.encrypted || (header->Flags & RHDF_ENCRYPTED);
        const int skipped = unrar.RARProcessFileW(archive.handle(), RAR_SKIP, nullptr, nullptr);
        if (skipped != ERAR_SUCCESS) {
            status = skipped;
            break;
        }
    }
    survey.volumes = pass.volumes();
    if (survey.encrypted || pass.encrypted())
        return {Outcome::Encrypted, NameOf(archivePath) + " is encrypted"};
    return status == ERAR_END_ARCHIVE ? Failure() : LibraryFailure(status, pass, std::string());
}

// Reads the whole set through the library's test mode: its data is intact when it succeeds.
Failure TestSet(const UnrarLibrary& unrar, const UnpackContext& context, const VolumeNames& names,
                const std::string& archivePath, const std::string& openedAs)
{
    SetPass pass(context, names, archivePath, openedAs, Pass::Test);
    RarArchive archive(unrar);
    const int opened = archive.Open(openedAs, RAR_OM_EXTRACT, &pass);
    if (opened != ERAR_SUCCESS)
        return LibraryFailure(opened, pass, std::string());
    std::unique_ptr<RARHeaderDataEx> header(new RARHeaderDataEx());
    int status;
    while ((status = unrar.RARReadHeaderEx(archive.handle(), header.get())) == ERAR_SUCCESS) {
        const int tested = unrar.RARProcessFileW(archive.handle(), RAR_TEST, nullptr, nullptr);
        if (context.progress->stopped())
            return {Outcome::Stopped, "stopped while testing " + NameOf(archivePath)};
        if (tested != ERAR_SUCCESS)
            return LibraryFailure(tested, pass, std::string());
    }
    return status == ERAR_END_ARCHIVE ? Failure() : LibraryFailure(status, pass, std::string());
}

// An output that the library must not replace: a read-only file, or one that another program
// holds open. The library would fail it only after reading past its data.
bool TargetRefused(const std::wstring& wide)
{
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return true;
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(file);
    return false;
}

// The first volume under the name the library reads it by, given back its own name unless it
// was deleted.
class FirstVolumeName {
public:
    explicit FirstVolumeName(const std::string& own) : own_(own), onDisk_(own) {}
    ~FirstVolumeName()
    {
        if (onDisk_ != own_ && Exists(onDisk_))
            MoveFileW(PlatformPath(onDisk_).c_str(), PlatformPath(own_).c_str());
    }
    FirstVolumeName(const FirstVolumeName&) = delete;
    FirstVolumeName& operator=(const FirstVolumeName&) = delete;

    // Reads the set under the prefixed name, so that the library asks for every next volume
    // instead of opening a name it derived itself. Nothing is renamed when a file has that name.
    void Prefix()
    {
        const std::string prefixed = PrefixedVolumeName(own_);
        if (!Exists(prefixed) && MoveFileW(PlatformPath(own_).c_str(), PlatformPath(prefixed).c_str()))
            onDisk_ = prefixed;
    }
    const std::string& onDisk() const { return onDisk_; }

private:
    std::string own_;
    std::string onDisk_;
};

}  // namespace

Failure ExtractRar(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                   FileList& output)
{
    const std::string archiveName = NameOf(archivePath);
    if (!context.unrar)
        return {Outcome::NoLibrary, "no unrar64.dll to read " + archiveName + " with"};
    const UnrarLibrary& unrar = *context.unrar;
    unsigned flags = 0;
    {
        RarArchive probe(unrar);
        const int opened = probe.Open(archivePath, RAR_OM_LIST, nullptr);
        if (opened == ERAR_EOPEN)
            return {Outcome::CannotRead, "cannot read " + archiveName};
        if (opened == ERAR_NO_MEMORY)
            return {Outcome::NoMemory, "out of memory"};
        if (opened != ERAR_SUCCESS)
            return {Outcome::BadData, archiveName + " is damaged or no RAR archive"};
        flags = probe.flags();
    }
    if (IsLaterVolumeOfNewNamingSet(archivePath, flags))
        return Failure();

    const VolumeNames names(archivePath);
    const bool volumeSet = (flags & ROADF_VOLUME) != 0;
    FirstVolumeName first(archivePath);
    if (volumeSet && (flags & ROADF_NEWNUMBERING) && names.oldStyle())
        first.Prefix();

    SetSurvey survey;
    Failure failure = Survey(unrar, context, names, archivePath, first.onDisk(), survey);
    if (!failure.ok())
        return failure;

    // Room: the whole set's output, or with deletion as it goes, what it outgrows its volumes by.
    std::vector<uint64_t> volumeSizes;
    uint64_t volumeBytes = 0, largestVolume = 0;
    for (size_t i = 0; i < survey.volumes.size(); ++i) {
        volumeSizes.push_back(FileSize(i == 0 ? first.onDisk() : survey.volumes[i]));
        volumeBytes += volumeSizes.back();
        largestVolume = std::max(largestVolume, volumeSizes.back());
    }
    const uint64_t unpacked = survey.unpackedSize;
    const uint64_t freeBytes = FreeSpace(destination);
    const uint64_t needPlain = unpacked + RoomMargin(unpacked);
    const bool deletionFreesRoom = SameDrive(DirectoryOf(archivePath), destination);
    const uint64_t needDeleting =
        deletionFreesRoom ? (unpacked > volumeBytes ? unpacked - volumeBytes : 0) + largestVolume + RoomMargin(unpacked)
                          : needPlain;
    const bool mayDelete = SourcesMayBeDeleted(context) && survey.volumes.size() > 1;
    const Failure noRoom = {Outcome::NoRoom,
                            "not room enough for " + archiveName + " (" + std::to_string(needPlain >> 20) + " MiB)"};
    if (freeBytes < needDeleting || (freeBytes < needPlain && !mayDelete))
        return noRoom;

    // Volumes go as the library finishes them when that costs nothing (the SFV file vouched for
    // every one) or when the set fits no other way; then its data must be known intact before
    // the first volume goes, by a test pass if need be. Otherwise they go after the whole set.
    bool verified = true;
    for (const std::string& volume : survey.volumes)
        verified = verified && context.verified.count(FileIdentity(volume)) != 0;
    const bool deleteAsItGoes = mayDelete && (verified || freeBytes < needPlain);
    if (deleteAsItGoes && !verified) {
        failure = TestSet(unrar, context, names, archivePath, first.onDisk());
        if (!failure.ok())
            return failure;
    }

    SetPass pass(context, names, archivePath, first.onDisk(), Pass::Extract);
    pass.DeleteAsItGoes(deleteAsItGoes);
    pass.MeasureAgainst(survey.volumes, volumeSizes, unpacked);
    RarArchive archive(unrar);
    const int opened = archive.Open(first.onDisk(), RAR_OM_EXTRACT, &pass);
    if (opened != ERAR_SUCCESS)
        return LibraryFailure(opened, pass, std::string());

    std::wstring extractionPath = PlatformPath(destination);
    std::unique_ptr<RARHeaderDataEx> header(new RARHeaderDataEx());
    std::string keptPartial;  // what came out of deleted volumes, kept after a failure
    int status;
    while ((status = unrar.RARReadHeaderEx(archive.handle(), header.get())) == ERAR_SUCCESS) {
        if (context.progress->stopped() && !pass.deletionBegun()) {
            failure = {Outcome::Stopped, "stopped in " + archiveName};
            break;
        }
        const size_t capacity = sizeof header->FileNameW / sizeof header->FileNameW[0];
        const std::wstring name(header->FileNameW, wcsnlen(header->FileNameW, capacity));
        const bool directory = (header->Flags & RHDF_DIRECTORY) != 0;
        const std::wstring target = PlatformPath(destination + Utf8(name));
        if (!StaysBelowDestination(name) || (!directory && TargetRefused(target))) {
            // Skipping reads past the entry's volumes too: none of them may go from here on.
            pass.EndDeletion();
            unrar.RARProcessFileW(archive.handle(), RAR_SKIP, nullptr, nullptr);
            if (failure.ok())
                failure = {Outcome::CannotWrite, "cannot write " + Utf8(name)};
            continue;
        }
        pass.BeginEntry(directory ? std::wstring() : target);
        const int processed = unrar.RARProcessFileW(archive.handle(), RAR_EXTRACT, &extractionPath[0], nullptr);
        const uint64_t size = (static_cast<uint64_t>(header->UnpSizeHigh) << 32) | header->UnpSize;
        bool landed = processed == ERAR_SUCCESS && (directory || LandedOnDisk(target, size));
        const uint64_t delivered = pass.EndEntry(!landed);
        if (landed) {
            output.Append(destination + Utf8(name));
            continue;
        }
        // What did not come out completely never stays under its real name. Once volumes were
        // deleted it holds the only copy of their data: it is kept under a name that says so,
        // or, should that fail, under its own.
        if (!directory && delivered > 0) {
            const std::string partial = destination + Utf8(name) + ".incomplete";
            if (!pass.deletionBegun())
                DeleteFileW(target.c_str());
            else if (MoveFileW(target.c_str(), PlatformPath(partial).c_str()))
                keptPartial = NameOf(partial);
            else
                keptPartial = Utf8(name);
        }
        if (context.progress->stopped() && !pass.deletionBegun()) {
            failure = {Outcome::Stopped, "stopped in " + archiveName};
            break;
        }
        const std::string entryName = Utf8(name);
        if (failure.ok())
            failure = processed == ERAR_SUCCESS ? Failure{Outcome::CannotWrite, "cannot write " + entryName}
                                                : LibraryFailure(processed, pass, entryName);
        if (!pass.volumeFailure().ok())
            break;
    }
    if (failure.ok() && status != ERAR_END_ARCHIVE)
        failure = LibraryFailure(status, pass, std::string());
    archive.Close();

    if (failure.ok()) {
        pass.ReportAllConsumed();
        if (SourcesMayBeDeleted(context)) {
            // The volumes that were not deleted as the library went: all of them, or the last.
            const std::vector<std::string>& volumes = pass.volumes();
            for (size_t i = pass.deleted(); i < volumes.size(); ++i) {
                // Deleting a large file takes a while on some file systems: the host stays called.
                context.progress->Working(volumes[i]);
                DeleteFileW(PlatformPath(i == 0 ? first.onDisk() : volumes[i]).c_str());
            }
        }
        if (context.progress->stopped())
            return {Outcome::Stopped, "stopped after " + archiveName};
        return failure;
    }
    if (pass.deletionBegun()) {
        failure.detail += "; its first " + std::to_string(pass.deleted()) + " volumes were deleted, the rest kept";
        if (!keptPartial.empty())
            failure.detail += ", what came out of them is in " + keptPartial;
    } else
        failure.detail += "; the set was kept";
    return failure;
}
