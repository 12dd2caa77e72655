// What the engine needs to know before it deletes or reads past a downloaded archive: the rule
// that allows deleting sources, and the one way a source is deleted: recorded in the group's
// journal first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/files.h"
#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// `sources` (an archive, or the volumes of a set) may be deleted when the user asked for it, the
// job looked at each of them first (files of the selection, or its own), either the group has
// an SFV file (checked or not), a PAR2 set vouched for every one of them or sources without a
// check need not be kept, and nothing that deleting them would lose depends on them alone
// (UnpackContext::deletionSafe).
bool SourcesMayBeDeleted(const UnpackContext& context, const std::vector<std::string>& sources);

// Consumes `sources`, whose data lives on in `outputs` (which are on the disk already): the
// group's journal records it first, with what proves each source, then they are deleted.
// `alsoRecord` is a change of the journal committed with it. Nothing is deleted where the job
// has no journal it may use (Journal::usable); a failure, deleting nothing, when an output is
// no longer there with its size or the journal cannot be written.
// The first `alreadyGone` sources were deleted before (volumes of a set that went while it was
// unpacked): they are recorded without a proof, so that a file found at their path later is a
// new one, and whatever stands there now is never deleted.
Failure ConsumeSources(const UnpackContext& context, const std::vector<std::string>& sources,
                       const std::vector<JournalFile>& outputs,
                       const std::function<void(Journal&)>& alsoRecord = nullptr, size_t alreadyGone = 0);

// What proves the file at `path` later, as the job saw it before it checked or read it: its
// size and the CRC-32 this job found for it, and its size, write time and id where its file
// system keeps ids for good. Nothing for a file the job never looked at, or that is gone.
FileProof ProofFor(const UnpackContext& context, const std::string& path);

// True when the file at `path` is provably the one `proof` speaks of: its size and CRC-32, or
// its size, write time and lasting id on its file system. Reading it calls the host (a stop ends it
// with false).
bool IsProvenFile(const UnpackContext& context, const std::string& path, const FileProof& proof);

// Whether the file at `path` still has `size` bytes with the CRC-32 `crc`, read while the host
// is called about every 512 KiB; false also when a stop ended the reading.
bool HoldsContent(const UnpackContext& context, const std::string& path, uint64_t size, uint32_t crc);

// Free bytes for the user on the drive of `directory`; as good as unlimited when unknown.
uint64_t FreeSpace(const std::string& directory);
// True when both directories lie on one file system, so that deleting in one frees room in
// the other.
bool SameDrive(const std::string& a, const std::string& b);
// What to keep free beyond the bytes that a job will write.
uint64_t RoomMargin(uint64_t bytes);
