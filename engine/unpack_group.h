// Unpacking of one verified group: the selected archives, then the archives they contained.
#pragma once

#include <string>

#include "engine/file_list.h"
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
// that they yielded, and deletes the first pass's output after a second pass in which every
// extraction succeeded, as the settings say. Every source file is first read once for the
// host's progress display when the host set a callback. A source that cannot be opened ends
// the group; one that is gone (consumed earlier in this run) is passed over. True when the
// group was unpacked completely: no source ended it and every archive of both passes was
// extracted completely.
bool UnpackGroup(const UnpackContext& context, const FileList& sources, const std::string& destination);
