// Extraction of RAR archives and volume sets through the UnRAR library.
#pragma once

#include <string>

#include "engine/file_list.h"
#include "engine/unpack_context.h"

// Extracts a RAR archive, or a volume set from its first volume, into `destination` (ends with
// a backslash, or is empty for the current directory) and appends the path of every entry
// that the library extracted to `output`. When sources may be deleted, the set is read under
// renamed volumes and each volume is deleted once the library has finished it; the last one
// only when the whole set was extracted, otherwise it keeps its own name. A set that cannot be
// read under renamed volumes (a file with the prefix and a name of the set exists, the first
// volume cannot be renamed, or a RAR 5 set has old-style names) is read under its own names,
// and nothing of it is deleted.
//
// True when the archive was extracted completely: every entry extracted and the end of the set
// reached. A later volume of a set named name.partN.rar is passed over, because its set is
// extracted from the first volume; that counts as complete too.
bool ExtractRar(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                FileList& output);
