#include "engine/zip_stream.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <numeric>

#include "base/crc32.h"
#include "base/files.h"
#include "base/names.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/rar_names.h"
#include "engine/release_names.h"
#include "engine/source_deletion.h"
#include "engine/temp_file_cleanup.h"
#include "engine/zip/zip_reader.h"
#include "engine/zip_stage.h"

namespace {

// A stop is heard between pieces of this size at most.
const size_t kPieceSize = 1 << 20;

// The data of a stored ZIP member, read straight out of its ZIP file.
class MemberBytes : public ByteSource {
public:
    MemberBytes(FileReader& zip, uint64_t offset, uint64_t size) : zip_(zip), offset_(offset), size_(size) {}
    bool ReadAt(uint64_t offset, void* data, size_t size, size_t& got) override
    {
        got = 0;
        if (offset >= size_)
            return true;
        return zip_.ReadAt(offset_ + offset, data, static_cast<size_t>(std::min<uint64_t>(size, size_ - offset)), got);
    }
    uint64_t Size() const override { return size_; }

private:
    FileReader& zip_;
    uint64_t offset_;
    uint64_t size_;
};

// The CRC-32s of the ranges of a file that were read, joined where they meet, so that the CRC-32
// of the whole file needs only the bytes that were not read yet: the headers and the central
// directory of a ZIP file, and its members that hold no volume of the stream's sets.
class ReadCrcs {
public:
    // A range that overlaps one read before is left out: its bytes are read again for the whole.
    void Add(uint64_t offset, uint64_t size, uint32_t crc)
    {
        auto next = ranges_.lower_bound(offset);
        if ((next != ranges_.end() && next->first < offset + size) ||
            (next != ranges_.begin() && std::prev(next)->first + std::prev(next)->second.size > offset))
            return;
        if (next != ranges_.begin() && std::prev(next)->first + std::prev(next)->second.size == offset) {
            Range& before = std::prev(next)->second;
            before.crc = Crc32Combine(before.crc, crc, size);
            before.size += size;
            return;
        }
        ranges_[offset] = {size, crc};
    }

    // The CRC-32 of the whole of `file`, reading what is not known yet in pieces of `buffer`;
    // false when the file cannot be read, a range lies past its end, or `stopped` says so.
    bool Whole(FileReader& file, std::vector<unsigned char>& buffer, const std::function<bool()>& stopped,
               uint32_t& crc) const
    {
        const uint64_t size = file.Size();
        crc = 0;
        uint64_t at = 0;
        const auto readUpTo = [&](uint64_t end) {
            while (at < end) {
                const size_t piece = static_cast<size_t>(std::min<uint64_t>(end - at, buffer.size()));
                size_t got = 0;
                if (!file.ReadAt(at, buffer.data(), piece, got) || got != piece || stopped())
                    return false;
                crc = Crc32Update(crc, buffer.data(), piece);
                at += piece;
            }
            return true;
        };
        for (const auto& range : ranges_) {
            if (range.first + range.second.size > size || !readUpTo(range.first))
                return false;
            crc = Crc32Combine(crc, range.second.crc, range.second.size);
            at += range.second.size;
        }
        return readUpTo(size);
    }

private:
    struct Range {
        uint64_t size = 0;
        uint32_t crc = 0;
    };
    std::map<uint64_t, Range> ranges_;  // by offset
};

// A member of a ZIP file as the plan sees it.
struct Member {
    size_t zip = 0;
    ZipItem item;
    bool stored = false;  // its data is its content (see storedDataOffset)
    uint64_t offset = 0;
};

// The members of every ZIP file that can be read entry by entry, with where the data of the
// stored ones lies when `whereStored`; false for one that cannot, which goes the usual way with
// all it holds.
bool ListMembers(const std::string& zip, size_t index, std::vector<Member>& members, bool whereStored = true)
{
    ZipReader* reader = openReader(zip);
    if (!reader)
        return false;
    ZipItem summary;
    getItem(reader, -1, summary);
    bool readable = true;
    for (int32_t entry = 0; entry < summary.index && readable; ++entry) {
        Member member;
        member.zip = index;
        readable = getItem(reader, entry, member.item) == ZipStatus::Ok;
        member.stored = readable && whereStored && storedDataOffset(reader, entry, member.offset) == ZipStatus::Ok;
        members.push_back(member);
    }
    closeReader(reader);
    return readable;
}

// The set of these members (a set's volumes in the order they lie in the ZIP files), when it can
// be copied straight out of them: complete, stored RAR 5 or RAR 4 with CRC-32s, each volume
// numbered as it lies, names that stay inside the destination, and volumes that the keep list
// does not keep and that stand nowhere in the destination yet.
bool ReadSet(const UnpackContext& context, const std::vector<std::string>& zips, const std::vector<Member*>& members,
             const std::string& destination, ZippedSet& set)
{
    FileList volumeNames;
    for (size_t i = 0; i < members.size(); ++i) {
        const std::string& name = members[i]->item.name;
        if (!members[i]->stored || (i == 0 && ClassifyName(name).kind != NameKind::FirstVolume) ||
            (i > 0 && FileIdentity(NextVolumeName(members[i - 1]->item.name)) != FileIdentity(name)))
            return false;
        // A volume that an earlier run left in the destination is replaced and then cleaned up
        // the usual way.
        if (GetFileAttributesW(PlatformPath(destination + name).c_str()) != INVALID_FILE_ATTRIBUTES)
            return false;
        volumeNames.Append(destination + name);
    }
    const size_t count = volumeNames.Size();
    RemoveKeptFiles(volumeNames, context.settings.keepExtensions);
    if (volumeNames.Size() != count)
        return false;
    std::vector<std::unique_ptr<FileReader>> readers(zips.size());
    std::vector<std::unique_ptr<MemberBytes>> bytes;
    std::vector<RarVolume> volumes;
    bool rar4 = false;  // the volumes are of the older format, which its first one tells
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& member = *members[i];
        if (!readers[member.zip])
            readers[member.zip].reset(new FileReader(zips[member.zip]));
        bytes.emplace_back(new MemberBytes(*readers[member.zip], member.offset, member.item.uncompressedSize));
        uint64_t number = 0;
        if (i == 0)
            rar4 = !Rar5VolumeNumber(*bytes.back(), number) && Rar4VolumeNumber(*bytes.back(), number);
        else if (!(rar4 ? Rar4VolumeNumber : Rar5VolumeNumber)(*bytes.back(), number))
            return false;
        if (number != i)
            return false;
        volumes.push_back({OwnName(member.item.name), bytes.back().get()});
    }
    std::string error;
    bool last = false;
    if (!(rar4 ? ReadRar4Layout : ReadRar5Layout)(volumes, set.files, error, &last) || !last ||
        !IsResumable(set.files))
        return false;
    for (const RarFile& file : set.files)
        if (file.startsBefore || file.name.empty() || !IsContainedName(LocalName(file)))
            return false;
    for (const Member* member : members)
        set.volumes.push_back({member->zip, member->item.index, member->item.name, member->offset,
                               member->item.uncompressedSize, member->item.crc});
    return true;
}

// Gathers the sets that share a ZIP file into one stream each, with what comes out of their ZIP
// files besides; a stream where a file of a set would meet another member's name (or another
// set's file) goes the usual way, as the second pass writes over what the first one produced.
std::vector<ZipStream> GatherStreams(const std::vector<std::string>& zips, const std::vector<Member>& members,
                                     std::vector<ZippedSet>& sets, const std::string& destination)
{
    std::vector<size_t> root(zips.size());
    std::iota(root.begin(), root.end(), 0);
    const auto find = [&](size_t zip) {
        while (root[zip] != zip)
            zip = root[zip];
        return zip;
    };
    for (const ZippedSet& set : sets)
        for (const ZipVolume& volume : set.volumes)
            root[find(volume.zip)] = find(set.volumes.front().zip);
    std::vector<ZipStream> streams;
    std::map<size_t, size_t> streamOf;       // by root ZIP file
    std::vector<size_t> place(zips.size());  // of each ZIP file in its stream
    for (ZippedSet& set : sets) {
        const size_t key = find(set.volumes.front().zip);
        if (!streamOf.count(key)) {
            streamOf[key] = streams.size();
            streams.emplace_back();
            for (size_t zip = 0; zip < zips.size(); ++zip)
                if (find(zip) == key) {
                    place[zip] = streams.back().zips.size();
                    streams.back().zips.push_back(zips[zip]);
                    streams.back().volumeEntries.emplace_back();
                }
        }
        ZipStream& stream = streams[streamOf[key]];
        for (ZipVolume& volume : set.volumes) {
            volume.zip = place[volume.zip];
            stream.volumeEntries[volume.zip].insert(volume.entry);
        }
        stream.sets.push_back(std::move(set));
    }
    std::vector<ZipStream> plain;
    for (const auto& entry : streamOf) {
        ZipStream& stream = streams[entry.second];
        std::unordered_set<std::wstring> names;
        for (const Member& member : members)
            if (find(member.zip) == entry.first) {
                names.insert(FileIdentity(destination + member.item.name));
                if (!stream.volumeEntries[place[member.zip]].count(member.item.index))
                    stream.bytes += member.item.uncompressedSize;
            }
        bool meets = false;
        for (const ZippedSet& set : stream.sets)
            for (const RarFile& file : set.files) {
                meets = meets || !names.insert(FileIdentity(destination + LocalName(file))).second;
                stream.bytes += file.size;
            }
        stream.checks.resize(stream.zips.size());
        if (!meets)
            plain.push_back(std::move(stream));
    }
    return plain;
}

// A file of a set that came out whole and is on the disk under its temporary name, to be named
// once the SFV checks of the ZIP files it came from are settled.
struct CopiedFile {
    std::unique_ptr<OutputFile> output;
    const RarFile* file = nullptr;
};

// Copies one set out of the data of its members, member after member: each file is written to
// an output, checked part by part and whole against the CRC-32s of the volumes' headers, each
// member against the CRC-32 its ZIP file stores, and a file is put on the disk once every member
// that holds its data has passed.
class SetCopy {
public:
    SetCopy(const UnpackContext& context, const ZipStream& stream, const ZippedSet& set, const std::string& destination,
            std::vector<CopiedFile>& copied, std::vector<ReadCrcs>& read)
        : context_(context), stream_(stream), set_(set), destination_(destination), copied_(copied), read_(read),
          readers_(stream.zips.size()), buffer_(kPieceSize), inVolume_(set.volumes.size())
    {
        for (size_t file = 0; file < set.files.size(); ++file)
            for (size_t part = 0; part < set.files[file].parts.size(); ++part)
                inVolume_[set.files[file].parts[part].volume].push_back({file, part});
    }

    Failure Run()
    {
        for (size_t volume = 0; volume < set_.volumes.size(); ++volume) {
            const Failure copied = CopyVolume(volume);
            if (!copied.ok())
                return copied;
        }
        return Failure();
    }

private:
    Failure CopyVolume(size_t index)
    {
        const ZipVolume& volume = set_.volumes[index];
        const std::string& zip = stream_.zips[volume.zip];
        JobProgress& progress = *context_.progress;
        // Named before it is read, as the ZIP stage names each entry, so that a stop is heard for it.
        progress.Text(DirectoryOf(zip) + volume.name);
        if (progress.stopped())
            return {Outcome::Stopped, "stopped in " + OwnName(zip)};
        if (!readers_[volume.zip])
            readers_[volume.zip].reset(new FileReader(zip));
        uint32_t memberCrc = 0;
        uint64_t at = 0;
        for (const auto& place : inVolume_[index]) {
            const RarFile& file = set_.files[place.first];
            const RarPart& part = file.parts[place.second];
            if (part.offset < at)
                return {Outcome::BadData, OwnName(volume.name) + " in " + OwnName(zip) + " is damaged"};
            // The headers between the parts count for the member's CRC-32 only.
            Failure read = Read(volume, at, part.offset - at, memberCrc, nullptr, nullptr);
            if (!read.ok())
                return read;
            const std::string name = LocalName(file);
            if (file.directory) {
                ensureDirectory(*context_.destination, name);
                at = part.offset + part.size;
                continue;
            }
            if (place.second == 0) {
                const size_t slash = name.rfind('\\');
                ensureDirectory(*context_.destination, slash == std::string::npos ? std::string() : name.substr(0, slash + 1));
                open_.reset(new OutputFile(*context_.destination, destination_ + name, context_.Temporaries()));
                if (!open_->Create(file.attributes))
                    return {Outcome::CannotWrite, "cannot write " + name};
            }
            uint32_t partCrc = 0;
            read = Read(volume, part.offset, part.size, memberCrc, &partCrc, open_.get());
            if (!read.ok())
                return read;
            at = part.offset + part.size;
            if ((part.last ? open_->crc() : partCrc) != part.crc || (part.last && open_->written() != file.size))
                return {Outcome::BadData, OwnName(volume.name) + " in " + OwnName(zip) + " is damaged"};
            if (part.last)
                finished_.push_back({std::move(open_), &file});
        }
        const Failure rest = Read(volume, at, volume.size - at, memberCrc, nullptr, nullptr);
        if (!rest.ok())
            return rest;
        if (memberCrc != volume.crc)
            return {Outcome::BadData, "CRC mismatch in " + volume.name + " of " + OwnName(zip)};
        return PutFinishedOnDisk();
    }

    // Reads `size` bytes of the member's data at `offset` in pieces, each reported as consumed of
    // its ZIP file and added to the member's CRC-32, to the part's and to what is known of the
    // ZIP file's, and written to `out`.
    Failure Read(const ZipVolume& volume, uint64_t offset, uint64_t size, uint32_t& memberCrc, uint32_t* partCrc,
                 OutputFile* out)
    {
        const std::string& zip = stream_.zips[volume.zip];
        JobProgress& progress = *context_.progress;
        for (uint64_t done = 0; done < size;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(size - done, buffer_.size()));
            size_t got = 0;
            if (!readers_[volume.zip]->ReadAt(volume.offset + offset + done, buffer_.data(), piece, got) ||
                got != piece)
                return {Outcome::CannotRead, "cannot read " + OwnName(zip)};
            const uint32_t crc = Crc32Update(0, buffer_.data(), piece);
            read_[volume.zip].Add(volume.offset + offset + done, piece, crc);
            memberCrc = Crc32Combine(memberCrc, crc, piece);
            if (partCrc)
                *partCrc = Crc32Combine(*partCrc, crc, piece);
            if (out && !out->Write(buffer_.data(), piece))
                return {Outcome::CannotWrite, "cannot write " + OwnName(out->target())};
            done += piece;
            progress.Consumed(zip, piece);
            if (progress.stopped())
                return {Outcome::Stopped, "stopped in " + OwnName(zip)};
        }
        return Failure();
    }

    // The files whose last part lay in a member that passed its check: put on the disk.
    Failure PutFinishedOnDisk()
    {
        for (auto& finished : finished_) {
            OutputFile& out = *finished.first;
            const RarFile& file = *finished.second;
            const FileTimes times(file);
            if (!context_.PutOnDisk(out, times.creation(), times.access(), times.write()))
                return {Outcome::CannotWrite, "cannot write " + LocalName(file)};
            copied_.push_back({std::move(finished.first), &file});
        }
        finished_.clear();
        return Failure();
    }

    const UnpackContext& context_;
    const ZipStream& stream_;
    const ZippedSet& set_;
    const std::string& destination_;
    std::vector<CopiedFile>& copied_;
    std::vector<ReadCrcs>& read_;  // of each ZIP file
    std::vector<std::unique_ptr<FileReader>> readers_;  // of each ZIP file, opened when first read
    std::vector<unsigned char> buffer_;
    std::vector<std::vector<std::pair<size_t, size_t>>> inVolume_;  // file and part, in each volume's order
    std::unique_ptr<OutputFile> open_;                              // the file being written
    std::vector<std::pair<std::unique_ptr<OutputFile>, const RarFile*>> finished_;
};

// Settles the SFV checks of the stream's ZIP files with what the copies read of them, reading
// only the rest; the first that fails, when one does.
Failure SettleChecks(const UnpackContext& context, const ZipStream& stream, const std::vector<ReadCrcs>& read)
{
    JobProgress& progress = *context.progress;
    std::vector<unsigned char> buffer(kPieceSize);
    Failure failure;
    for (size_t zip = 0; zip < stream.zips.size() && failure.ok(); ++zip) {
        if (stream.checks[zip].empty())
            continue;
        FileReader file(stream.zips[zip]);
        uint32_t crc = 0;
        const bool whole = read[zip].Whole(file, buffer, [&] {
            progress.Working("Verifying " + stream.checks[zip].front().name + "...");
            return progress.stopped();
        }, crc);
        for (const SfvCheck& check : stream.checks[zip]) {
            if (progress.stopped())
                return {Outcome::Stopped, "stopped while verifying " + check.name};
            const Failure checked = whole ? SettleSfvCheck(check, crc, progress, *context.journal)
                                          : ReadSfvCheck(check, progress, *context.journal);
            if (failure.ok())
                failure = checked;
        }
    }
    return failure;
}

// The sets' files are copied and put on the disk first, and the SFV checks of the ZIP files
// settled with what that read: nothing of the stream takes a real name before its ZIP files
// matched, so that a download that is not what its SFV file says leaves nothing, also when a run
// dies before the check. The other members come out after.
Failure RunStream(const UnpackContext& context, ZipStream& stream, const std::string& destination,
                  std::vector<JournalFile>& landed)
{
    Verdict verdict;
    const size_t before = landed.size();
    std::vector<ReadCrcs> read(stream.zips.size());
    std::vector<CopiedFile> copied;
    for (size_t set = 0; set < stream.sets.size() && !verdict.stopped(); ++set)
        verdict.Add(SetCopy(context, stream, stream.sets[set], destination, copied, read).Run());
    const Failure checked = verdict.stopped() ? Failure() : SettleChecks(context, stream, read);
    if (verdict.stopped() || checked.outcome == Outcome::Stopped)
        return {Outcome::Stopped, "stopped in " + OwnName(stream.zips.front())};
    if (!checked.ok()) {
        stream.checkFailed = true;
        return {checked.outcome, checked.detail + ", nothing unpacked"};
    }
    for (CopiedFile& file : copied) {
        if (!context.Name(*file.output)) {
            verdict.Add({Outcome::CannotWrite, "cannot write " + LocalName(*file.file)});
            continue;
        }
        // Through its volumes a file of the set is a result of the second pass: so it is here.
        landed.push_back({file.output->landed(), file.file->size, file.output->crc(), file.output->stood(), true});
    }
    for (size_t zip = 0; zip < stream.zips.size() && !verdict.stopped(); ++zip)
        verdict.Add(ExtractZip(context, stream.zips[zip], destination, landed, stream.volumeEntries[zip]));
    if (verdict.stopped())
        return {Outcome::Stopped, "stopped in " + OwnName(stream.zips.front())};
    if (!verdict.ok()) {
        Failure failure = verdict.firstFailure();
        failure.detail += stream.zips.size() == 1 ? "; " + OwnName(stream.zips.front()) + " was kept"
                                                  : "; the ZIP files of the set were kept";
        return failure;
    }
    // Every file that the ZIP files' data lives in is on the disk now.
    if (SourcesMayBeDeleted(context, stream.zips))
        return ConsumeSources(context, stream.zips, std::vector<JournalFile>(landed.begin() + before, landed.end()));
    return Failure();
}

}  // namespace

std::vector<ZipStream> PlanZipStreams(const UnpackContext& context, const FileList& sources,
                                      const std::string& destination)
{
    std::vector<std::string> zips;
    for (const std::string& source : sources)
        if (ClassifyName(source).kind == NameKind::Zip && GetFileAttributesW(PlatformPath(source).c_str()) !=
                                                              INVALID_FILE_ATTRIBUTES &&
            !context.journal->IsConsumed(source))
            zips.push_back(source);
    if (!context.settings.deleteTemp || zips.empty())
        return {};
    std::vector<Member> members;
    std::vector<bool> readable(zips.size());
    for (size_t zip = 0; zip < zips.size(); ++zip)
        readable[zip] = ListMembers(zips[zip], zip, members);
    // The volumes of each set, in the order they lie in the ZIP files.
    std::map<std::wstring, std::vector<Member*>> volumesOf;
    std::vector<std::wstring> order;
    std::unordered_set<std::wstring> unreadable;
    for (Member& member : members) {
        const ReleaseName name = ClassifyName(member.item.name);
        if (!name.IsVolume() || (member.item.attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (!readable[member.zip])
            unreadable.insert(name.setKey);
        if (volumesOf[name.setKey].empty())
            order.push_back(name.setKey);
        volumesOf[name.setKey].push_back(&member);
    }
    std::vector<ZippedSet> sets;
    for (const std::wstring& key : order) {
        ZippedSet set;
        if (!unreadable.count(key) && ReadSet(context, zips, volumesOf[key], destination, set))
            sets.push_back(std::move(set));
    }
    return GatherStreams(zips, members, sets, destination);
}

namespace {

// Whether `folder` holds a volume of the set that `key` names (the set key of its volumes there).
bool HoldsVolumeOf(const std::string& folder, const std::wstring& key)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(PlatformPath(folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool holds = false;
    do
        holds = ClassifyName(folder + Utf8(found.cFileName)).setKey == key;
    while (!holds && FindNextFileW(search, &found));
    FindClose(search);
    return holds;
}

// The folder that the volumes of the set whose first volume would be `first` go into: one that
// holds a volume of the set already (put there by an earlier run of the job, which took the
// first free name), or else the first free one where a file of other content has one of the
// volumes' names. Empty when the set's volumes take their own names.
std::string FolderFor(const UnpackContext& context, const std::string& first, const std::vector<const Member*>& set,
                      const std::string& destination)
{
    const std::string base = DirectoryOf(destination + first) + OwnName(first) + " volumes";
    const unsigned kMostFolders = 99;
    for (unsigned number = 1; number <= kMostFolders; ++number) {
        const std::string folder = (number == 1 ? base : base + " (" + std::to_string(number) + ")") + "\\";
        const DWORD attributes = GetFileAttributesW(PlatformPath(folder.substr(0, folder.size() - 1)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            for (const Member* member : set) {
                const std::string path = destination + member->item.name;
                if (GetFileAttributesW(PlatformPath(path).c_str()) != INVALID_FILE_ATTRIBUTES &&
                    !HoldsContent(context, path, member->item.uncompressedSize, member->item.crc))
                    return folder;
            }
            return std::string();
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && HoldsVolumeOf(folder, ClassifyName(folder + OwnName(first)).setKey))
            return folder;
    }
    return std::string();
}

}  // namespace

SetFolders PlanSetFolders(const UnpackContext& context, const FileList& sources, const std::string& destination)
{
    std::vector<Member> members;
    size_t zips = 0;
    for (const std::string& source : sources)
        if (ClassifyName(source).kind == NameKind::Zip && !context.journal->IsConsumed(source))
            ListMembers(source, zips++, members, false);
    std::map<std::wstring, std::vector<const Member*>> sets;
    for (const Member& member : members) {
        const ReleaseName name = ClassifyName(member.item.name);
        if (name.IsVolume() && !(member.item.attributes & FILE_ATTRIBUTE_DIRECTORY))
            sets[name.setKey].push_back(&member);
    }
    SetFolders plan;
    for (const auto& set : sets) {
        const std::string first = FirstVolumeOf(set.second.front()->item.name);
        const std::string folder = FolderFor(context, first, set.second, destination);
        if (folder.empty())
            continue;
        plan.folders.push_back(folder);
        for (const Member* member : set.second)
            plan.paths[FileIdentity(destination + member->item.name)] = folder + OwnName(member->item.name);
        context.Note("the volumes of " + OwnName(first) + " came out into \"" + OwnName(folder.substr(0, folder.size() - 1)) +
                     "\", beside files of their names");
    }
    return plan;
}

std::unordered_set<std::wstring> CheckedWhileRead(const UnpackContext& context, const std::vector<ZipStream>& streams,
                                                  const FileList& sources)
{
    for (const std::string& source : sources) {
        const ReleaseName name = ClassifyName(source);
        if ((name.kind != NameKind::Zip && !name.IsVolume()) || context.journal->IsConsumed(source))
            continue;
        // The first archive to be unpacked.
        for (const ZipStream& stream : streams)
            if (FileIdentity(stream.zips.front()) == FileIdentity(source)) {
                std::unordered_set<std::wstring> zips;
                for (const std::string& zip : stream.zips)
                    zips.insert(FileIdentity(zip));
                return zips;
            }
        break;
    }
    return {};
}

void TakeSfvChecks(std::vector<ZipStream>& streams, const std::vector<SfvCheck>& checks)
{
    for (const SfvCheck& check : checks)
        for (ZipStream& stream : streams)
            for (size_t zip = 0; zip < stream.zips.size(); ++zip)
                if (FileIdentity(stream.zips[zip]) == FileIdentity(check.path))
                    stream.checks[zip].push_back(check);
}

bool UnpackZipStream(const UnpackContext& context, std::vector<ZipStream>& streams, const std::string& zip,
                     const std::string& destination, std::vector<JournalFile>& landed, Failure& failure)
{
    for (ZipStream& stream : streams) {
        const bool holds = std::any_of(stream.zips.begin(), stream.zips.end(), [&](const std::string& path) {
            return FileIdentity(path) == FileIdentity(zip);
        });
        if (!holds || stream.state == ZipStream::State::Dropped)
            continue;
        if (stream.state == ZipStream::State::Taken) {
            failure = Failure();
            return true;
        }
        // The stream needs room for what comes out only; one that does not fit goes the usual way,
        // which says what it needs.
        const uint64_t margin = RoomMargin(stream.bytes);
        if (FreeSpace(destination) < (stream.bytes > UINT64_MAX - margin ? UINT64_MAX : stream.bytes + margin)) {
            // The usual way reads each ZIP file after its check: all of them are checked first.
            for (size_t i = 0; i < stream.zips.size(); ++i)
                for (const SfvCheck& check : stream.checks[i]) {
                    const Failure checked = ReadSfvCheck(check, *context.progress, *context.journal);
                    if (!checked.ok()) {
                        // None of its ZIP files is unpacked.
                        stream.state = ZipStream::State::Taken;
                        stream.checkFailed = true;
                        failure = {checked.outcome, checked.detail + ", nothing unpacked"};
                        return true;
                    }
                }
            stream.state = ZipStream::State::Dropped;
            return false;
        }
        stream.state = ZipStream::State::Taken;
        failure = RunStream(context, stream, destination, landed);
        return true;
    }
    return false;
}
