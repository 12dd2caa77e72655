#include "base/output_file.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "base/crc32.h"
#include "base/files.h"
#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

// "readme.txt" as "readme (2).txt", in its own folder.
std::string NumberedName(const std::string& path, unsigned number)
{
    const std::string name = OwnName(path);
    const size_t dot = name.rfind('.');
    const size_t at = path.size() - name.size() + (dot == std::string::npos || dot == 0 ? name.size() : dot);
    return path.substr(0, at) + " (" + std::to_string(number) + ")" + path.substr(at);
}

}  // namespace

std::string OutputFile::LandingName(const std::string& target, unsigned number)
{
    return number == 1 ? target : NumberedName(target, number);
}

OutputFile::OutputFile(const DiskRoot& root, std::string target, TemporaryTags tags)
    : root_(&root), target_(std::move(target)), tags_(std::move(tags))
{
}

OutputFile::~OutputFile()
{
    if (open_ && held_)
        Keep();
    else if (open_)
        Discard();
}

std::string OutputFile::TemporaryName(const std::string& target, const std::string& tag, unsigned number)
{
    const std::string suffix = (tag.empty() ? std::string() : "." + tag) +
                               (number == 1 ? std::string() : "." + std::to_string(number)) + ".incomplete";
    const std::string own = OwnName(target);
    std::wstring name = Widen(own);
    const size_t kLongestName = 255;
    if (name.size() + suffix.size() <= kLongestName)
        return target + suffix;
    name.resize(kLongestName - suffix.size());
    // Never half of a pair of surrogates.
    if (name.back() >= 0xD800 && name.back() <= 0xDBFF)
        name.pop_back();
    return target.substr(0, target.size() - own.size()) + Utf8(name) + suffix;
}

bool OutputFile::Create(DWORD attributes)
{
    Close();
    const DWORD kFileAttributes =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    attributes_ = attributes & kFileAttributes;
    const DWORD writable = attributes_ & ~FILE_ATTRIBUTE_READONLY;
    const DWORD whileWritten = writable ? writable : FILE_ATTRIBUTE_NORMAL;
    // What a dead run of the job began for this target is of no use now: it is the job's own,
    // and goes.
    for (const std::string& tag : tags_.earlier) {
        const std::string stale = TemporaryName(target_, tag);
        if (tag.empty() || FileIdentity(stale) == FileIdentity(tags_.held))
            continue;
        // One that was finished is read-only already when its archive says so.
        FileHandle file(gate::OpenOwn(*root_, stale, DELETE | FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
        if (file.valid() && gate::SetAttributesOpen(file.get(), FILE_ATTRIBUTE_NORMAL))
            gate::DeleteOpen(file.get());
    }
    for (unsigned number = 1; number <= kMostLandings && file_ == INVALID_HANDLE_VALUE; ++number) {
        temporary_ = TemporaryName(target_, tags_.run, number);
        // DELETE access lets the output be renamed through its own handle: no second open by name.
        file_ = gate::CreateNew(*root_, temporary_, GENERIC_WRITE | DELETE, FILE_SHARE_READ, whileWritten);
        const DWORD error = GetLastError();
        if (file_ == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    written_ = 0;
    crc_ = 0;
    open_ = file_ != INVALID_HANDLE_VALUE;
    return open_;
}

bool OutputFile::Resume(const std::string& temporary, uint64_t bytes, uint32_t crc)
{
    Close();
    temporary_ = temporary;
    file_ = gate::OpenOwn(*root_, temporary_, GENERIC_WRITE | DELETE, FILE_SHARE_READ);
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size, position;
    position.QuadPart = static_cast<LONGLONG>(bytes);
    if (!GetFileSizeEx(file_, &size) || static_cast<uint64_t>(size.QuadPart) < bytes ||
        !SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
        Close();
        return false;
    }
    written_ = bytes;
    crc_ = crc;
    open_ = true;
    return true;
}

bool OutputFile::Write(const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(file_, bytes, chunk, &done, nullptr) || done != chunk)
            return false;
        crc_ = Crc32Update(crc_, bytes, chunk);
        bytes += chunk;
        size -= chunk;
        written_ += chunk;
    }
    return true;
}

bool OutputFile::Patch(uint64_t offset, const void* data, size_t size)
{
    if (offset > written_ || size > written_ - offset)
        return false;
    LARGE_INTEGER at, end;
    at.QuadPart = static_cast<LONGLONG>(offset);
    end.QuadPart = static_cast<LONGLONG>(written_);
    DWORD done = 0;
    const bool patched = SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) &&
                         WriteFile(file_, data, static_cast<DWORD>(size), &done, nullptr) && done == size;
    return SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) && patched;
}

bool OutputFile::Flush()
{
    return file_ != INVALID_HANDLE_VALUE && FlushFileBuffers(file_);
}

bool OutputFile::Finish(const FILETIME* creation, const FILETIME* access, const FILETIME* write)
{
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    // A file without the times or the read-only bit the archive stored is still whole: a
    // failure here is no reason to fail it.
    if (creation || access || write)
        SetFileTime(file_, creation, access, write);
    if (attributes_ & FILE_ATTRIBUTE_READONLY)
        gate::SetAttributesOpen(file_, attributes_);
    finished_ = FlushFileBuffers(file_) != 0;
    return finished_;
}

bool OutputFile::Place(Existing existing, bool ownNameOnly, const std::function<bool()>& reading)
{
    if (!finished_)
        return false;
    if (existing == Existing::Replace)
        return Rename(target_, true);
    const unsigned kMostNumbers = ownNameOnly ? 1 : kMostLandings;
    for (unsigned number = 1; number <= kMostNumbers; ++number) {
        const std::string name = LandingName(target_, number);
        if (Rename(name, false))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
        // A run of this job that died after this output came out may have left it there
        // already, or the user has it: either way it is there, and no second copy is made.
        bool ended = false;
        if (HoldsSame(name, reading, ended)) {
            Discard();
            landed_ = name;
            stood_ = true;
            return true;
        }
        if (ended)
            return false;
    }
    return false;
}

bool OutputFile::Rename(const std::string& to, bool replace)
{
    if (file_ != INVALID_HANDLE_VALUE) {
        if (gate::RenameOpen(*root_, file_, to, replace))
            return Renamed(to);
        // A system that does not take this form of name through the handle renames by name.
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_NAME && error != ERROR_BAD_PATHNAME)
            return false;
        Close();
    }
    return gate::Rename(*root_, temporary_, to, replace) && Renamed(to);
}

bool OutputFile::Renamed(const std::string& to)
{
    Close();
    landed_ = to;
    open_ = false;
    return true;
}

bool OutputFile::HoldsSame(const std::string& path, const std::function<bool()>& reading, bool& ended) const
{
    uint32_t crc = 0;
    const auto onBlock = [&] {
        ended = reading && !reading();
        return !ended;
    };
    return FileSize(path) == written_ && FileCrc32(path, crc, onBlock) && crc == crc_;
}

void OutputFile::Keep()
{
    Close();
    open_ = false;
}

void OutputFile::Discard()
{
    // One that stays says by its name that it is incomplete, and a later run of the job that
    // writes this output clears it away.
    if (file_ == INVALID_HANDLE_VALUE || !gate::DeleteOpen(file_)) {
        Close();
        gate::Delete(*root_, temporary_);
    }
    Close();
    open_ = false;
}

void OutputFile::Close()
{
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

CommitBatch::CommitBatch(const DiskRoot& root, TemporaryTags tags, std::function<bool()> waiting)
    : root_(&root), tags_(std::move(tags)), waiting_(std::move(waiting))
{
}

CommitBatch::~CommitBatch()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (HANDLE thread : threads_) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

void CommitBatch::Add(std::unique_ptr<OutputFile> output, Existing existing, const FILETIME* creation,
                      const FILETIME* access, const FILETIME* write)
{
    Item item;
    item.output = std::move(output);
    item.written = true;
    item.unflushed = item.output->written();
    Queue(std::move(item), existing, creation, access, write);
}

void CommitBatch::Add(const std::string& target, DWORD attributes, std::vector<unsigned char> data, Existing existing,
                      const FILETIME* creation, const FILETIME* access, const FILETIME* write)
{
    Item item;
    item.output.reset(new OutputFile(*root_, target, tags_));
    item.attributes = attributes;
    item.held = data.size();
    item.data = std::move(data);
    Queue(std::move(item), existing, creation, access, write);
}

void CommitBatch::Queue(Item item, Existing existing, const FILETIME* creation, const FILETIME* access,
                        const FILETIME* write)
{
    item.existing = existing;
    const FILETIME* times[3] = {creation, access, write};
    for (int i = 0; i < 3; ++i) {
        item.hasTime[i] = times[i] != nullptr;
        if (times[i])
            item.times[i] = *times[i];
    }
    const size_t kMostUnsettled = 256;
    const uint64_t kMostHeld = 16u << 20;
    const uint64_t kMostUnflushed = 64u << 20;
    std::unique_lock<std::mutex> lock(mutex_);
    // The reader waits while the threads are far behind: what it holds in memory, and what waits
    // for its flush, stay bounded.
    WaitFor(lock, [this] {
        return threads_.empty() ||
               (items_.size() - settledCount_ < kMostUnsettled && held_ < kMostHeld && unflushed_ < kMostUnflushed);
    });
    held_ += item.held;
    unflushed_ += item.unflushed;
    items_.push_back(std::move(item));
    Grow();
    if (threads_.empty()) {
        // No thread could be started: the output is settled here and now.
        Item& own = items_[taken_++];
        lock.unlock();
        Settle(own);
        lock.lock();
        Settled(own);
        return;
    }
    lock.unlock();
    work_.notify_one();
}

// Starts another thread when more outputs wait than threads are idle, up to 16: an archive of a
// few large files needs one or two, one of thousands of small files all of them. Under Wine each
// thread costs about a megabyte of memory.
void CommitBatch::Grow()
{
    const size_t kMostThreads = 16;
    if (items_.size() - taken_ <= idle_ || threads_.size() >= kMostThreads)
        return;
    const auto work = [](void* batch) -> DWORD {
        static_cast<CommitBatch*>(batch)->Work();
        return 0;
    };
    const HANDLE thread = CreateThread(nullptr, 0, work, this, 0, nullptr);
    if (!thread)
        return;
    threads_.push_back(thread);
    ++idle_;
}

void CommitBatch::Work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || taken_ < items_.size(); });
        if (taken_ == items_.size())
            return;
        Item& item = items_[taken_++];
        --idle_;
        lock.unlock();
        Settle(item);
        lock.lock();
        ++idle_;
        Settled(item);
    }
}

void CommitBatch::Settled(const Item& item)
{
    held_ -= item.held;
    unflushed_ -= item.unflushed;
    ++settledCount_;
    settled_.notify_all();
}

void CommitBatch::WaitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready)
{
    while (!settled_.wait_for(lock, std::chrono::milliseconds(100), ready))
        if (waiting_) {
            lock.unlock();
            if (!waiting_())
                stopped_ = true;
            lock.lock();
        }
}

void CommitBatch::Forget()
{
    std::lock_guard<std::mutex> lock(mutex_);
    forgotten_ += committed_;
    items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(committed_));
    taken_ -= committed_;
    settledCount_ -= committed_;
    committed_ = 0;
}

bool CommitBatch::full() const
{
    const size_t kMostWaiting = 4096;
    return items_.size() - committed_ >= kMostWaiting;
}

// On one of the threads: writes an output held in memory, flushes it and gives it its own name
// when that is free.
void CommitBatch::Settle(Item& item)
{
    OutputFile& output = *item.output;
    if (!item.written) {
        item.written = output.Create(item.attributes) && output.Write(item.data.data(), item.data.size());
        std::vector<unsigned char>().swap(item.data);
        if (!item.written)
            return;
    }
    if (output.Finish(item.hasTime[0] ? &item.times[0] : nullptr, item.hasTime[1] ? &item.times[1] : nullptr,
                      item.hasTime[2] ? &item.times[2] : nullptr))
        item.committed = output.Place(item.existing, true, [this] { return !stopped_; });
}

void CommitBatch::Commit()
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        WaitFor(lock, [this] { return settledCount_ == items_.size(); });
    }
    // The names that wait together differ, also as temporary names, so the threads never race
    // for one. An output whose name is taken gets a numbered one here, in the order the outputs
    // were added, after every other output took its own: which name each takes does not depend
    // on the threads.
    for (size_t i = committed_; i < items_.size(); ++i)
        if (!items_[i].committed && items_[i].written)
            items_[i].committed = items_[i].output->Place(items_[i].existing, false, [this] {
                stopped_ = stopped_ || (waiting_ && !waiting_());
                return !stopped_;
            });
    committed_ = items_.size();
}
