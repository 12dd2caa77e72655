// A result of unpacking, written under a temporary name beside its place and given its real
// name only once it came out whole and its data is on the disk. A file under a result's real
// name is then always complete, whenever the process dies or the power goes; what a dead run
// leaves is a file whose name says it is incomplete, which the next run writes again or, when
// it holds the only copy of deleted volumes, continues.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/disk_gate.h"

// How the outputs of one run of a job name their temporary files: each name carries a tag of
// the run's own, so that a later run of the job, whose journal keeps the tags, knows them for
// its own. A temporary is only ever created under a name that is free.
struct TemporaryTags {
    std::string run;                   // this run's; empty: names without a tag
    std::vector<std::string> earlier;  // of the runs of the job before this one
    // A temporary of an earlier run that holds data that exists nowhere else: never cleared.
    std::string held;
};

// What an output does with a file that stands under its real name already.
enum class Existing {
    // Kept: the output takes a numbered name beside it ("readme (2).txt"), unless that file
    // holds the same content already.
    KeepBoth,
    // Replaced: the second pass writing over a file that the first pass produced.
    Replace,
};

class OutputFile {
public:
    // `target` is the result's real path (UTF-8) below `root`, which outlives the output;
    // nothing is created yet.
    OutputFile(const DiskRoot& root, std::string target, TemporaryTags tags = TemporaryTags());
    // An output that was neither committed nor kept is deleted.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The name an output of a run tagged `tag` carries until it is complete, when it is free:
    // the real name, the tag, the number where an earlier one was taken, and ".incomplete"
    // ("film.mkv.3fa9c2d1.incomplete", "film.mkv.3fa9c2d1.2.incomplete"). A real name too long
    // to take all that and still be a name Windows makes (255 UTF-16 units) is cut short.
    static std::string TemporaryName(const std::string& target, const std::string& tag, unsigned number = 1);
    // The names an output of `target` lands at, in the order they are tried: its real name
    // (number 1), then numbered ones beside a file of that name ("readme (2).txt"), up to
    // kMostLandings.
    static std::string LandingName(const std::string& target, unsigned number);
    static const unsigned kMostLandings = 999;

    // Creates the temporary file under the first free one of its names (the temporary name,
    // then numbered ones: "film.mkv.3fa9c2d1.2.incomplete"), never opening a file that stands
    // there; the temporary file under the first name that an earlier run of the job left for
    // the same target (not the held one) goes first.
    // Of `attributes` (as an archive states them) it takes only those a file may carry:
    // read-only, hidden, system and archive, never a bit that the platform would read as a flag
    // of the call. The output is read-only only once it is finished, so that its temporary file
    // can always be continued.
    bool Create(DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    // Opens `temporary`, the temporary file of a dead run of the job for this target, to
    // continue it after its first `bytes`, whose CRC-32 is `crc`: what it holds beyond them is
    // cut off. False when it is missing or shorter.
    bool Resume(const std::string& temporary, uint64_t bytes, uint32_t crc);

    // False when the platform took fewer bytes (a full disk may say so only by the count).
    bool Write(const void* data, size_t size);
    // Writes `size` bytes at `offset` over bytes written before (offset + size <= written()),
    // then goes on at the end: a file repaired in place of some of its pieces. crc() no longer
    // tells the content after it.
    bool Patch(uint64_t offset, const void* data, size_t size);
    uint64_t written() const { return written_; }
    // The CRC-32 of everything written in order.
    uint32_t crc() const { return crc_; }
    // Puts what was written on the disk.
    bool Flush();

    // An output is committed in two steps, so that the flushes of many outputs can run at the
    // same time. First it gets its times and is put on the disk; then it is renamed to its real
    // name through the handle it was written by, and a file that stands there is dealt with as
    // `existing` says (a read-only or held file is never replaced). False when a step fails: what
    // stands under the real name stays as it was, and the temporary file goes with this object
    // unless it is kept.
    bool Finish(const FILETIME* creation, const FILETIME* access, const FILETIME* write);
    // `ownNameOnly` tries the real name alone and leaves the output waiting when a file of other
    // content stands there. A file that stands there is read to learn whether it holds the same
    // content; `reading` is called about every 512 KiB meanwhile, and false from it ends the
    // reading and fails the output.
    bool Place(Existing existing, bool ownNameOnly = false, const std::function<bool()>& reading = nullptr);
    // Where the output landed: its real name, or the numbered one beside a file of that name.
    const std::string& landed() const { return landed_; }
    // It landed on a file that stood there with the same content, which the output was then
    // discarded for: that file is not the job's, whoever wrote it, and the job never changes it.
    bool stood() const { return stood_; }
    // Closes the output and leaves it under its temporary name: it holds data that exists
    // nowhere else any more.
    void Keep();
    // The output holds data that exists nowhere else from now on: it is kept, not deleted, also
    // when this object goes before it was committed (an exception that unwinds).
    void Hold() { held_ = true; }
    // Closes and deletes the temporary file.
    void Discard();

    const std::string& target() const { return target_; }
    // The temporary file once it was created or resumed.
    const std::string& temporary() const { return temporary_; }

private:
    void Close();

    bool Rename(const std::string& to, bool replace);
    bool Renamed(const std::string& to);
    bool HoldsSame(const std::string& path, const std::function<bool()>& reading, bool& ended) const;

    const DiskRoot* root_;
    std::string target_;
    TemporaryTags tags_;
    std::string temporary_;
    std::string landed_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    DWORD attributes_ = 0;  // that the finished output carries
    bool held_ = false;
    bool stood_ = false;
    uint64_t written_ = 0;
    uint32_t crc_ = 0;
    bool open_ = false;  // created or resumed, and neither committed, kept nor discarded
    bool finished_ = false;
};

// Outputs on their way to the disk, settled by threads of their own while the caller goes on:
// each is written when it came in memory, flushed and renamed. One after another, each flush of
// a small file costs about a millisecond (the file system commits its journal for each), so a
// ZIP archive of thousands of small files would spend seconds on them; flushes that run at the
// same time share one. Under Wine each step of an output also waits for the server and for path
// lookups, which overlap when many outputs take them at once.
class CommitBatch {
public:
    // The outputs lie below `root`, which outlives the batch, and their temporary files are
    // named by `tags`. `waiting` is called about every 100 ms while the caller waits for the
    // threads, so that the host stays called; false from it (a stop) fails the outputs that are
    // still being compared with a file of their name.
    CommitBatch(const DiskRoot& root, TemporaryTags tags, std::function<bool()> waiting = nullptr);
    // Waits for the threads; call Commit first.
    ~CommitBatch();
    CommitBatch(const CommitBatch&) = delete;
    CommitBatch& operator=(const CommitBatch&) = delete;

    // An output that came out whole and is written, with its times.
    void Add(std::unique_ptr<OutputFile> output, Existing existing, const FILETIME* creation, const FILETIME* access,
             const FILETIME* write);
    // An output that came out whole and is held in memory: `target` is its real path, and it is
    // written with `attributes`.
    void Add(const std::string& target, DWORD attributes, std::vector<unsigned char> data, Existing existing,
             const FILETIME* creation, const FILETIME* access, const FILETIME* write);
    // True when so many outputs wait since the last Commit that their record should be taken.
    bool full() const;
    // Waits until every output added is settled. Outputs whose names were taken get numbered
    // names, in the order added.
    void Commit();

    // Lets go of the outputs committed, whose tickets are no longer valid: memory does not grow
    // with the number of outputs.
    void Forget();

    const DiskRoot& root() const { return *root_; }
    const TemporaryTags& tags() const { return tags_; }

    // The outputs added so far; an output's ticket is the count before it was added.
    size_t size() const { return forgotten_ + items_.size(); }
    // After Commit: whether output `ticket` was committed, and where it landed.
    bool committed(size_t ticket) const { return items_[ticket - forgotten_].committed; }
    const OutputFile& operator[](size_t ticket) const { return *items_[ticket - forgotten_].output; }

private:
    struct Item {
        std::unique_ptr<OutputFile> output;
        DWORD attributes = FILE_ATTRIBUTE_NORMAL;
        std::vector<unsigned char> data;  // of an output not written yet
        uint64_t held = 0;                // bytes of `data` when added
        uint64_t unflushed = 0;           // bytes written and not flushed when added
        bool written = false;
        Existing existing = Existing::KeepBoth;
        FILETIME times[3] = {};
        bool hasTime[3] = {};
        bool committed = false;
    };
    void Queue(Item item, Existing existing, const FILETIME* creation, const FILETIME* access, const FILETIME* write);
    void Grow();
    void Work();
    // Under the lock: `item` was settled.
    void Settled(const Item& item);
    // Under the lock: waits until `ready`, calling `waiting_` meanwhile.
    void WaitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);
    void Settle(Item& item);

    // A deque: the threads hold on to items while more are added.
    std::deque<Item> items_;
    size_t forgotten_ = 0;  // outputs let go before the first in `items_`
    size_t committed_ = 0;  // the outputs in `items_` before this one are committed

    const DiskRoot* root_;
    TemporaryTags tags_;
    std::function<bool()> waiting_;
    std::atomic<bool> stopped_{false};  // `waiting_` said so
    std::mutex mutex_;
    std::condition_variable work_;     // an output was added, or the threads are to end
    std::condition_variable settled_;  // an output was settled
    std::vector<HANDLE> threads_;
    bool stopping_ = false;
    size_t idle_ = 0;          // threads not settling an output
    size_t taken_ = 0;         // outputs that a thread took
    size_t settledCount_ = 0;  // outputs settled
    uint64_t held_ = 0;        // in memory, of outputs not settled
    uint64_t unflushed_ = 0;   // written and not flushed, of outputs not settled
};
