// Where the data of each file of a RAR 4 volume set lies (the format that RAR 2.x to 4.x write),
// read from the volumes' own headers as engine/rar5_layout.h reads RAR 5 ones, and described
// alike: a stored file can then be continued from any volume on.
//
// What differs from RAR 5 is left to the caller in the description: names come with "/" as the
// separator whatever the volumes hold, and times are local (RarFile::localTime).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "engine/rar_layout.h"

// Reads the headers of `volumes`, consecutive volumes of one set in order, and lists their
// files with the parts of each; every part lies inside its volume. False, with the reason in
// `error`, when a volume cannot be read or is no RAR 4 volume, a header fails its CRC or
// reaches past the volume's end, the headers are encrypted, the set is solid, or a file that
// goes on after a volume does not go on at the start of the next. `lastVolume`, when given,
// tells whether the end block of the last volume read says that no volume follows it.
bool ReadRar4Layout(const std::vector<RarVolume>& volumes, std::vector<RarFile>& files, std::string& error,
                    bool* lastVolume = nullptr);

// The number of a RAR 4 volume, counted from 0 for the first volume: the one that its end block
// carries, or 0 for a volume whose main header says that it is the first one. False when the
// bytes are no RAR 4 volume or tell no number (volumes of RAR 2.x carry none).
bool Rar4VolumeNumber(ByteSource& volume, uint64_t& number);
