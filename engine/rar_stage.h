// Extraction of RAR archives and volume sets through the UnRAR library.
#pragma once

#include <string>

#include "engine/file_list.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// Extracts a RAR archive, or a volume set from its first volume, into `destination` (ends with
// a backslash) and appends the path of every entry that came out completely to `output`.
//
// The set is read first for its headers: a missing, locked or foreign volume, an encrypted set
// or a destination without room for it keeps the whole set untouched. The library is given
// each next volume by the set's own naming, never a name it derives by counting up other
// digits, and a volume that is not the set's next one ends the set.
//
// When sources may be deleted, each volume is deleted as soon as the library has moved past it
// where the set's data is known to be intact beforehand: every volume matched the group's SFV
// file, or, for a set that fits the destination no other way, a test pass of the set succeeded.
// That lasts while every entry so far came out and the current one is landing on disk; the
// first failure ends all deletion, and the volumes left keep their own names. Otherwise the
// volumes go only after the whole set came out. A stop is heard between entries and inside
// them, except in a set whose deletion has begun: that one is finished first.
//
// A later volume of a set named name.partN.rar is passed over (its set is extracted from the
// first volume) and counts as delivered.
Failure ExtractRar(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                   FileList& output);
