// Deleting the first pass's output once the second pass has unpacked it: the intermediate
// archives that it consumed go, except what it wrote again and what the user keeps by extension.
#pragma once

#include <vector>

#include "engine/file_list.h"
#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// Deletes the intermediate archives and volumes that the second pass consumed and that neither
// filter keeps: RemoveOverwritten when keepOverwritten is on, RemoveKeptFiles when the keep set
// is not empty. They are consumed as sources are: the journal records first that their data
// lives on in `results`, the second pass's output. `intermediates` ends up holding the paths
// that were deleted (or failed to be). A failure, deleting nothing, when the journal cannot be
// written.
Failure TempFileCleanup(const UnpackContext& context, FileList& intermediates, const FileList& secondLevel,
                        const std::vector<JournalFile>& results);

// Takes out of `firstLevel` every path that also stands in `secondLevel`: such a file now holds
// a second-level result. Two paths that name the same file are equal, whatever separators
// (ZIP entries keep the stored "/") and letter case they are spelled with.
void RemoveOverwritten(FileList& firstLevel, const FileList& secondLevel);

// Takes out of `firstLevel` every path whose key is in the keep set: the text after the last
// dot of the file's own name, or the name without a dot, looked up case-sensitively. Other
// spellings of a kept path go too.
void RemoveKeptFiles(FileList& firstLevel, const KeepExtensionSet& keepExtensions);
