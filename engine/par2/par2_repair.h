// Rebuilds lost input slices of a PAR2 recovery set from the slices that are left and from
// recovery slices: the Reed-Solomon solve of PAR2 2.0 over GF(2^16), its products computed on
// as many threads as the processor has cores.
//
// The recovery slice of exponent e is the sum over the input slices i of c_i^e * slice i. With
// m slices lost, m recovery slices give m equations in them; the plan chooses recovery slices
// whose equations are independent (Gaussian elimination with pivoting; when the first ones
// chosen are not, it tries the others) and inverts their matrix. The rebuild then reads each
// slice a piece at a time, so that memory stays bounded whatever the slice size. Every read and
// write goes through Par2SliceIo on the calling thread; worker threads compute on one piece
// while the calling thread reads the next (or writes the one before), each worker on its own
// range of the piece's bytes, so that the result does not depend on the number of threads.
//
// Bounds: at most kPar2MaxMissingSlices (4096) slices are rebuilt at once. The plan holds one
// m x m matrix (m * m * 2 bytes, 32 MiB at the bound) and planning needs no other; its time is
// O(m^3) to invert, plus O(m^2) per recovery slice tried when the first m are not independent.
// The rebuild holds m + 2 pieces of at most `memory` bytes in all (the m sums, the piece being
// read or written and the one being computed on), and computes m * (known slices + m) products
// of a piece per piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/par2/par2_packets.h"

constexpr uint32_t kPar2MaxMissingSlices = 4096;
constexpr size_t kPar2RebuildMemory = 64u << 20;
constexpr size_t kPar2MaxPiece = 1u << 20;

struct Par2RepairPlan {
    std::vector<uint32_t> missing;    // the input slices to rebuild, ascending
    std::vector<uint32_t> exponents;  // the recovery slices used, one per missing slice
    // m x m, row j for missing[j], column r for exponents[r], as 16-bit little-endian words:
    // slice missing[j] is the sum over r of Inverse(j, r) * (recovery slice r minus the known
    // slices' share of it).
    std::vector<uint8_t> inverse;
    uint16_t Inverse(size_t j, size_t r) const
    {
        const size_t at = 2 * (j * missing.size() + r);
        return static_cast<uint16_t>(inverse[at] | inverse[at + 1] << 8);
    }
};

enum class Par2PlanResult {
    Ready,                 // the plan is made (also when nothing is missing)
    BadInput,              // a slice number out of range or given twice, or too many input slices
    TooManyMissing,        // more than kPar2MaxMissingSlices
    TooFewRecoverySlices,  // fewer recovery slices than missing slices
    Singular,              // no choice among the recovery slices gives independent equations
};

// Plans the rebuild of `missing` (input slice numbers below `inputSliceCount`) from the
// recovery slices of the exponents `available`, which are tried in the order given; an
// exponent given twice counts once.
Par2PlanResult PlanPar2Repair(uint32_t inputSliceCount, const std::vector<uint32_t>& missing,
                              const std::vector<uint32_t>& available, Par2RepairPlan& plan);

// What a rebuild reads and writes, by slice. Offsets are within a slice; pieces are whole
// 16-bit words and never reach past the slice size.
class Par2SliceIo {
public:
    virtual ~Par2SliceIo() = default;
    // `size` bytes at `offset` of input slice `index`, one the plan does not rebuild; the bytes
    // of a file's last slice past the file's end are zeros.
    virtual bool ReadInput(uint32_t index, uint64_t offset, uint8_t* data, size_t size) = 0;
    // The bytes at the start of input slice `index` that hold data: past them it is all zeros,
    // which add nothing to a recovery slice, so that a set whose slices are far larger than its
    // files costs no work for their padding. The slice size when not known.
    virtual uint64_t InputBytes(uint32_t index) const = 0;
    // `size` bytes at `offset` of the data of the recovery slice of `exponent`.
    virtual bool ReadRecovery(uint32_t exponent, uint64_t offset, uint8_t* data, size_t size) = 0;
    // Takes rebuilt bytes of input slice `index`. Each slice comes in pieces from offset 0 up to
    // the slice size, in order; a file's last slice comes with its padding zeros.
    virtual bool WriteRebuilt(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) = 0;
};

enum class Par2RebuildResult { Done, ReadFailed, WriteFailed, Stopped };

// Rebuilds the slices of `plan` (made by PlanPar2Repair for the same `inputSliceCount`), each
// `sliceSize` bytes. `memory` bounds the pieces held at once; `progress` hears of the bytes read,
// on the calling thread, and stops the rebuild when it returns false (within the products of one
// piece). `threads`: 0 for one worker per core (the calling thread alone where a piece is too
// little work to share), 1 for the calling thread alone, more for that many workers.
Par2RebuildResult RebuildPar2Slices(const Par2RepairPlan& plan, uint32_t inputSliceCount, uint64_t sliceSize,
                                    Par2SliceIo& io, size_t memory = kPar2RebuildMemory,
                                    const Par2Progress& progress = {}, unsigned threads = 0);

// Reads the input slices of a set from its files and the recovery slices from its PAR2 files,
// as the model of the set places them; rebuilt slices are left to WriteRebuilt.
class Par2SetSlices : public Par2SliceIo {
public:
    // `files` holds a source for each file of `set.files` (nullptr where there is none to
    // read); `par2Files` the PAR2 files in the order the reader was given them. All must
    // outlive this object.
    Par2SetSlices(const Par2Set& set, std::vector<ByteSource*> files, std::vector<ByteSource*> par2Files);
    bool ReadInput(uint32_t index, uint64_t offset, uint8_t* data, size_t size) override;
    uint64_t InputBytes(uint32_t index) const override;
    bool ReadRecovery(uint32_t exponent, uint64_t offset, uint8_t* data, size_t size) override;

private:
    // The file of the recovery set whose slices hold input slice `index`; null for none.
    const Par2File* FileOf(uint32_t index, size_t& f) const;

    const Par2Set& set_;
    std::vector<ByteSource*> files_, par2Files_;
};
