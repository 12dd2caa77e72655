// Facts about files on disk that every layer asks: a file's size and the CRC-32 of its content.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The size of a file; 0 when it cannot be read.
uint64_t FileSize(const std::string& path);

// CRC-32 of a whole file, read in 1 MiB blocks; `onBlock` is called after each block and ends
// the reading with false. False when the file cannot be opened or read, or reading was ended.
bool FileCrc32(const std::string& path, uint32_t& crc, const std::function<bool()>& onBlock = nullptr);
