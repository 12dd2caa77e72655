// RAR volumes held in memory, for the tests and fuzz targets of the header readers: a set is
// one string of its volumes one after the other, cut where each volume's signature begins.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/rar_layout.h"
#include "tests/portable/memory_source.h"

// The volumes of `set`: cut before every `signature` but one at its start.
inline std::vector<std::string> SplitAtSignatures(const std::string& set, const std::string& signature)
{
    std::vector<std::string> volumes;
    size_t start = 0;
    do {
        size_t next = set.find(signature, start + 1);
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
    std::vector<std::unique_ptr<MemorySource>> sources;
    std::vector<RarVolume> volumes;
};
