// Extraction of one ZIP archive into a destination directory.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// Extracts every entry of the archive below `destination` (ends with a backslash), in
// central-directory order, and appends every file that came out completely, with its size and
// CRC-32, to `landed`. Before each entry the host is told the archive's directory + the
// entry's name; the archive's bytes are reported as its entries are written, and a stop is
// heard between blocks. Nothing is started when the destination's drive has not room for the
// whole archive. An entry that does not come out whole (damaged, short of room, stopped) is
// not left under its name. The "__MACOSX" folder of the Finder of macOS is passed over (see
// IsFinderMetadata), and an entry that names the destination itself is not recorded. Ok when
// every other entry was written and matched its stored CRC-32; an entry that needs a password
// is Encrypted, as an encrypted RAR set is, and the archive stays. The entries in `passOver`
// (volumes that are copied straight into their files, see zip_stream.h) are left out: neither
// written, reported nor counted for room.
Failure ExtractZip(const UnpackContext& context, const std::string& archivePath, const std::string& destination,
                   std::vector<JournalFile>& landed, const std::unordered_set<int32_t>& passOver = {});
