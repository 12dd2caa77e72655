// RAR 5 volumes held in memory, for the tests and the fuzz target of the header reader: a set
// is one string of its volumes one after the other, cut where each volume's signature begins.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/rar5_layout.h"
#include "tests/portable/memory_source.h"

// The volumes of `set`: cut before every RAR 5 signature but one at its start.
inline std::vector<std::string> SplitVolumes(const std::string& set)
{
    static const std::string kSignature("Rar!\x1A\x07\x01\x00", 8);
    std::vector<std::string> volumes;
    size_t start = 0;
    do {
        size_t next = set.find(kSignature, start + 1);
        next = next == std::string::npos ? set.size() : next;
        volumes.push_back(set.substr(start, next - start));
        start = next;
    } while (start < set.size());
    return volumes;
}

// The volumes of a set in memory, named vol1, vol2, ...
class MemorySet {
public:
    explicit MemorySet(const std::vector<std::string>& bytes)
    {
        for (const std::string& volume : bytes) {
            sources.push_back(std::make_unique<MemorySource>(volume));
            volumes.push_back({"vol" + std::to_string(volumes.size() + 1), sources.back().get()});
        }
    }
    explicit MemorySet(const std::string& set) : MemorySet(SplitVolumes(set)) {}
    std::vector<std::unique_ptr<MemorySource>> sources;
    std::vector<RarVolume> volumes;
};
