#include "engine/rar_stage.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/files.h"
#include "base/names.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/rar5_files.h"
#include "engine/rar_names.h"
#include "engine/rar_deleting_copy.h"
#include "engine/release_names.h"
#include "engine/source_deletion.h"
#include "engine/unrar_library.h"
#include "engine/volume_alias.h"
#include "engine/zip/zip_reader.h"

namespace {

std::string NameOf(const std::string& path)
{
    return path.substr(path.find_last_of("\\/") + 1);
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

enum class Pass { Survey, Extract };

// One pass of the library over the set, and everything the library's callback decides: which
// file is the next volume, where the unpacked data goes, the host's progress and stop.
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

    // The sizes tell how far the library got, for the host's progress.
    void MeasureAgainst(const std::vector<std::string>& volumeNames, std::vector<uint64_t> volumeSizes,
                        uint64_t unpackedTotal)
    {
        volumeNames_ = volumeNames;
        volumeSizes_ = std::move(volumeSizes);
        unpackedTotal_ = unpackedTotal;
        reported_.assign(volumeSizes_.size(), 0);
    }

    // The entry's data goes to `output` while the library tests it; the library checks its CRC.
    void BeginEntry(OutputFile* output)
    {
        output_ = output;
        writeFailed_ = false;
    }
    void EndEntry() { output_ = nullptr; }
    bool writeFailed() const { return writeFailed_; }

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
            return Processed(reinterpret_cast<const unsigned char*>(p1), static_cast<size_t>(p2));
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

    // The library has opened the next volume: it must be the set's own next volume.
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
        volumes_.push_back(next);
        onDisk_ = next;
        ReportProgress();
        return 0;
    }

    int Processed(const unsigned char* data, size_t bytes)
    {
        if (output_ && !output_->Write(data, bytes)) {
            writeFailed_ = true;
            return -1;
        }
        unpackedDone_ += bytes;
        ReportProgress();
        return context_.progress->stopped() ? -1 : 0;
    }

    // The host learns how far the set got: as bytes of its volumes when they are selected
    // files, estimated from the unpacked bytes; as a percentage otherwise.
    void ReportProgress()
    {
        if (pass_ != Pass::Extract || volumeSizes_.empty())
            return;
        JobProgress& progress = *context_.progress;
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
    OutputFile* output_ = nullptr;
    bool writeFailed_ = false;
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

    // The library's open result (ERAR_SUCCESS when open).
    int Open(const std::string& path, unsigned mode, SetPass* pass)
    {
        std::wstring widePath = PlatformPath(path);
        RAROpenArchiveDataEx data = {};
        data.ArcNameW = &widePath[0];
        data.OpenMode = mode;
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

// The library's codes in the engine's words, one mapping for every call: `volume` is the
// volume it read, `entry` the entry it wrote, `encrypted` whether it asked for a password.
Failure CodeFailure(int code, const std::string& volume, const std::string& entry, bool encrypted)
{
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
        return {Outcome::NewerFormat,
                volume + " needs a newer UnRAR library (a newer compression or a larger dictionary)"};
    default:
        if (encrypted)
            return {Outcome::Encrypted, volume + " is encrypted"};
        return {Outcome::BadData, volume + " is damaged"};
    }
}

// The library's verdict in a pass: a volume that the pass refused says more than the code.
Failure LibraryFailure(int code, const SetPass& pass, const std::string& entry)
{
    if (!pass.volumeFailure().ok())
        return pass.volumeFailure();
    return CodeFailure(code, NameOf(pass.volumes().back()), entry, pass.encrypted());
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

// What the library's header says of an entry, as the output takes it.
struct EntryFacts {
    std::wstring name;
    bool directory = false;
    uint64_t size = 0;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    FILETIME times[3] = {};  // creation, access, write; zero when the set does not carry them
};

EntryFacts FactsOf(const RARHeaderDataEx& header)
{
    EntryFacts facts;
    const size_t capacity = sizeof header.FileNameW / sizeof header.FileNameW[0];
    facts.name.assign(header.FileNameW, wcsnlen(header.FileNameW, capacity));
    facts.directory = (header.Flags & RHDF_DIRECTORY) != 0;
    facts.size = (static_cast<uint64_t>(header.UnpSizeHigh) << 32) | header.UnpSize;
    const unsigned kHostWindows = 2;
    const DWORD kKept =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    if (header.HostOS == kHostWindows && (header.FileAttr & kKept))
        facts.attributes = header.FileAttr & kKept;
    facts.times[0] = {header.CtimeLow, header.CtimeHigh};
    facts.times[1] = {header.AtimeLow, header.AtimeHigh};
    facts.times[2] = {header.MtimeLow, header.MtimeHigh};
    return facts;
}

// The room a set needs and has: all of its output, or, with its volumes deleted as it is
// unpacked, what the output outgrows them by.
struct Room {
    uint64_t free = 0;
    uint64_t plain = 0;
    uint64_t deleting = 0;
};

Room RoomFor(const SetSurvey& survey, const std::vector<uint64_t>& volumeSizes, const std::string& archivePath,
             const std::string& destination)
{
    uint64_t volumeBytes = 0, largestVolume = 0;
    for (uint64_t size : volumeSizes) {
        volumeBytes += size;
        largestVolume = std::max(largestVolume, size);
    }
    const uint64_t unpacked = survey.unpackedSize;
    Room room;
    room.free = FreeSpace(destination);
    room.plain = unpacked + RoomMargin(unpacked);
    room.deleting = SameDrive(DirectoryOf(archivePath), destination)
                        ? (unpacked > volumeBytes ? unpacked - volumeBytes : 0) + largestVolume + RoomMargin(unpacked)
                        : room.plain;
    return room;
}

// The redirections of RAR 5: links of four kinds, and a reference to an earlier file of the set
// whose content the entry repeats.
const unsigned kFileCopy = 5;

// Writes into `out` what came out at `earlier`, the file an entry refers to, calling the host
// for every piece.
bool CopyEarlierFile(const UnpackContext& context, const std::string& earlier, OutputFile& out)
{
    FileReader file(earlier);
    std::vector<unsigned char> buffer(1 << 20);
    for (uint64_t at = 0, size = file.Size(); at < size;) {
        size_t got = 0;
        if (!file.ReadAt(at, buffer.data(), buffer.size(), got) || got == 0 || !out.Write(buffer.data(), got))
            return false;
        at += got;
        context.progress->Text(out.target());
        if (context.progress->stopped())
            return false;
    }
    return file.open();
}

// Writes the entry that the library stands on into its output under a temporary name: the
// library reads and checks the data, the engine writes it. A directory is made, an entry whose
// name would leave the destination is passed over, a link is told and never made, and a
// reference comes out as a copy of the file it refers to, which `cameOut` tells by its target
// (FileIdentity) where it landed.
Failure UnpackEntry(const UnpackContext& context, RarArchive& archive, SetPass& pass, const RARHeaderDataEx& header,
                    const std::string& destination, std::vector<JournalFile>& landed,
                    std::unordered_map<std::wstring, std::string>& cameOut)
{
    const UnrarLibrary& unrar = *context.unrar;
    const EntryFacts entry = FactsOf(header);
    const std::string stored = Utf8(entry.name);
    const bool safe = !stored.empty() && IsContainedName(stored);
    const std::string name = WindowsName(stored);
    const std::string target = destination + name;
    const bool reference = header.RedirType == kFileCopy;
    if (header.RedirType != 0 && !reference) {
        unrar.RARProcessFileW(archive.handle(), RAR_SKIP, nullptr, nullptr);
        context.Note(name + " is a link, not unpacked");
        return Failure();
    }
    if (safe) {
        // A directory entry is made; a file's folders are made before it.
        const size_t slash = name.find_last_of("\\/");
        const std::string folders = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
        ensureDirectory(*context.destination, entry.directory ? name : folders);
    }
    OutputFile out(*context.destination, target, context.Temporaries());
    if (!safe || entry.directory || !out.Create(entry.attributes)) {
        unrar.RARProcessFileW(archive.handle(), RAR_SKIP, nullptr, nullptr);
        return safe && entry.directory ? Failure() : Failure{Outcome::CannotWrite, "cannot write " + name};
    }
    if (reference) {
        // The library would copy the file from where it would have written it; the engine
        // copies it from where it came out.
        unrar.RARProcessFileW(archive.handle(), RAR_SKIP, nullptr, nullptr);
        const size_t capacity = sizeof header.FileNameW / sizeof header.FileNameW[0];
        const std::string referred = WindowsName(Utf8(std::wstring(header.RedirName, wcsnlen(header.RedirName, capacity))));
        const auto earlier = cameOut.find(FileIdentity(destination + referred));
        if (earlier == cameOut.end())
            return {Outcome::CannotWrite, "cannot write " + name + ": " + referred + " did not come out"};
        if (!CopyEarlierFile(context, earlier->second, out))
            return context.progress->stopped() ? Failure{Outcome::Stopped, "stopped in " + NameOf(pass.volumes().front())}
                                               : Failure{Outcome::CannotWrite, "cannot write " + name};
    } else {
        pass.BeginEntry(&out);
        const int processed = unrar.RARProcessFileW(archive.handle(), RAR_TEST, nullptr, nullptr);
        pass.EndEntry();
        if (context.progress->stopped())
            return {Outcome::Stopped, "stopped in " + NameOf(pass.volumes().front())};
        if (processed != ERAR_SUCCESS && !pass.writeFailed())
            return LibraryFailure(processed, pass, name);
    }
    if (pass.writeFailed() || out.written() != entry.size ||
        !context.Commit(out, TimeOrNull(entry.times[0]), TimeOrNull(entry.times[1]), TimeOrNull(entry.times[2])))
        return {Outcome::CannotWrite, "cannot write " + name};
    landed.push_back({out.landed(), entry.size, out.crc(), out.stood()});
    cameOut[FileIdentity(target)] = out.landed();
    return Failure();
}

// Unpacks the set through the library, entry by entry. Nothing of the set is deleted here;
// `volumes` gets the volumes the library read.
Failure UnpackThroughLibrary(const UnpackContext& context, const VolumeNames& names, const std::string& archivePath,
                             const std::string& openedAs, const SetSurvey& survey,
                             const std::vector<uint64_t>& volumeSizes, const std::string& destination,
                             std::vector<JournalFile>& landed, std::vector<std::string>& volumes)
{
    const UnrarLibrary& unrar = *context.unrar;
    SetPass pass(context, names, archivePath, openedAs, Pass::Extract);
    pass.MeasureAgainst(survey.volumes, volumeSizes, survey.unpackedSize);
    RarArchive archive(unrar);
    const int opened = archive.Open(openedAs, RAR_OM_EXTRACT, &pass);
    if (opened != ERAR_SUCCESS)
        return LibraryFailure(opened, pass, std::string());
    std::unique_ptr<RARHeaderDataEx> header(new RARHeaderDataEx());
    std::vector<wchar_t> redirection(sizeof header->FileNameW / sizeof header->FileNameW[0]);
    header->RedirName = redirection.data();
    header->RedirNameSize = static_cast<unsigned>(redirection.size());
    std::unordered_map<std::wstring, std::string> cameOut;
    Failure failure;
    int status;
    while ((status = unrar.RARReadHeaderEx(archive.handle(), header.get())) == ERAR_SUCCESS) {
        if (context.progress->stopped())
            return {Outcome::Stopped, "stopped in " + NameOf(archivePath)};
        const Failure entry = UnpackEntry(context, archive, pass, *header, destination, landed, cameOut);
        if (entry.outcome == Outcome::Stopped)
            return entry;
        if (failure.ok())
            failure = entry;
        if (!pass.volumeFailure().ok())
            break;
    }
    if (failure.ok() && status != ERAR_END_ARCHIVE)
        failure = LibraryFailure(status, pass, std::string());
    if (failure.ok())
        pass.ReportAllConsumed();
    volumes = pass.volumes();
    return failure;
}

}  // namespace

Failure ExtractRar(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                   std::vector<JournalFile>& landed, std::vector<std::string>& read)
{
    const std::string archiveName = NameOf(archivePath);
    if (!context.unrar)
        return {Outcome::NoLibrary, "no unrar64.dll to read " + archiveName + " with"};
    const UnrarLibrary& unrar = *context.unrar;
    unsigned flags = 0;
    {
        RarArchive probe(unrar);
        const int opened = probe.Open(archivePath, RAR_OM_LIST, nullptr);
        if (opened != ERAR_SUCCESS)
            return CodeFailure(opened, archiveName, std::string(), false);
        flags = probe.flags();
    }
    if (IsLaterVolumeOfNewNamingSet(archivePath, flags))
        return Failure();

    const VolumeNames names(archivePath);
    VolumeAlias first(archivePath);
    if ((flags & ROADF_VOLUME) && (flags & ROADF_NEWNUMBERING) && names.oldStyle())
        first.Make(context);

    SetSurvey survey;
    Failure failure = Survey(unrar, context, names, archivePath, first.onDisk(), survey);
    if (!failure.ok())
        return failure;
    std::vector<uint64_t> volumeSizes;
    for (size_t i = 0; i < survey.volumes.size(); ++i)
        volumeSizes.push_back(FileSize(i == 0 ? first.onDisk() : survey.volumes[i]));
    const Room room = RoomFor(survey, volumeSizes, archivePath, destination);
    const bool mayDelete = SourcesMayBeDeleted(context, survey.volumes) && survey.volumes.size() > 1;
    const std::string need = std::to_string(room.plain >> 20) + " MiB";
    if (room.free < room.plain) {
        // Volumes go while the set is unpacked only when it fits no other way, and only when
        // what came out of them can be continued by the next run should this one die.
        if (!mayDelete || room.free < room.deleting)
            return {Outcome::NoRoom, "not room enough for " + archiveName + " (" + need + ")"};
        first.Undo();
        std::vector<JournalFile> volumes;
        for (size_t i = 0; i < survey.volumes.size(); ++i)
            volumes.push_back({survey.volumes[i], volumeSizes[i], 0});
        failure = UnpackDeletingVolumes(context, volumes, destination, landed);
        if (failure.ok())
            read = survey.volumes;
        return failure;
    }

    std::vector<std::string> volumes;
    failure = UnpackThroughLibrary(context, names, archivePath, first.onDisk(), survey, volumeSizes, destination,
                                   landed, volumes);
    if (!failure.ok()) {
        failure.detail += "; the set was kept";
        return failure;
    }
    read = volumes;
    // The link goes first: one left without its volume would be taken for a set of its own.
    first.Undo();
    if (SourcesMayBeDeleted(context, volumes))
        failure = ConsumeSources(context, volumes, landed);
    if (failure.ok() && context.progress->stopped())
        return {Outcome::Stopped, "stopped after " + archiveName};
    return failure;
}
