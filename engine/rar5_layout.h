// Where the data of each file of a RAR 5 volume set lies, read from the volumes' own headers
// without the UnRAR library, which can start a file only at its first volume. A stored file's
// data is its content, so with this layout a file can be continued from any volume on: what
// the deletion of volumes during unpacking relies on when a run dies halfway.
//
// Only bytes are read here, through ByteSource: the volumes on disk are read through the
// adapter of engine/rar5_files.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_source.h"
#include "engine/rar_layout.h"

// Reads the headers of `volumes`, consecutive volumes of one set in order, and lists their
// files with the parts of each; every part lies inside its volume. False, with the reason in
// `error`, when a volume cannot be read or is no RAR 5 volume, a header fails its CRC or
// reaches past the volume's end, the headers are encrypted, or a file that goes on after a
// volume does not go on at the start of the next. `lastVolume`, when given, tells whether the
// end header of the last volume read says that no volume follows it.
bool ReadRar5Layout(const std::vector<RarVolume>& volumes, std::vector<RarFile>& files, std::string& error,
                    bool* lastVolume = nullptr);

// The number that a RAR 5 volume carries in its main header, counted from 0 for the first
// volume. False when the bytes are no RAR 5 volume or its header cannot be read (older volumes
// carry no such number).
bool Rar5VolumeNumber(ByteSource& volume, uint64_t& number);
