// The bytes of a file, read at any offset: what the readers of downloaded files (RAR 5 headers,
// PAR2 packets) read through, so that they run on files and on bytes in memory alike.
#pragma once

#include <cstddef>
#include <cstdint>

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes at `offset`; `got` tells how many came (fewer at the end). False
    // when reading fails.
    virtual bool ReadAt(uint64_t offset, void* data, size_t size, size_t& got) = 0;
    virtual uint64_t Size() const = 0;
};
