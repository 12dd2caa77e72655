// The packets of PAR2 files, read into a model of each recovery set they describe: its slice
// size, its files with their names, lengths, digests and slice checksums, and where each
// recovery slice's data lies. Verification (par2_verify.h) and repair (par2_repair.h) work
// from this model.
//
// What the reader guarantees, whatever the files hold:
// - A packet counts only when its MD5 matches; damaged ones are skipped and the reader scans
//   on, byte by byte, for the next packet. Packets may repeat, come in any order and in any of
//   the files; the files of one set merge into one model, and packets of other recovery sets
//   go into models of their own.
// - Every name in the model passed IsContainedName (base/names.h): a file whose name (ASCII or
//   Unicode) reaches outside the set's folder, names a drive or a device, is no valid text, or
//   is empty, stays undescribed (no name, nothing to check it by) and the set names it in its
//   problems; such a set is neither verifiable nor repairable.
// - Every number in the model is in range: the slice size is a multiple of 4 in (0, 1 GiB],
//   a set has at most 32,768 files and no file more than 32,768 slices, each file's checksums
//   list exactly its slices, and each recovery slice's data (one slice size of bytes) lies
//   inside the PAR2 file it was read from. A set whose recovery files have more than 32,768
//   slices in all is neither verifiable nor repairable.
// - A main packet counts only when the recovery set ID is its MD5, so that two main packets of
//   one set cannot differ. File IDs are taken as the set gives them; two different packets
//   about one file contradict each other, and the set is then neither verifiable nor
//   repairable.
// - Memory: what the model keeps (its bytes, and a fixed cost for each entry and each set) is
//   charged against kPar2MaxModelBytes (32 MiB) for all sets together; a packet that would go
//   past it is left out and its set names the problem. While reading, one packet body of at
//   most kPar2MaxPacketBody (1 MiB) and two buffers of 64 KiB are held; recovery data is hashed
//   but never kept. A known packet larger than that body is left out and named too.
// - Time: the bytes hashed for one file stay below twice its size plus 1 MiB, so that packets
//   that claim to overlap cannot make the reading quadratic; past that the rest of the file
//   is left unread and its report says so.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "base/md5.h"

using Par2Id = std::array<uint8_t, 16>;

constexpr uint64_t kPar2MaxSliceSize = 1ull << 30;
constexpr uint32_t kPar2MaxInputSlices = 32768;
constexpr uint32_t kPar2MaxFiles = 32768;
constexpr size_t kPar2MaxModelBytes = 32u << 20;
constexpr size_t kPar2MaxPacketBody = 1u << 20;

// Called as the reading, the verification or the repair goes on, with the bytes done since
// the last call; returning false stops the work, which then reports that it was stopped.
using Par2Progress = std::function<bool(uint64_t bytes)>;

struct Par2SliceChecksum {
    Md5Digest md5{};
    uint32_t crc = 0;  // CRC-32 as ZIP computes it; both over the slice padded with zeros
    bool operator==(const Par2SliceChecksum& o) const { return md5 == o.md5 && crc == o.crc; }
};

struct Par2File {
    Par2Id id{};
    bool inRecoverySet = false;
    // A description was read and its name accepted: the fields below hold what it says.
    bool described = false;
    std::string name;  // UTF-8, "/" (or "\") between folders, case as stored; contained
    uint64_t length = 0;
    Md5Digest md5{};          // of the whole file
    Md5Digest md5First16k{};  // of its first min(16384, length) bytes
    // Per slice, in order, when the set carries them for this file; empty otherwise.
    std::vector<Par2SliceChecksum> slices;
    bool hasSliceChecksums = false;
    // Files of the recovery set: the index of the file's first input slice in the set and its
    // number of slices, ceil(length / slice size). Files outside it have none (0, 0) in the
    // numbering, though they may carry checksums.
    uint32_t firstSlice = 0;
    uint32_t sliceCount = 0;
};

struct Par2RecoverySlice {
    uint32_t exponent = 0;
    size_t source = 0;    // index of the PAR2 file it was read from, in the list given to the reader
    uint64_t offset = 0;  // of its data (slice size bytes) in that file
};

struct Par2Set {
    Par2Id id{};
    bool hasMain = false;  // the main packet was read: the fields below are known
    uint64_t sliceSize = 0;
    // The files of the recovery set in the order of their input slices (File IDs as 128-bit
    // little-endian numbers, ascending), then the files outside it in the main packet's order.
    std::vector<Par2File> files;
    size_t recoveryFileCount = 0;
    uint32_t inputSliceCount = 0;
    // One per exponent, ascending; the first packet read of each exponent.
    std::vector<Par2RecoverySlice> recoverySlices;
    std::string creator;  // the client that made the set, as it names itself (UTF-8)
    // Why the set, or a part of it, cannot be used, one line each, for the user.
    std::vector<std::string> problems;
    // Every file of the set is described and no packet contradicts another: files can be
    // verified by their digests.
    bool verifiable = false;
    // Also every file of the recovery set has slice checksums: damaged slices can be told from
    // good ones, and rebuilt from recovery slices.
    bool repairable = false;
};

// What was met in one PAR2 file.
struct Par2FileReport {
    size_t packets = 0;         // packets used (or known and valid but left out: see the problems)
    size_t damagedPackets = 0;  // packet starts whose length or MD5 did not hold
    uint64_t skippedBytes = 0;  // bytes outside every valid packet
    bool readFailed = false;    // the source failed to read
    bool gaveUp = false;        // the bound on hashing was reached: the rest was not read
    bool stopped = false;       // the progress callback stopped the reading
};

struct Par2Reading {
    std::vector<Par2Set> sets;  // ordered by the number of packets read of each, most first
    std::vector<Par2FileReport> files;
    bool stopped = false;
};

// Reads every packet of `files`, all of them PAR2 files of one download, into the models of
// the sets they describe. `progress` hears of every byte read or hashed.
Par2Reading ReadPar2Files(const std::vector<ByteSource*>& files, const Par2Progress& progress = {});

// "12ab...": the 32 hexadecimal digits of an ID, byte 0 first, as reports name files.
std::string Par2IdText(const Par2Id& id);
