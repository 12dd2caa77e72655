// Unpacking of one verified group: the selected archives, then the archives they contained.
#pragma once

#include <string>

#include "engine/file_list.h"
#include "engine/unpack_context.h"

// Unpacks the group's sources into `destination` (ends with a backslash). Every source file
// is first read once for the host's progress display when the host set a callback.
void UnpackGroup(const UnpackContext& context, const FileList& sources, const std::string& destination);
