// Stored RAR sets (RAR 5 and RAR 4) whose volumes lie in a group's ZIP files, copied straight
// from the ZIP members' data into their files, for sets whose volumes the settings would delete
// after the second pass anyway: the film is written once, and no volume is. Each file is copied
// by the volumes' own headers and checked part by part against the CRC-32s they carry, and each
// member against the CRC-32 that its ZIP file stores (the parts do not cover the volumes'
// headers).
// The ZIP files go only once every file that their data lives in is whole and on the disk.
// Anything the headers and the ZIP files do not describe plainly goes the usual way.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/file_list.h"
#include "engine/rar4_layout.h"
#include "engine/rar5_layout.h"
#include "engine/sfv.h"
#include "engine/unpack_context.h"

// One volume of a set: a stored member of a ZIP file.
struct ZipVolume {
    size_t zip = 0;  // in ZipStream::zips
    int32_t entry = 0;
    std::string name;     // the member's name, as the ZIP stage names it
    uint64_t offset = 0;  // of its data in the ZIP file
    uint64_t size = 0;
    uint32_t crc = 0;  // as the ZIP file stores it
};

struct ZippedSet {
    std::vector<ZipVolume> volumes;  // in the set's order
    std::vector<RarFile> files;
};

// ZIP files that come out together: the sets whose volumes they hold, and every ZIP file that
// holds a volume of one of them.
struct ZipStream {
    enum class State { Planned, Taken, Dropped };
    std::vector<std::string> zips;                           // in the order they are unpacked
    std::vector<std::unordered_set<int32_t>> volumeEntries;  // of each ZIP file
    std::vector<ZippedSet> sets;
    uint64_t bytes = 0;                // what comes out: the sets' files and the other members
    // Of each ZIP file: what the SFV files list for it, checked from the stream's own read.
    std::vector<std::vector<SfvCheck>> checks;
    State state = State::Planned;
    // One of its ZIP files did not match its SFV line: nothing of the group may come out.
    bool checkFailed = false;
};

// The streams among the group's `sources` (in the order they are unpacked into `destination`):
// of its ZIP files that are there and that no earlier run consumed. None when the settings keep
// temporary files; a set whose volumes the keep list names, that is not stored RAR 5 or RAR 4
// with CRC-32s throughout, whose members are not stored, in order, unencrypted and complete, or
// whose files' names meet the ZIP files' other members, is not in one.
std::vector<ZipStream> PlanZipStreams(const UnpackContext& context, const FileList& sources,
                                      const std::string& destination);

// The ZIP files whose SFV check is made from the read that unpacks them (by FileIdentity): those
// of the stream that comes first among the group's archives. Every other source is checked
// before anything is unpacked, and the stream consumes its ZIP files only once they matched, so
// that no source goes before every file of the group matched.
std::unordered_set<std::wstring> CheckedWhileRead(const UnpackContext& context, const std::vector<ZipStream>& streams,
                                                  const FileList& sources);

// Gives each check that the SFV files left for later to the stream that reads its file.
void TakeSfvChecks(std::vector<ZipStream>& streams, const std::vector<SfvCheck>& checks);

// Unpacks `zip` when it belongs to one of `streams`: at its first ZIP file the stream comes out
// whole (the other members as the ZIP stage extracts them, the sets' files from the volumes'
// data), and its ZIP files are consumed together when the settings allow; at its other ones it
// is done. `landed` gets every file that came out whole. The stream's SFV checks are settled
// before anything of it takes its real name; when one fails, nothing of it is named and the
// stream is marked (checkFailed), which ends its group. False when `zip` goes the usual way: it is in no
// stream, or its stream does not fit the destination's free room (its checks are then made at
// once, before any of its ZIP files is unpacked).
bool UnpackZipStream(const UnpackContext& context, std::vector<ZipStream>& streams, const std::string& zip,
                     const std::string& destination, std::vector<JournalFile>& landed, Failure& failure);

// Where the volumes of the sets in the group's ZIP files come out when a file of another content
// stands under one of a set's names in the destination: all of that set's volumes in a folder
// of their own beside it ("NAME.part1.rar volumes"), so that they stay one set, which the
// second pass unpacks from there into the destination. A later run of the job finds the folder
// again by the volumes in it.
struct SetFolders {
    // By FileIdentity of the path a member would take in the destination: the path it takes.
    std::unordered_map<std::wstring, std::string> paths;
    // The folders the sets' volumes go into: they go when the volumes have gone.
    std::vector<std::string> folders;
};
SetFolders PlanSetFolders(const UnpackContext& context, const FileList& sources, const std::string& destination);
