// Extraction of RAR archives and volume sets through the UnRAR library.
#pragma once

#include <string>
#include <vector>

#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// Extracts a RAR archive, or a volume set from its first volume, into `destination` (ends with
// a backslash) and appends every file that came out completely, with its size and CRC-32, to
// `landed`; once the whole set came out, `read` holds its volumes, which the set consumed. Each entry is written under a temporary name and takes its real name
// once it came out whole and is on the disk.
//
// The set is read first for its headers: a missing, locked or foreign volume, an encrypted set
// or a destination without room for it keeps the whole set untouched. The library is given
// each next volume by the set's own naming, never a name it derives by counting up other
// digits, and a volume that is not the set's next one ends the set.
//
// When sources may be deleted, the volumes go after the whole set came out, recorded in the
// group's journal first. Only a set that fits the destination no other way has its volumes
// deleted as it is unpacked, and only a stored RAR 5 set, whose unpacking the next run can
// continue from any volume should this one die (see rar_deleting_copy.h); any other set that
// does not fit is kept. A stop is heard between entries and inside them.
//
// A later volume of a set named name.partN.rar is passed over (its set is extracted from the
// first volume) and counts as delivered.
Failure ExtractRar(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                   std::vector<JournalFile>& landed, std::vector<std::string>& read);
