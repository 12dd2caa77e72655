#include "engine/journal.h"

#include <windows.h>

#include <algorithm>

#include "base/disk_gate.h"
#include "base/files.h"
#include "base/handles.h"
#include "base/names.h"
#include "base/output_file.h"
#include "base/text.h"
#include "engine/job_progress.h"

namespace {

// A journal is a few lines a file; anything larger is not one of ours.
const DWORD kLargest = 16u << 20;

bool ReadWhole(const std::string& path, std::string& text, bool& exists)
{
    FileHandle file(OpenToRead(path, GENERIC_READ, FILE_SHARE_READ));
    const DWORD error = GetLastError();
    exists = file.valid() || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND);
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

// True when `path` names something below `folder`.
bool IsBelow(const std::string& path, const std::wstring& folder)
{
    const std::wstring resolved = NormalisedPath(path);
    return !folder.empty() && resolved.size() > folder.size() && resolved.compare(0, folder.size(), folder) == 0;
}

// True when `temporary` is a name that an output of `entry` is written to (see
// OutputFile::TemporaryName), untagged or under the tag of one of `runs`. A record naming any
// other file would have a rerun continue that file.
bool IsTemporaryOf(const std::string& temporary, const std::string& entry, const std::vector<std::string>& runs)
{
    const std::string kEnd = ".incomplete";
    if (temporary.size() <= kEnd.size() || temporary.compare(temporary.size() - kEnd.size(), kEnd.size(), kEnd) != 0)
        return false;
    // A number where the first name was taken.
    const std::string rest = temporary.substr(0, temporary.size() - kEnd.size());
    const size_t dot = rest.rfind('.');
    unsigned number = 1;
    if (dot != std::string::npos && rest.size() - dot - 1 <= 3 && dot + 1 < rest.size() &&
        rest.find_first_not_of("0123456789", dot + 1) == std::string::npos)
        number = static_cast<unsigned>(std::stoul(rest.substr(dot + 1)));
    std::vector<std::string> tags = runs;
    tags.push_back(std::string());
    for (const std::string& tag : tags)
        for (unsigned candidate : {1u, number})
            if (FileIdentity(OutputFile::TemporaryName(entry, tag, candidate)) == FileIdentity(temporary))
                return true;
    return false;
}

}  // namespace

Journal::Journal(const std::string& destination, const std::string& sourceFolder)
    : path_(destination + kJournalName), destination_(destination), sourceFolder_(sourceFolder), root_(destination)
{
}

Journal::LoadResult Journal::Load()
{
    std::string text;
    bool exists = false;
    JournalRecords records;
    if (!ReadWhole(path_, text, exists) && !exists)
        return LoadResult::None;
    if (!text.empty() && ReadJournalText(text, records) && Confined(records)) {
        Adopt(records);
        return LoadResult::Loaded;
    }
    // Out of the way, under the first free name, so that a fresh journal takes its place and
    // one set aside before stays; one that cannot be moved is replaced by the next commit all
    // the same.
    for (unsigned number = 1; number <= 999; ++number) {
        unusablePath_ = path_ + ".unusable" + (number == 1 ? std::string() : "." + std::to_string(number));
        if (gate::Rename(root_, path_, unusablePath_))
            break;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            break;
    }
    return LoadResult::Unusable;
}

bool Journal::Confined(const JournalRecords& records) const
{
    const std::wstring destination = NormalisedPath(destination_);
    const std::wstring source = NormalisedPath(sourceFolder_);
    const auto either = [&](const std::string& path) { return IsBelow(path, destination) || IsBelow(path, source); };
    for (const JournalFile& file : records.verified)
        if (!either(file.path))
            return false;
    for (const ConsumedFile& consumed : records.consumed)
        if (!either(consumed.path))
            return false;
    for (const auto& output : records.outputs)
        if (!IsBelow(output.second.path, destination))
            return false;
    // Names are given and taken only in the download's folder.
    for (const auto* pairs : {&records.renamed, &records.named})
        for (const auto& pair : *pairs)
            if (!IsBelow(pair.first, source) || !IsBelow(pair.second, source))
                return false;
    for (const Par2Repair& repaired : records.repaired)
        if (!IsBelow(repaired.path, source) || (!repaired.original.empty() && !IsBelow(repaired.original, source)) ||
            (!repaired.damaged.empty() && !IsBelow(repaired.damaged, source)))
            return false;
    // A damaged file is kept beside its repaired one, under its name and ".damaged" alone: a
    // record naming any other file would have a rerun move that file over the repaired name.
    for (const Par2Repair& repaired : records.repaired)
        if (!repaired.damaged.empty() && NormalisedPath(repaired.damaged) != NormalisedPath(repaired.path + ".damaged"))
            return false;
    const SetUnderDeletion& set = records.set;
    if (!set.entry.empty() && (!IsBelow(set.entry, destination) || !IsTemporaryOf(set.temporary, set.entry, records.runs)))
        return false;
    for (const JournalFile& volume : set.volumes)
        if (!either(volume.path))
            return false;
    for (const JournalFile& output : set.outputs)
        if (!IsBelow(output.path, destination))
            return false;
    return true;
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

bool Journal::KnownCrc(const std::string& path, uint64_t size, uint32_t& crc) const
{
    const std::wstring identity = FileIdentity(path);
    const auto verified = verified_.find(identity);
    if (verified != verified_.end() && verified->second.size == size) {
        crc = verified->second.crc;
        return true;
    }
    for (const auto& outputs : outputs_)
        for (const JournalFile& output : outputs.second)
            if (output.size == size && FileIdentity(output.path) == identity) {
                crc = output.crc;
                return true;
            }
    return false;
}

void Journal::AddConsumed(const std::vector<std::pair<std::string, FileProof>>& sources,
                          const std::vector<JournalFile>& outputs)
{
    if (sources.empty())
        return;
    const std::string& key = sources.front().first;
    for (const auto& source : sources) {
        const auto added = consumedBy_.emplace(FileIdentity(source.first), Claim{key, source.second});
        if (added.second)
            consumedOrder_.push_back(source.first);
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

const FileProof* Journal::ProofOf(const std::string& path) const
{
    const auto found = consumedBy_.find(FileIdentity(path));
    return found == consumedBy_.end() ? nullptr : &found->second.proof;
}

std::vector<JournalFile> Journal::DropConsumed(const std::string& path)
{
    const auto found = consumedBy_.find(FileIdentity(path));
    if (found == consumedBy_.end())
        return {};
    const std::string key = found->second.key;
    consumedBy_.erase(found);
    for (auto at = consumedOrder_.begin(); at != consumedOrder_.end(); ++at)
        if (FileIdentity(*at) == FileIdentity(path)) {
            consumedOrder_.erase(at);
            break;
        }
    for (const auto& claim : consumedBy_)
        if (claim.second.key == key)
            return {};
    std::vector<JournalFile> dropped = outputs_[key];
    outputs_.erase(key);
    return dropped;
}

std::vector<JournalFile> Journal::OutputsOf(const std::string& path) const
{
    const auto found = consumedBy_.find(FileIdentity(path));
    if (found == consumedBy_.end())
        return {};
    const auto outputs = outputs_.find(found->second.key);
    return outputs == outputs_.end() ? std::vector<JournalFile>() : outputs->second;
}

bool Journal::IsOutput(const std::string& path) const
{
    const std::wstring normalised = NormalisedPath(path);
    for (const auto& outputs : outputs_)
        for (const JournalFile& output : outputs.second)
            if (NormalisedPath(output.path) == normalised)
                return true;
    return false;
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

JournalRecords Journal::Records() const
{
    JournalRecords records;
    records.runs = runs_;
    for (const auto& file : verified_)
        records.verified.push_back(file.second);
    for (const std::string& source : consumedOrder_) {
        const Claim& claim = consumedBy_.at(FileIdentity(source));
        records.consumed.push_back({claim.key, source, claim.proof});
    }
    for (const auto& outputs : outputs_)
        for (const JournalFile& file : outputs.second)
            records.outputs.emplace_back(outputs.first, file);
    records.renamed = renamed_;
    records.named = named_;
    records.repaired = repaired_;
    records.set = set_;
    return records;
}

void Journal::Adopt(const JournalRecords& records)
{
    Clear();
    runs_ = records.runs;
    for (const JournalFile& file : records.verified)
        AddVerified(file);
    for (const ConsumedFile& consumed : records.consumed)
        if (consumedBy_.emplace(FileIdentity(consumed.path), Claim{consumed.key, consumed.proof}).second)
            consumedOrder_.push_back(consumed.path);
    for (const auto& output : records.outputs)
        outputs_[output.first].push_back(output.second);
    renamed_ = records.renamed;
    named_ = records.named;
    repaired_ = records.repaired;
    set_ = records.set;
}

bool Journal::Record(const std::function<void(Journal&)>& change)
{
    Journal next = *this;
    change(next);
    if (!next.Write())
        return false;
    *this = std::move(next);
    return true;
}

bool Journal::Write() const
{
    const bool done = gate::ReplaceOwn(root_, path_, WriteJournalText(Records()), FILE_ATTRIBUTE_HIDDEN);
    if (done && progress_)
        progress_->Again(destination_);
    return done;
}

void Journal::Remove()
{
    // A journal that stays describes a delivered group: the next run finds every consumed file's
    // outputs whole, delivers the group again and tries once more.
    gate::Delete(root_, path_);
    Clear();
}

bool Journal::MattersOnlyTo(const std::string& run) const
{
    return (runs_.empty() || runs_ == std::vector<std::string>{run}) && consumedBy_.empty() && outputs_.empty() &&
           renamed_.empty() && named_.empty() && repaired_.empty() && set_.volumes.empty();
}

void Journal::Clear()
{
    runs_.clear();
    verified_.clear();
    consumedBy_.clear();
    outputs_.clear();
    consumedOrder_.clear();
    renamed_.clear();
    named_.clear();
    repaired_.clear();
    set_ = SetUnderDeletion();
}
