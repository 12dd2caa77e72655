// SHA-256 (FIPS 180-4) and HMAC-SHA-256 (RFC 2104): what vouches that a journal was written by
// this job with the user's key, and nobody else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
public:
    Sha256() { Reset(); }
    void Reset();
    void Update(const void* data, size_t size);
    // The digest of everything hashed since the last Reset; the object is then reset.
    Sha256Digest Final();

private:
    void Block(const uint8_t* block);

    uint32_t state_[8];
    uint64_t length_;
    uint8_t pending_[64];
    size_t pendingSize_;
};

// The HMAC-SHA-256 of `message` under `key`.
Sha256Digest HmacSha256(const std::string& key, const std::string& message);

// A digest as lower-case hexadecimal digits.
std::string HexOf(const uint8_t* bytes, size_t size);
