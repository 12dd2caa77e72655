// Unpacking of one verified group: the selected archives, then the archives they contained.
#pragma once

#include <string>

#include "engine/file_list.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

enum class ArchiveKind { None, Zip, Rar };

// Tells an archive by its name alone, from the extension of the whole path (the text from its
// last dot): one that begins with ".zip" or ".rar" in any letter case, or is exactly ".001"
// (the first volume of a numbered set). Further volumes (.r00, .002) are not archives here:
// the library follows them from the first.
ArchiveKind ClassifyArchive(const std::string& path);

// True for an archive as ClassifyArchive tells it and for a further volume of a set: an
// extension of "r" and two digits (.r00, in any letter case) or of three digits (.002).
// These are the intermediate files of the two passes; anything else is a result.
bool IsArchiveOrVolume(const std::string& path);

// Unpacks the group's sources into `destination` (ends with a backslash), then the archives
// that they yielded, and deletes the first pass's output after a second pass, as the settings
// say. A ZIP source goes only once every entry came out; once any source of the first pass
// failed or was stopped, the first pass's output may be all that is left of a deleted source,
// so the second pass deletes nothing as it goes and nothing is cleaned up. A source that is gone
// (consumed earlier in this run) is passed over. The host's progress covers each source as the
// stages consume it. Ok when every archive of both passes came out completely; a stop ends the
// group at the next step.
Failure UnpackGroup(const UnpackContext& context, const FileList& sources, const std::string& destination);
