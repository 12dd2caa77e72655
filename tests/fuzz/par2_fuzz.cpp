// Fuzz target for the PAR2 packet reader, and for verification and repair on what it reads: the
// input is the packets of a set, the PAR2 files one after another. It is read as one file, and
// again cut in two, and again with every packet's MD5 made right and every set ID that of the
// first main packet, so that changed packets get past the checks. The model read must hold
// what the reader guarantees; where it is verifiable, the input itself is verified as each
// file and under another name, and where it is repairable and small, the slices found missing
// are rebuilt.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/names.h"
#include "engine/par2/par2_repair.h"
#include "engine/par2/par2_verify.h"
#include "tests/portable/memory_source.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

const std::string kMagic("PAR2\0PKT", 8);

uint64_t Le64(const std::string& bytes, size_t at)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Walks the packets at their claimed lengths from each magic on, and calls `visit` with the
// offset and length of each one that lies in the bytes.
template <typename Visit> void EachPacket(const std::string& bytes, Visit visit)
{
    for (size_t at = bytes.find(kMagic); at != std::string::npos && bytes.size() - at >= 64;) {
        const uint64_t length = Le64(bytes, at + 8);
        if (length >= 64 && length % 4 == 0 && length <= bytes.size() - at) {
            visit(at, static_cast<size_t>(length));
            at = bytes.find(kMagic, at + static_cast<size_t>(length));
        } else {
            at = bytes.find(kMagic, at + 1);
        }
    }
}

std::string FixPackets(std::string bytes)
{
    std::string set;
    EachPacket(bytes, [&](size_t at, size_t length) {
        if (set.empty() && bytes.compare(at + 48, 16, std::string("PAR 2.0\0Main\0\0\0\0", 16)) == 0) {
            const Md5Digest id = Md5Of(bytes.data() + at + 64, length - 64);
            set.assign(id.begin(), id.end());
        }
    });
    EachPacket(bytes, [&](size_t at, size_t length) {
        if (!set.empty())
            bytes.replace(at + 32, 16, set);
        const Md5Digest md5 = Md5Of(bytes.data() + at + 32, length - 32);
        bytes.replace(at + 16, 16, std::string(md5.begin(), md5.end()));
    });
    return bytes;
}

void CheckSet(const Par2Set& set, const std::vector<std::unique_ptr<MemorySource>>& sources)
{
    check(set.hasMain || (set.files.empty() && set.recoverySlices.empty() && !set.verifiable));
    check(!set.hasMain || (set.sliceSize > 0 && set.sliceSize % 4 == 0 && set.sliceSize <= kPar2MaxSliceSize));
    check(set.files.size() <= kPar2MaxFiles && set.recoveryFileCount <= set.files.size());
    check(set.verifiable || !set.problems.empty());
    uint64_t slices = 0;
    bool described = true;
    for (size_t i = 0; i < set.files.size(); ++i) {
        const Par2File& file = set.files[i];
        described = described && file.described;
        check(file.inRecoverySet == (i < set.recoveryFileCount));
        check(file.described ? !file.name.empty() && IsContainedName(file.name) : file.name.empty());
        check(!file.described || file.sliceCount == file.length / set.sliceSize + (file.length % set.sliceSize != 0));
        check(file.slices.size() == (file.hasSliceChecksums ? file.sliceCount : 0));
        if (file.inRecoverySet && file.described) {
            check(file.firstSlice == std::min<uint64_t>(slices, kPar2MaxInputSlices));
            slices += file.sliceCount;
        }
    }
    check(!set.verifiable || (described && set.inputSliceCount == slices));
    check(set.inputSliceCount <= kPar2MaxInputSlices && (!set.repairable || set.verifiable));
    for (size_t i = 0; i < set.recoverySlices.size(); ++i) {
        const Par2RecoverySlice& slice = set.recoverySlices[i];
        check(i == 0 || set.recoverySlices[i - 1].exponent < slice.exponent);
        check(slice.source < sources.size() && set.sliceSize <= sources[slice.source]->Size() &&
              slice.offset <= sources[slice.source]->Size() - set.sliceSize);
    }
}

// Rebuilt slices are only counted: what they hold is checked by the unit tests.
class Rebuilt : public Par2SetSlices {
public:
    using Par2SetSlices::Par2SetSlices;
    bool WriteRebuilt(uint32_t, uint64_t, const uint8_t*, size_t size) override
    {
        written += size;
        return true;
    }
    uint64_t written = 0;
};

void VerifyAndRepair(const Par2Set& set, const std::string& bytes, const std::vector<ByteSource*>& par2)
{
    // The input as the first few files and under a name of its own.
    MemorySource source(bytes);
    std::vector<Par2Candidate> candidates;
    for (size_t i = 0; i < set.files.size() && i < 4; ++i)
        candidates.push_back({set.files[i].name, &source});
    candidates.push_back({"elsewhere", &source});
    const Par2Verification verification = VerifyPar2Set(set, candidates);
    check(verification.files.size() == set.files.size() && !verification.stopped);
    for (size_t i = 0; i < set.files.size(); ++i) {
        const Par2FileVerdict& verdict = verification.files[i];
        const bool held = verdict.state == Par2FileState::Intact || verdict.state == Par2FileState::Damaged;
        check(held == (verdict.candidate < candidates.size()));
        check(verdict.state != Par2FileState::Intact || (verdict.sizeMatches && verdict.damagedSlices.empty()));
        check(std::is_sorted(verdict.damagedSlices.begin(), verdict.damagedSlices.end()));
        check(verdict.damagedSlices.empty() || verdict.damagedSlices.back() < set.files[i].sliceCount);
    }
    if (!set.repairable || static_cast<uint64_t>(set.inputSliceCount) * set.sliceSize > (4u << 20))
        return;
    const std::vector<uint32_t> missing = Par2MissingSlices(set, verification);
    std::vector<uint32_t> exponents;
    for (const Par2RecoverySlice& slice : set.recoverySlices)
        exponents.push_back(slice.exponent);
    Par2RepairPlan plan;
    if (missing.size() > 8 || PlanPar2Repair(set.inputSliceCount, missing, exponents, plan) != Par2PlanResult::Ready)
        return;
    check(plan.exponents.size() == missing.size() && plan.inverse.size() == 2 * missing.size() * missing.size());
    Rebuilt rebuilt(set, Par2FileSources(verification, candidates), par2);
    if (RebuildPar2Slices(plan, set.inputSliceCount, set.sliceSize, rebuilt) == Par2RebuildResult::Done)
        check(rebuilt.written == missing.size() * set.sliceSize);
}

void ReadFiles(const std::vector<std::string>& files)
{
    std::vector<std::unique_ptr<MemorySource>> sources;
    std::vector<ByteSource*> list;
    for (const std::string& file : files) {
        sources.push_back(std::make_unique<MemorySource>(file));
        list.push_back(sources.back().get());
    }
    const Par2Reading reading = ReadPar2Files(list);
    check(reading.files.size() == files.size() && !reading.stopped);
    for (size_t i = 0; i < files.size(); ++i) {
        // The scan reads each byte once; packets are hashed within the bound.
        check(sources[i]->read <= 3 * files[i].size() + (2u << 20));
    }
    for (const Par2Set& set : reading.sets) {
        CheckSet(set, sources);
        if (set.verifiable)
            VerifyAndRepair(set, files[0], list);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    ReadFiles({bytes});
    ReadFiles({bytes.substr(0, size / 2), bytes.substr(size / 2)});
    ReadFiles({FixPackets(bytes)});
    return 0;
}
