// Facts about files on disk that every layer asks: a file's size and the CRC-32 of its content;
// and a file read at any offset.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/byte_source.h"
#include "base/handles.h"

// A file opened for reading (others may read it too), closed with this object; the readers of
// downloaded bytes read it as a ByteSource.
class FileReader : public ByteSource {
public:
    explicit FileReader(const std::string& path);
    bool open() const { return file_.valid(); }
    // Reads up to `size` bytes at `offset`; `got` tells how many came. False when reading fails
    // or the file could not be opened.
    bool ReadAt(uint64_t offset, void* data, size_t size, size_t& got) override;
    uint64_t Size() const override;

private:
    FileHandle file_;
};

// Opens the file (or, with FILE_FLAG_BACKUP_SEMANTICS in `flags`, the folder) at `path` to read
// it or its attributes, never to change it: `access` holds only read rights. Changes go through
// the gate (disk_gate.h).
HANDLE OpenToRead(const std::string& path, DWORD access, DWORD share, DWORD flags = 0);

// The size of a file; 0 when it cannot be read.
uint64_t FileSize(const std::string& path);

// CRC-32 of a whole file, read in 512 KiB blocks; `onBlock` is called after each block and ends
// the reading with false. False when the file cannot be opened or read, or reading was ended.
bool FileCrc32(const std::string& path, uint32_t& crc, const std::function<bool()>& onBlock = nullptr);
