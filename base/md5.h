// MD5 (RFC 1321), computed as data streams by: PAR2 names files, slices and its own packets by
// their MD5 digests, and large files are hashed a piece at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

using Md5Digest = std::array<uint8_t, 16>;

class Md5 {
public:
    Md5() { Reset(); }
    // Starts a new digest.
    void Reset();
    // Hashes `size` more bytes of the message.
    void Update(const void* data, size_t size);
    // The digest of everything hashed since the last Reset; the object is then reset.
    Md5Digest Final();

private:
    void Block(const uint8_t* block);

    uint32_t state_[4];
    uint64_t length_;  // bytes hashed, kept modulo 2^64 as the padding records it
    uint8_t pending_[64];
    size_t pendingSize_;
};

// The digest of one piece of data.
Md5Digest Md5Of(const void* data, size_t size);
