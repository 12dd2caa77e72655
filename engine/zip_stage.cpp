#include "engine/zip_stage.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/release_names.h"
#include "engine/source_deletion.h"
#include "engine/zip/zip_entry_fields.h"
#include "engine/zip/zip_reader.h"

namespace {

bool Readable(const std::string& path)
{
    return FileReader(path).open();
}

Failure EntryFailure(ZipStatus status, bool intact, const std::string& archiveName, const std::string& entry)
{
    switch (status) {
    case ZipStatus::Ok:
        return intact ? Failure() : Failure{Outcome::BadData, "CRC mismatch in " + entry + " of " + archiveName};
    case ZipStatus::Stopped:
        return {Outcome::Stopped, "stopped in " + archiveName};
    case ZipStatus::CannotOpen:
    case ZipStatus::WriteFailed:
        return {Outcome::CannotWrite, "cannot write " + entry};
    case ZipStatus::UnsafeName:
        return {Outcome::BadData, archiveName + " holds an unsafe name"};
    case ZipStatus::BadPassword:
        return {Outcome::Encrypted, entry + " in " + archiveName + " is encrypted"};
    default:
        return {Outcome::BadData, archiveName + " is damaged"};
    }
}

// The entries that came out whole: committed in batches (see CommitBatch), then recorded where
// they landed.
class Landing {
public:
    Landing(const UnpackContext& context, const std::string& destination, std::vector<JournalFile>& landed)
        : context_(context), destination_(destination), landed_(landed),
          batch_(*context.destination, context.Temporaries(), [this] {
              context_.progress->Working(destination_);
              return !context_.progress->stopped();
          })
    {
    }
    // Commits what waits: an archive's files are all on the disk before it may go.
    ~Landing() { Commit(); }

    // Where the next entry goes and how it meets a file of its name. An entry waits for those
    // that wait already to land when they may meet: of its name (twice in the archive, or in
    // other letter case), of its temporary name or it of theirs, or of one of its folders.
    ZipPlacement PlacementFor(const std::string& name)
    {
        if (Meets(destination_ + name))
            Commit();
        ZipPlacement placement;
        placement.existing = context_.ExistingFor(destination_ + name);
        placement.batch = &batch_;
        return placement;
    }

    void Add(const ZipPlacement& placement, const ZipItem& item)
    {
        if (!placement.queued)
            return Record(placement.landed, placement.stood, item);
        waiting_.push_back({placement.ticket, item});
        const std::string path = destination_ + item.name;
        waitingNames_.insert(FileIdentity(path));
        waitingNames_.insert(FileIdentity(OutputFile::TemporaryName(path, batch_.tags().run)));
        if (batch_.full())
            Commit();
    }

    // The first entry that came out but could not be committed.
    const Failure& Commit()
    {
        batch_.Commit();
        for (const Waiting& entry : waiting_) {
            if (batch_.committed(entry.ticket))
                Record(batch_[entry.ticket].landed(), batch_[entry.ticket].stood(), entry.item);
            else if (failure_.ok())
                failure_ = {Outcome::CannotWrite, "cannot write " + entry.item.name};
        }
        waiting_.clear();
        waitingNames_.clear();
        batch_.Forget();
        return failure_;
    }

    const std::string& destination() const { return destination_; }

private:
    struct Waiting {
        size_t ticket;
        ZipItem item;
    };

    bool Meets(const std::string& path) const
    {
        if (waitingNames_.count(FileIdentity(path)) != 0 ||
            waitingNames_.count(FileIdentity(OutputFile::TemporaryName(path, batch_.tags().run))) != 0)
            return true;
        for (size_t separator = path.find_first_of("\\/", destination_.size()); separator != std::string::npos;
             separator = path.find_first_of("\\/", separator + 1))
            if (waitingNames_.count(FileIdentity(path.substr(0, separator))) != 0)
                return true;
        return false;
    }

    void Record(const std::string& path, bool stood, const ZipItem& item)
    {
        landed_.push_back({path, item.uncompressedSize, item.crc, stood});
        context_.Landed(path, destination_ + item.name);
    }

    const UnpackContext& context_;
    const std::string& destination_;
    std::vector<JournalFile>& landed_;
    CommitBatch batch_;
    std::vector<Waiting> waiting_;
    std::unordered_set<std::wstring> waitingNames_;
    Failure failure_;
};

// Nothing is started when the destination's drive has not room for the whole archive.
Failure PrepareDestination(ZipReader* reader, const std::string& destination, const std::string& archiveName,
                           const std::unordered_set<int32_t>& passOver)
{
    // ZIP64 entries may announce any size: the sum saturates instead of wrapping round.
    uint64_t needed = totalSize(reader);
    ZipItem item;
    for (int32_t index : passOver)
        if (getItem(reader, index, item) == ZipStatus::Ok && needed != UINT64_MAX)
            needed -= std::min(needed, item.uncompressedSize);
    const uint64_t margin = RoomMargin(needed);
    const uint64_t room = needed > UINT64_MAX - margin ? UINT64_MAX : needed + margin;
    if (FreeSpace(destination) < room)
        return {Outcome::NoRoom, "not room enough for " + archiveName + " (" + std::to_string(room >> 20) + " MiB)"};
    if (setBaseDirectory(reader, destination) != ZipStatus::Ok)
        return {Outcome::CannotWrite, "cannot write into " + destination};
    return Failure();
}

// Extracts entry `index`, reporting the archive's bytes as its data is written, in proportion.
Failure ExtractOne(const UnpackContext& context, ZipReader* reader, int32_t index, const std::string& archivePath,
                   Landing& landing)
{
    JobProgress& progress = *context.progress;
    const std::string archiveDirectory = DirectoryOf(archivePath);
    const std::string archiveName = archivePath.substr(archiveDirectory.size());
    ZipItem item;
    ZipStatus status = getItem(reader, index, item);
    if (status == ZipStatus::Ok && context.volumePaths && !context.volumePaths->empty()) {
        const auto moved = context.volumePaths->find(FileIdentity(landing.destination() + item.name));
        if (moved != context.volumePaths->end())
            item.name = moved->second.substr(landing.destination().size());
    }
    // The Finder's metadata of macOS is passed over: it means nothing on Windows, and its
    // "._name.zip" files would be taken for archives by the second pass.
    if (status == ZipStatus::Ok && IsFinderMetadata(item.name)) {
        progress.Consumed(archivePath, item.compressedSize);
        return Failure();
    }
    if (status == ZipStatus::Ok) {
        // Named before it is written, so that the host shows each entry and a stop is heard for it.
        progress.Text(archiveDirectory + item.name);
        if (progress.stopped())
            return {Outcome::Stopped, "stopped in " + archiveName};
    }
    uint64_t written = 0, reported = 0;
    const auto onBlock = [&](uint64_t bytes) {
        written += bytes;
        // As a share: the product of two sizes over 4 GiB would not fit 64 bits.
        const uint64_t due =
            written >= item.uncompressedSize
                ? item.compressedSize
                : static_cast<uint64_t>(static_cast<double>(item.compressedSize) *
                                        (static_cast<double>(written) / static_cast<double>(item.uncompressedSize)));
        progress.Consumed(archivePath, due - reported);
        reported = due;
        return !progress.stopped();
    };
    // Windows takes no longer path: the entry cannot come out, and the archive stays.
    const size_t kLongestPath = 32767;
    if (status == ZipStatus::Ok && PlatformPath(landing.destination() + item.name).size() >= kLongestPath)
        return {Outcome::CannotWrite,
                "cannot write an entry of " + archiveName + ": its name is longer than Windows allows"};
    bool intact = false;
    ZipPlacement placement = landing.PlacementFor(item.name);
    if (status == ZipStatus::Ok)
        status = extractItem(reader, index, item.name, &intact, onBlock, placement);
    const Failure entry = EntryFailure(status, intact, archiveName, item.name);
    if (entry.ok() && !item.name.empty() && !(item.attributes & FILE_ATTRIBUTE_DIRECTORY))
        landing.Add(placement, item);
    return entry;
}

}  // namespace

Failure ExtractZip(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                   std::vector<JournalFile>& landed, const std::unordered_set<int32_t>& passOver)
{
    const std::string archiveName = archivePath.substr(DirectoryOf(archivePath).size());
    ZipReader* reader = openReader(archivePath);
    if (!reader)
        return Readable(archivePath) ? Failure{Outcome::BadData, archiveName + " is damaged or no ZIP archive"}
                                     : Failure{Outcome::CannotRead, "cannot read " + archiveName};
    Failure failure = PrepareDestination(reader, destination, archiveName, passOver);
    ZipItem summary;
    getItem(reader, -1, summary);
    const int32_t count = failure.ok() ? summary.index : 0;
    Landing landing(context, destination, landed);
    for (int32_t index = 0; index < count; ++index) {
        if (passOver.count(index) != 0)
            continue;
        const Failure entry = ExtractOne(context, reader, index, archivePath, landing);
        if (!entry.ok() && (failure.ok() || entry.outcome == Outcome::Stopped))
            failure = entry;
        if (failure.outcome == Outcome::Stopped)
            break;
    }
    closeReader(reader);
    const Failure& committed = landing.Commit();
    return failure.ok() ? committed : failure;
}
