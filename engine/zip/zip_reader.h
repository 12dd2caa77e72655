// Reads one ZIP archive entry by entry and writes its entries below a base directory, over
// minizip (archive structure) and zlib (raw DEFLATE). Every operation returns a ZipStatus and
// accepts a null reader, for which it returns BadArgument and does nothing else.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/output_file.h"

enum class ZipStatus : uint32_t {
    Ok = 0,
    // The archive cannot be opened or is no readable ZIP archive (also a multi-disk one, or
    // one whose central directory holds fewer records than it announces); or the output file
    // cannot be created.
    CannotOpen = 0x200,
    WriteFailed = 0x400,  // writing the output file failed
    // The entry's local header disagrees with its central-directory record, or its data is
    // neither stored (method 0) nor deflated (method 8).
    CorruptEntry = 0x700,
    // The entry's central-directory record or its local extra field cannot be read.
    ReadFailed = 0x800,
    // The check byte of an encrypted entry's 12-byte header does not match the empty password.
    BadPassword = 0x1000,
    BadArgument = 0x10000,  // null reader, index out of range, empty base directory
    // The name would reach outside the base directory or name a device (see IsContainedName).
    UnsafeName = 0x40000,
    // Decompression failed, or the entry's data ended before the entry's size was reached.
    InflateFailed = 0x5000000,
    // The caller's block observer asked to stop.
    Stopped = 0x8000000,
};

// One entry as the extraction sees it.
struct ZipItem {
    // The entry's position in the central directory, from 0; for the summary (index -1) the
    // number of entries.
    int32_t index = 0;
    // The stored name in UTF-8 after sanitising, separators as stored; a directory keeps its
    // trailing separator.
    std::string name;
    // Win32 attribute bits: read-only, hidden, system, directory, archive.
    uint32_t attributes = 0;
    FILETIME accessTime = {};
    FILETIME creationTime = {};
    FILETIME writeTime = {};
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t crc = 0;  // the CRC-32 of the entry's data, as stored
};

struct ZipReader;

// How an entry's file meets a file that stands under its name (see Existing), the batch that
// commits it, and where it landed. A file that came out whole is handed to the batch (`queued`,
// as its output number `ticket`; a small entry with its data in memory, for the batch to write),
// and where it lands (its name, or a numbered one beside a file of other content) is known once
// the batch was committed. A file that was there already lands where it stands (`landed`).
struct ZipPlacement {
    Existing existing = Existing::KeepBoth;
    CommitBatch* batch = nullptr;
    std::string landed;
    // The entry was not written: a file of its content stood under its name (see OutputFile::stood).
    bool stood = false;
    bool queued = false;
    size_t ticket = 0;
};

// Opens the archive (read sharing only) and checks that its central directory holds every
// record that it announces. Null when that fails. The base directory starts as the process's
// current directory.
ZipReader* openReader(const std::string& archivePath);

// Target names are resolved against `directory`, to which a backslash is added when it ends
// in no separator. Paths are UTF-8, of any length the file system takes.
ZipStatus setBaseDirectory(ZipReader* reader, const std::string& directory);

// Index -1 gives the summary; 0 to count-1 the entry. A failed call leaves index 0, an empty
// name and size 0. Names that stay unsafe after sanitising are refused with UnsafeName.
ZipStatus getItem(ZipReader* reader, int32_t index, ZipItem& item);

// Writes entry `index` to base directory + `targetName` (creating missing directories), or
// creates that directory for a directory entry. The file gets the entry's attributes at
// creation and its times once all data is written. When the entry's record cannot be read,
// or the target name is unsafe or too long, nothing is written. `onBlock`, when given, is
// told the bytes of each block read and stops the entry with false. A file that does not come
// out whole (its data fails, a write fails or falls short, it is stopped) is not handed to the
// batch, and nothing incomplete ever stands under the entry's name. `dataIntact`, when given,
// tells whether the data has the entry's size and stored CRC-32; an entry whose CRC does not
// match is not handed over either, and the call still returns Ok. The batch writes the file
// under a temporary name and renames it to its own once it is on the disk, so that a file under
// that name is always complete. A file that holds the entry's data already (a run that died
// after writing it) is left as it is; one of other content is kept, or replaced, as
// `placement` says.
ZipStatus extractItem(ZipReader* reader, int32_t index, const std::string& targetName, bool* dataIntact,
                      const std::function<bool(uint64_t)>& onBlock, ZipPlacement& placement);

// Where the data of entry `index` starts in the archive file, for an entry whose data is its
// content as it lies there: stored (method 0), not encrypted, its local header matching its
// central-directory record, its data inside the archive. Other entries give CorruptEntry.
ZipStatus storedDataOffset(ZipReader* reader, int32_t index, uint64_t& offset);

// The sum of the entries' uncompressed sizes (entries of ZIP64 archives may exceed 4 GiB);
// UINT64_MAX when the sum does not fit.
uint64_t totalSize(ZipReader* reader);

// Closes the archive and frees the reader.
ZipStatus closeReader(ZipReader* reader);

// Creates every missing directory of `path` below `root` from the outermost inwards. Failures
// to create are not reported (they show when a file is created there).
ZipStatus ensureDirectory(const DiskRoot& root, const std::string& path);
