// Extraction of one ZIP archive into a destination directory, announcing each entry to the
// host and recording every path it handled.
#pragma once

#include <string>

#include "engine/file_list.h"

// Extracts every entry of the archive below `destination` (ends with a backslash), in
// central-directory order. Before each entry the host is told the archive's directory + the
// entry's name; a stop answer ends the stage before that entry. Each handled entry's
// destination path is appended to `output`, also when its extraction failed, and also for
// directories. True when the archive was extracted completely: it opened, every entry was
// written without error, every entry's data matched its stored CRC-32, and the host did not
// stop the stage.
bool ExtractZip(const std::string& archivePath, const std::string& destination, FileList& output);
