// The RAR 5 layout of volumes on disk: engine/rar5_layout.h read through files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/rar5_layout.h"

// ReadRar5Layout over the volume files at `paths`, in order; a failure names the volume by its
// file name.
bool ReadRar5Layout(const std::vector<std::string>& paths, std::vector<RarFile>& files, std::string& error);

// Rar5VolumeNumber of the volume file at `path`; false when it cannot be read.
bool Rar5VolumeNumber(const std::string& path, uint64_t& number);
