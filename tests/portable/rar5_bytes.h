// RAR 5 volumes held in memory, for the tests and the fuzz target of the header reader: a set
// is one string of its volumes one after the other, cut where each volume's signature begins.
#pragma once

#include <string>
#include <vector>

#include "engine/rar5_layout.h"
#include "tests/portable/memory_set.h"

// The volumes of `set`: cut before every RAR 5 signature but one at its start.
inline std::vector<std::string> SplitVolumes(const std::string& set)
{
    return SplitAtSignatures(set, std::string("Rar!\x1A\x07\x01\x00", 8));
}
