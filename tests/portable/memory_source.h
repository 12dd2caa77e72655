// Bytes held in memory as a ByteSource, for the tests and fuzz targets of the readers: counts
// what was read of them, and can be made to fail from an offset on.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "base/byte_source.h"

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    bool ReadAt(uint64_t offset, void* data, size_t size, size_t& got) override
    {
        if (offset + size > failFrom)
            return false;
        got = offset < bytes_.size() ? static_cast<size_t>(std::min<uint64_t>(size, bytes_.size() - offset)) : 0;
        if (got > 0)
            std::memcpy(data, bytes_.data() + offset, got);
        read += got;
        return true;
    }
    uint64_t Size() const override { return bytes_.size(); }
    const std::string& bytes() const { return bytes_; }
    uint64_t read = 0;
    uint64_t failFrom = ~0ull;

private:
    std::string bytes_;
};
