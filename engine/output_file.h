// A result of unpacking, written under a temporary name beside its place and given its real
// name only once it came out whole and its data is on the disk. A file under a result's real
// name is then always complete, whenever the process dies or the power goes; what a dead run
// leaves is a file whose name says it is incomplete, which the next run writes again or, when
// it holds the only copy of deleted volumes, continues.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

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
    // `target` is the result's real path (UTF-8); nothing is created yet.
    explicit OutputFile(std::string target);
    // An output that was neither committed nor kept is deleted.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The name an output carries until it is complete: the real name + ".incomplete".
    static std::string TemporaryName(const std::string& target);

    // Creates the temporary file afresh (a stale one of a dead run is replaced) with these
    // attributes, which it keeps under its real name.
    bool Create(DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    // Opens the temporary file of a dead run to continue it after its first `bytes`, whose
    // CRC-32 is `crc`: what it holds beyond them is cut off. False when it is missing or shorter.
    bool Resume(uint64_t bytes, uint32_t crc);

    // False when the platform took fewer bytes (a full disk may say so only by the count).
    bool Write(const void* data, size_t size);
    uint64_t written() const { return written_; }
    // The CRC-32 of everything written.
    uint32_t crc() const { return crc_; }
    // Puts what was written on the disk.
    bool Flush();

    // Gives the output its times, puts it on the disk and renames it to its real name; a file
    // that stands there is dealt with as `existing` says (a read-only or held file is never
    // replaced). False when any step fails: what stands under the real name stays as it was, and
    // the temporary file goes with this object unless it is kept.
    bool Commit(Existing existing, const FILETIME* creation = nullptr, const FILETIME* access = nullptr,
                const FILETIME* write = nullptr);
    // Where the output landed: its real name, or the numbered one beside a file of that name.
    const std::string& landed() const { return landed_; }
    // Closes the output and leaves it under its temporary name: it holds data that exists
    // nowhere else any more.
    void Keep();
    // Closes and deletes the temporary file.
    void Discard();

    const std::string& target() const { return target_; }
    const std::string& temporary() const { return temporary_; }

private:
    void Close();

    bool Rename(const std::string& to, DWORD flags);
    bool HoldsSame(const std::string& path) const;

    std::string target_;
    std::string temporary_;
    std::string landed_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t written_ = 0;
    uint32_t crc_ = 0;
    bool open_ = false;  // created or resumed, and neither committed, kept nor discarded
};

// Puts a file that was written earlier on the disk; false when it cannot be opened or flushed.
bool FlushExistingFile(const std::string& path);
