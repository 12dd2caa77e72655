#include "engine/zip_stream.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>

#include "base/crc32.h"
#include "base/files.h"
#include "base/names.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/release_names.h"
#include "engine/source_deletion.h"
#include "engine/temp_file_cleanup.h"
#include "engine/zip/zip_reader.h"
#include "engine/zip_stage.h"

namespace {

// A stop is heard between pieces of this size at most.
const size_t kPieceSize = 1 << 20;

// A stored name of a RAR 5 set as a path below the destination: RAR 5 separates folders with "/".
std::string LocalName(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return WindowsName(name);
}

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

// A member of a ZIP file as the plan sees it.
struct Member {
    size_t zip = 0;
    ZipItem item;
    bool stored = false;  // its data is its content (see storedDataOffset)
    uint64_t offset = 0;
};

// The members of every ZIP file that can be read entry by entry; false for one that cannot,
// which goes the usual way with all it holds.
bool ListMembers(const std::string& zip, size_t index, std::vector<Member>& members)
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
        member.stored = readable && storedDataOffset(reader, entry, member.offset) == ZipStatus::Ok;
        members.push_back(member);
    }
    closeReader(reader);
    return readable;
}

// The set of these members (a set's volumes in the order they lie in the ZIP files), when it can
// be copied straight out of them: complete, stored RAR 5 with CRC-32s, each volume numbered as it
// lies, names that stay inside the destination, and volumes that the keep list does not keep and
// that stand nowhere in the destination yet.
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
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& member = *members[i];
        if (!readers[member.zip])
            readers[member.zip].reset(new FileReader(zips[member.zip]));
        bytes.emplace_back(new MemberBytes(*readers[member.zip], member.offset, member.item.uncompressedSize));
        uint64_t number = 0;
        if (!Rar5VolumeNumber(*bytes.back(), number) || number != i)
            return false;
        volumes.push_back({OwnName(member.item.name), bytes.back().get()});
    }
    std::string error;
    bool last = false;
    if (!ReadRar5Layout(volumes, set.files, error, &last) || !last || !IsResumable(set.files))
        return false;
    for (const RarFile& file : set.files)
        if (file.startsBefore || file.name.empty() || !IsContainedName(LocalName(file.name)))
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
                meets = meets || !names.insert(FileIdentity(destination + LocalName(file.name))).second;
                stream.bytes += file.size;
            }
        if (!meets)
            plain.push_back(std::move(stream));
    }
    return plain;
}

// Copies one set out of the data of its members, member after member: each file is written to
// an output, checked part by part and whole against the CRC-32s of the volumes' headers, each
// member against the CRC-32 its ZIP file stores, and a file is committed once every member that
// holds its data has passed.
class SetCopy {
public:
    SetCopy(const UnpackContext& context, const ZipStream& stream, const ZippedSet& set, const std::string& destination,
            std::vector<JournalFile>& landed)
        : context_(context), stream_(stream), set_(set), destination_(destination), landed_(landed),
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
            const std::string name = LocalName(file.name);
            if (file.directory) {
                ensureDirectory(destination_, name);
                at = part.offset + part.size;
                continue;
            }
            if (place.second == 0) {
                const size_t slash = name.rfind('\\');
                ensureDirectory(destination_, slash == std::string::npos ? std::string() : name.substr(0, slash + 1));
                open_.reset(new OutputFile(destination_ + name));
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
        return CommitFinished();
    }

    // Reads `size` bytes of the member's data at `offset` in pieces, each reported as consumed of
    // its ZIP file and added to the member's CRC-32 and to the part's, and written to `out`.
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
            memberCrc = static_cast<uint32_t>(crc32_combine(memberCrc, crc, static_cast<z_off_t>(piece)));
            if (partCrc)
                *partCrc = static_cast<uint32_t>(crc32_combine(*partCrc, crc, static_cast<z_off_t>(piece)));
            if (out && !out->Write(buffer_.data(), piece))
                return {Outcome::CannotWrite, "cannot write " + OwnName(out->target())};
            done += piece;
            progress.Consumed(zip, piece);
            if (progress.stopped())
                return {Outcome::Stopped, "stopped in " + OwnName(zip)};
        }
        return Failure();
    }

    // The files whose last part lay in a member that passed its check: put on the disk and named.
    Failure CommitFinished()
    {
        for (auto& finished : finished_) {
            OutputFile& out = *finished.first;
            const RarFile& file = *finished.second;
            const FILETIME writeTime = {static_cast<DWORD>(file.writeTime), static_cast<DWORD>(file.writeTime >> 32)};
            if (!context_.Commit(out, nullptr, nullptr, file.hasTime ? &writeTime : nullptr))
                return {Outcome::CannotWrite, "cannot write " + LocalName(file.name)};
            landed_.push_back({out.landed(), file.size, out.crc()});
        }
        finished_.clear();
        return Failure();
    }

    const UnpackContext& context_;
    const ZipStream& stream_;
    const ZippedSet& set_;
    const std::string& destination_;
    std::vector<JournalFile>& landed_;
    std::vector<std::unique_ptr<FileReader>> readers_;  // of each ZIP file, opened when first read
    std::vector<unsigned char> buffer_;
    std::vector<std::vector<std::pair<size_t, size_t>>> inVolume_;  // file and part, in each volume's order
    std::unique_ptr<OutputFile> open_;                              // the file being written
    std::vector<std::pair<std::unique_ptr<OutputFile>, const RarFile*>> finished_;
};

Failure RunStream(const UnpackContext& context, const ZipStream& stream, const std::string& destination,
                  std::vector<JournalFile>& landed)
{
    Verdict verdict;
    const size_t before = landed.size();
    for (size_t zip = 0; zip < stream.zips.size() && !verdict.stopped(); ++zip)
        verdict.Add(ExtractZip(context, stream.zips[zip], destination, landed, stream.volumeEntries[zip]));
    for (size_t set = 0; set < stream.sets.size() && !verdict.stopped(); ++set)
        verdict.Add(SetCopy(context, stream, stream.sets[set], destination, landed).Run());
    if (verdict.stopped())
        return {Outcome::Stopped, "stopped in " + OwnName(stream.zips.front())};
    if (!verdict.ok()) {
        Failure failure = verdict.firstFailure();
        failure.detail += stream.zips.size() == 1 ? "; " + OwnName(stream.zips.front()) + " was kept"
                                                  : "; the ZIP files of the set were kept";
        return failure;
    }
    // Every file that the ZIP files' data lives in is on the disk now.
    if (SourcesMayBeDeleted(context))
        return ConsumeSources(context, stream.zips, std::vector<JournalFile>(landed.begin() + before, landed.end()));
    return Failure();
}

}  // namespace

std::vector<ZipStream> PlanZipStreams(const UnpackContext& context, const std::vector<std::string>& zips,
                                      const std::string& destination)
{
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
            stream.state = ZipStream::State::Dropped;
            return false;
        }
        stream.state = ZipStream::State::Taken;
        failure = RunStream(context, stream, destination, landed);
        return true;
    }
    return false;
}
