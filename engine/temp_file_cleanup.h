// Deleting the first pass's output once the second pass has unpacked it: the intermediate
// archives go, except what the second pass wrote again and what the user keeps by extension.
#pragma once

#include <vector>

#include "engine/file_list.h"
#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// Deletes the intermediate archives and volumes of `firstLevel` that neither filter keeps:
// RemoveOverwritten when keepOverwritten is on, RemoveKeptFiles when the keep map is not
// empty. Results (RemoveResults) are never deleted. They are consumed as sources are: the
// journal records first that their data lives on in `results`, the second pass's output.
// `firstLevel` ends up holding the paths that were deleted (or failed to be). A failure,
// deleting nothing, when the journal cannot be written.
Failure TempFileCleanup(const UnpackContext& context, FileList& firstLevel, const FileList& secondLevel,
                        const std::vector<JournalFile>& results);

// Takes out of `firstLevel` every path that is not a ZIP archive or a volume by its own name
// (ClassifyName): a film that came out of a RAR set beside an archive of extras is what the
// user unpacked for, not a temporary file, and its sources may be gone already.
void RemoveResults(FileList& firstLevel);

// Takes out of `firstLevel` every path that also stands in `secondLevel`: such a file now holds
// a second-level result. Two paths that name the same file are equal, whatever separators
// (ZIP entries keep the stored "/") and letter case they are spelled with.
void RemoveOverwritten(FileList& firstLevel, const FileList& secondLevel);

// Takes out of `firstLevel` every path whose key is in the keep map: the text after the last
// dot of the file's own name, or the name without a dot, looked up case-sensitively. Other
// spellings of a kept path go too.
void RemoveKeptFiles(FileList& firstLevel, const KeepExtensionMap& keepExtensions);
