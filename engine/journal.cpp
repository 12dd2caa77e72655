#include "engine/journal.h"

#include <windows.h>

#include <algorithm>

#include "base/disk_gate.h"
#include "base/files.h"
#include "base/handles.h"
#include "base/names.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/sha256.h"
#include "base/text.h"
#include "engine/job_progress.h"

namespace {

// A journal is a few lines a file; anything larger is not one of ours.
const DWORD kLargest = 16u << 20;

// The job as its journal names it: the final paths of its folders, normalised.
std::string IdentityOf(const DiskRoot& source, const DiskRoot& destination)
{
    if (!source.valid() || !destination.valid())
        return std::string();
    return Utf8(source.finalPath()) + "|" + Utf8(destination.finalPath());
}

// The journal's name for the job of `identity` under `key`; empty without either.
std::string NameFor(const std::string& key, const std::string& identity)
{
    if (key.empty() || identity.empty())
        return std::string();
    const Sha256Digest keyId = HmacSha256(key, "ravelpak key id");
    const Sha256Digest jobId = HmacSha256(key, "ravelpak job\n" + identity);
    return std::string(kJournalName) + "-" + HexOf(keyId.data(), 4) + "-" + HexOf(jobId.data(), 8);
}

// The whole file open as `file`, which is no larger than a journal may be.
bool ReadOpen(HANDLE file, std::string& text)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kLargest)
        return false;
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    return text.empty() ||
           (::ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) && got == text.size());
}

bool WriteAt(HANDLE file, uint64_t offset, const std::string& text)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && FlushFileBuffers(file);
}

bool CutAt(HANDLE file, uint64_t size)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file) && FlushFileBuffers(file);
}

std::shared_ptr<void> Held(HANDLE file)
{
    return std::shared_ptr<void>(file, [](HANDLE handle) { CloseHandle(handle); });
}

// Applies `each` to every path of the records, the keys of consumed files among them.
template <typename Each> void EachPath(JournalRecords& records, Each each)
{
    for (JournalFile& file : records.verified)
        each(file.path);
    for (ConsumedFile& consumed : records.consumed) {
        each(consumed.key);
        each(consumed.path);
    }
    for (auto& output : records.outputs) {
        each(output.first);
        each(output.second.path);
    }
    for (auto* pairs : {&records.renamed, &records.named})
        for (auto& pair : *pairs) {
            each(pair.first);
            each(pair.second);
        }
    for (Par2Repair& repaired : records.repaired) {
        each(repaired.path);
        each(repaired.original);
        each(repaired.damaged);
    }
    SetUnderDeletion& set = records.set;
    for (auto* files : {&set.volumes, &set.outputs})
        for (JournalFile& file : *files)
            each(file.path);
    for (std::string& target : set.targets)
        each(target);
    each(set.entry);
    each(set.temporary);
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

std::string JournalName(const std::string& key, const DiskRoot& source, const DiskRoot& destination)
{
    return NameFor(key, IdentityOf(source, destination));
}

Journal::Journal(const std::string& destination, const std::string& sourceFolder, const std::string& key)
    : destination_(destination), sourceFolder_(sourceFolder), root_(destination)
{
    const std::string identity = IdentityOf(DiskRoot(sourceFolder), root_);
    const std::string name = NameFor(key, identity);
    if (name.empty())
        return;
    path_ = destination + name;
    owner_ = {key, identity};
}

Journal::LoadResult Journal::Load()
{
    if (path_.empty())
        return LoadResult::NoKey;
    const std::string name = OwnName(path_);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(PlatformPath(destination_ + kJournalName + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string other = Utf8(found.cFileName);
            // The journal itself, and the temporary file of its first state, are the job's own.
            if (FileIdentity(other) != FileIdentity(name) && FileIdentity(other) != FileIdentity(name + ".new"))
                others_.push_back(other);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        std::sort(others_.begin(), others_.end());
    }
    const HANDLE file = gate::OpenOwn(root_, path_, GENERIC_READ | GENERIC_WRITE | DELETE, 0);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            usable_ = true;
            return LoadResult::None;
        }
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? LoadResult::Busy
                                                                                  : LoadResult::Foreign;
    }
    std::shared_ptr<void> held = Held(file);
    std::string text;
    JournalRecords records;
    JournalState state;
    if (!ReadOpen(file, text) || !ReadJournalText(text, owner_, records, state))
        return LoadResult::Foreign;
    Absolute(records);
    if (!Confined(records))
        return LoadResult::Foreign;
    // What follows the latest state is older states, or one cut by a crash: the next state is
    // written over it.
    if (state.end < text.size())
        CutAt(file, state.end);
    Adopt(records);
    file_ = held;
    latest_ = state;
    fileSize_ = state.end;
    usable_ = true;
    return LoadResult::Loaded;
}

bool Journal::Relative(JournalRecords& records) const
{
    bool below = true;
    EachPath(records, [&](std::string& path) {
        if (path.empty())
            return;
        // The deeper folder where they nest, so that the name below it is the shorter.
        const bool deeperSource = sourceFolder_.size() > destination_.size();
        for (int pass = 0; pass < 2; ++pass) {
            const bool source = (pass == 0) == deeperSource;
            const std::string& folder = source ? sourceFolder_ : destination_;
            if (path.size() > folder.size() && FileIdentity(path.substr(0, folder.size())) == FileIdentity(folder)) {
                path = (source ? "S:" : "D:") + path.substr(folder.size());
                return;
            }
        }
        below = false;
    });
    return below;
}

void Journal::Absolute(JournalRecords& records) const
{
    EachPath(records, [&](std::string& path) {
        if (!path.empty())
            path = (path[0] == 'S' ? sourceFolder_ : destination_) + path.substr(2);
    });
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
    for (const std::string& target : set.targets)
        if (!IsBelow(target, destination))
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
    for (const JournalFile& output : outputs)
        cameOutNow_.insert(FileIdentity(output.path));
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
            if (!output.stood && NormalisedPath(output.path) == normalised)
                return true;
    return false;
}

bool Journal::CameOutInThisRun(const std::string& path) const
{
    return cameOutNow_.count(FileIdentity(path)) != 0;
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

bool Journal::Write()
{
    JournalRecords records = Records();
    if (!usable_ || !Relative(records))
        return false;
    const std::string text = WriteJournalText(records, owner_, latest_.sequence + 1);
    bool written = false;
    if (!file_) {
        written = Create(text);
    } else if (text.size() <= latest_.start) {
        // Over older states only: the latest stays whole until the new one is on the disk.
        written = WriteAt(file_.get(), 0, text) && CutAt(file_.get(), text.size());
        if (written) {
            latest_ = {latest_.sequence + 1, 0, text.size()};
            fileSize_ = text.size();
        }
    } else {
        written = WriteAt(file_.get(), fileSize_, text);
        if (written) {
            latest_ = {latest_.sequence + 1, static_cast<size_t>(fileSize_), static_cast<size_t>(fileSize_ + text.size())};
            fileSize_ += text.size();
        }
    }
    if (written && progress_)
        progress_->Again(destination_);
    return written;
}

// The journal's first state is written to a temporary file, put on the disk and renamed into
// place through the handle, which stays open: a crash leaves no journal, or a whole one.
bool Journal::Create(const std::string& text)
{
    const std::string temporary = path_ + ".new";
    // One left by a run that died is the job's own: its name is made with the key.
    gate::Delete(root_, temporary);
    const HANDLE file = gate::CreateNew(root_, temporary, GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_ATTRIBUTE_HIDDEN);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::shared_ptr<void> held = Held(file);
    if (!WriteAt(file, 0, text) || !gate::RenameOpen(root_, file, path_, false)) {
        gate::DeleteOpen(file);
        return false;
    }
    file_ = held;
    latest_ = {1, 0, text.size()};
    fileSize_ = text.size();
    return true;
}

void Journal::Remove()
{
    // A journal that stays describes a delivered group: the next run finds every consumed file's
    // outputs whole, delivers the group again and tries once more.
    if (file_)
        gate::DeleteOpen(file_.get());
    file_.reset();
    latest_ = JournalState();
    fileSize_ = 0;
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
    cameOutNow_.clear();
    renamed_.clear();
    named_.clear();
    repaired_.clear();
    set_ = SetUnderDeletion();
}
