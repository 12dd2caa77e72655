#include "engine/par2/par2_repair.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "engine/par2/gf16.h"

namespace {

uint16_t Get(const uint8_t* row, size_t j)
{
    return static_cast<uint16_t>(row[2 * j] | row[2 * j + 1] << 8);
}

void Put(uint8_t* row, size_t j, uint16_t value)
{
    row[2 * j] = static_cast<uint8_t>(value);
    row[2 * j + 1] = static_cast<uint8_t>(value >> 8);
}

// An m x m matrix over GF(2^16), rows of 16-bit little-endian words one after another, so that
// row operations are the same region products as the rebuild's.
class Matrix {
public:
    Matrix(std::vector<uint8_t>& bytes, size_t m) : bytes_(bytes), m_(m), scratch_(2 * m)
    {
        bytes_.assign(2 * m * m, 0);
    }
    uint8_t* Row(size_t i) { return bytes_.data() + 2 * m_ * i; }

    // Row i: the coefficients of the recovery slice of `exponent` for each missing slice.
    void Fill(size_t i, const std::vector<uint32_t>& missing, uint32_t exponent)
    {
        for (size_t j = 0; j < m_; ++j)
            Put(Row(i), j, gf16::RecoveryCoefficient(missing[j], exponent));
    }

    // row = factor * source (the two may be the same row).
    void Scale(uint8_t* row, const uint8_t* source, uint16_t factor)
    {
        std::fill(scratch_.begin(), scratch_.end(), 0);
        gf16::MultiplyAccumulate(scratch_.data(), source, scratch_.size(), factor);
        std::memcpy(row, scratch_.data(), scratch_.size());
    }

    // Gauss-Jordan elimination in place, a pivot found in each column among the rows below;
    // false when the matrix is singular.
    bool Invert()
    {
        std::vector<std::pair<size_t, size_t>> swaps;
        for (size_t k = 0; k < m_; ++k) {
            size_t p = k;
            while (p < m_ && Get(Row(p), k) == 0)
                ++p;
            if (p == m_)
                return false;
            if (p != k) {
                std::swap_ranges(Row(p), Row(p) + 2 * m_, Row(k));
                swaps.emplace_back(p, k);
            }
            const uint16_t inverse = gf16::Inverse(Get(Row(k), k));
            Put(Row(k), k, 1);
            Scale(Row(k), Row(k), inverse);
            for (size_t i = 0; i < m_; ++i) {
                const uint16_t factor = i == k ? 0 : Get(Row(i), k);
                if (factor == 0)
                    continue;
                Put(Row(i), k, 0);
                gf16::MultiplyAccumulate(Row(i), Row(k), 2 * m_, factor);
            }
        }
        // Rows swapped in A swap the columns of its inverse, last swap first.
        for (auto it = swaps.rbegin(); it != swaps.rend(); ++it)
            for (size_t i = 0; i < m_; ++i) {
                const uint16_t a = Get(Row(i), it->first);
                Put(Row(i), it->first, Get(Row(i), it->second));
                Put(Row(i), it->second, a);
            }
        return true;
    }

    // Chooses, in the order of `available`, exponents whose rows are independent, until there
    // are m: each row is reduced by the rows already chosen (each normalised at a pivot column
    // of its own) and taken when something is left of it.
    bool Select(const std::vector<uint32_t>& missing, const std::vector<uint32_t>& available,
                std::vector<uint32_t>& chosen)
    {
        std::vector<size_t> pivots;
        std::vector<uint8_t> row(2 * m_);
        chosen.clear();
        for (size_t e = 0; e < available.size() && chosen.size() < m_; ++e) {
            for (size_t j = 0; j < m_; ++j)
                Put(row.data(), j, gf16::RecoveryCoefficient(missing[j], available[e]));
            for (size_t b = 0; b < pivots.size(); ++b)
                if (const uint16_t factor = Get(row.data(), pivots[b]))
                    gf16::MultiplyAccumulate(row.data(), Row(b), row.size(), factor);
            size_t q = 0;
            while (q < m_ && Get(row.data(), q) == 0)
                ++q;
            if (q == m_)
                continue;
            Scale(Row(pivots.size()), row.data(), gf16::Inverse(Get(row.data(), q)));
            pivots.push_back(q);
            chosen.push_back(available[e]);
        }
        return chosen.size() == m_;
    }

private:
    std::vector<uint8_t>& bytes_;
    size_t m_;
    std::vector<uint8_t> scratch_;
};

}  // namespace

Par2PlanResult PlanPar2Repair(uint32_t inputSliceCount, const std::vector<uint32_t>& missing,
                              const std::vector<uint32_t>& available, Par2RepairPlan& plan)
{
    plan = Par2RepairPlan();
    std::vector<uint32_t> sorted = missing;
    std::sort(sorted.begin(), sorted.end());
    if (inputSliceCount > gf16::kMaxInputSlices || std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end() ||
        (!sorted.empty() && sorted.back() >= inputSliceCount))
        return Par2PlanResult::BadInput;
    if (sorted.size() > kPar2MaxMissingSlices)
        return Par2PlanResult::TooManyMissing;
    // Exponents equal modulo the group's order give the same row: only the first one counts.
    std::vector<uint32_t> exponents;
    std::set<uint32_t> seen;
    for (uint32_t e : available)
        if (seen.insert(e % gf16::kGroupOrder).second)
            exponents.push_back(e);
    const size_t m = sorted.size();
    if (exponents.size() < m)
        return Par2PlanResult::TooFewRecoverySlices;
    plan.missing = sorted;
    plan.exponents.assign(exponents.begin(), exponents.begin() + static_cast<std::ptrdiff_t>(m));
    Matrix matrix(plan.inverse, m);
    for (size_t r = 0; r < m; ++r)
        matrix.Fill(r, sorted, plan.exponents[r]);
    if (matrix.Invert())
        return Par2PlanResult::Ready;
    // The first m are not independent: choose among all of them, in the same matrix.
    if (!matrix.Select(sorted, exponents, plan.exponents)) {
        plan = Par2RepairPlan();
        return Par2PlanResult::Singular;
    }
    for (size_t r = 0; r < m; ++r)
        matrix.Fill(r, sorted, plan.exponents[r]);
    if (matrix.Invert())
        return Par2PlanResult::Ready;
    plan = Par2RepairPlan();
    return Par2PlanResult::Singular;
}

namespace {

// Worker threads that run one job at a time over shares of a piece's bytes, while the calling
// thread goes on reading. Shares are whole 64-byte blocks but the last, so that the kernels run
// on whole SIMD blocks; each byte is computed by the same steps whichever thread computes it.
// Without workers a job runs on the calling thread when it is started.
class Workers {
public:
    using Job = std::function<void(size_t begin, size_t end)>;

    explicit Workers(size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            threads_.emplace_back([this, i] { Loop(i); });
    }
    ~Workers()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        start_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    // Waits for the job before, then starts `job` over `bytes` bytes.
    void Start(Job job, size_t bytes)
    {
        if (threads_.empty()) {
            job(0, bytes);
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        job_ = std::move(job);
        bytes_ = bytes;
        pending_ = threads_.size();
        ++generation_;
        start_.notify_all();
    }

    void Wait()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    void Loop(size_t index)
    {
        uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            start_.wait(lock, [&] { return quit_ || generation_ != seen; });
            if (quit_)
                return;
            seen = generation_;
            const size_t bytes = bytes_, count = threads_.size(), blocks = (bytes + 63) / 64;
            const size_t begin = std::min(bytes, blocks * index / count * 64);
            const size_t end = index + 1 == count ? bytes : std::min(bytes, blocks * (index + 1) / count * 64);
            lock.unlock();
            if (begin < end)
                job_(begin, end);
            lock.lock();
            if (--pending_ == 0)
                done_.notify_all();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable start_, done_;
    Job job_;
    size_t bytes_ = 0, pending_ = 0;
    uint64_t generation_ = 0;
    bool quit_ = false;
};

// Below this many bytes of products per piece read, threads cost more than they save: with one
// lost slice in pieces of 1 MiB the rebuild was a fifth slower on two cores than on one
// (bench/par2_kernels.sh), the products of a piece taking no longer than its read.
constexpr size_t kThreadedWork = 2u << 20;

}  // namespace

Par2RebuildResult RebuildPar2Slices(const Par2RepairPlan& plan, uint32_t inputSliceCount, uint64_t sliceSize,
                                    Par2SliceIo& io, size_t memory, const Par2Progress& progress, unsigned threads)
{
    const size_t m = plan.missing.size();
    if (m == 0)
        return Par2RebuildResult::Done;
    // m sums and two pieces, each read (or written) while the workers compute on the other;
    // pieces of whole 64-byte blocks where they can be.
    size_t piece = std::min(memory / (m + 2), kPar2MaxPiece);
    piece = std::max<size_t>(piece - piece % 64, 64);
    piece = static_cast<size_t>(std::min<uint64_t>(piece, sliceSize));
    std::vector<uint8_t> sums(m * piece), pieces(2 * piece);
    uint8_t* const buffers[2] = {pieces.data(), pieces.data() + piece};
    std::vector<bool> lost(inputSliceCount);
    for (uint32_t index : plan.missing)
        lost[index] = true;
    auto advance = [&progress](size_t bytes) { return !progress || progress(bytes); };
    if (threads == 0)
        threads = m * piece < kThreadedWork ? 1 : std::max(1u, std::thread::hardware_concurrency());
    Workers workers(threads > 1 ? threads : 0);
    // Every return waits for the job in flight, which uses the buffers.
    auto finish = [&workers](Par2RebuildResult result) {
        workers.Wait();
        return result;
    };

    size_t next = 0;  // the buffer that the next read or job takes
    for (uint64_t offset = 0; offset < sliceSize;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(piece, sliceSize - offset));
        workers.Wait();
        // Each sum starts as its recovery slice, and loses the share of every known slice.
        for (size_t r = 0; r < m; ++r) {
            if (!io.ReadRecovery(plan.exponents[r], offset, &sums[r * piece], n))
                return finish(Par2RebuildResult::ReadFailed);
            if (!advance(n))
                return finish(Par2RebuildResult::Stopped);
        }
        for (uint32_t i = 0; i < inputSliceCount; ++i) {
            if (lost[i] || offset >= io.InputBytes(i))
                continue;
            // The job that used this buffer was over before the last one started.
            uint8_t* const input = buffers[next];
            if (!io.ReadInput(i, offset, input, n))
                return finish(Par2RebuildResult::ReadFailed);
            workers.Start(
                [&, i, input](size_t begin, size_t end) {
                    for (size_t r = 0; r < m; ++r)
                        gf16::Multiplier(gf16::RecoveryCoefficient(i, plan.exponents[r]))
                            .Accumulate(&sums[r * piece + begin], input + begin, end - begin);
                },
                n);
            next ^= 1;
            if (!advance(n))
                return finish(Par2RebuildResult::Stopped);
        }
        // What is left of the sums are the lost slices' shares: the inverse undoes them. Slice j
        // is written while slice j + 1 is computed in the other buffer.
        for (size_t j = 0; j <= m; ++j) {
            if (j < m) {
                uint8_t* const output = buffers[next];
                workers.Start(
                    [&, j, output](size_t begin, size_t end) {
                        std::fill(output + begin, output + end, 0);
                        for (size_t r = 0; r < m; ++r)
                            gf16::Multiplier(plan.Inverse(j, r))
                                .Accumulate(output + begin, &sums[r * piece + begin], end - begin);
                    },
                    n);
            } else {
                workers.Wait();
            }
            next ^= 1;
            if (j > 0 && !io.WriteRebuilt(plan.missing[j - 1], offset, buffers[next], n))
                return finish(Par2RebuildResult::WriteFailed);
        }
        offset += n;
    }
    return finish(Par2RebuildResult::Done);
}

Par2SetSlices::Par2SetSlices(const Par2Set& set, std::vector<ByteSource*> files, std::vector<ByteSource*> par2Files)
    : set_(set), files_(std::move(files)), par2Files_(std::move(par2Files))
{
}

const Par2File* Par2SetSlices::FileOf(uint32_t index, size_t& f) const
{
    const auto begin = set_.files.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(set_.recoveryFileCount);
    const auto after =
        std::upper_bound(begin, end, index, [](uint32_t i, const Par2File& file) { return i < file.firstSlice; });
    if (after == begin || index - (after - 1)->firstSlice >= (after - 1)->sliceCount)
        return nullptr;
    f = static_cast<size_t>(after - 1 - begin);
    return &*(after - 1);
}

uint64_t Par2SetSlices::InputBytes(uint32_t index) const
{
    size_t f = 0;
    const Par2File* file = FileOf(index, f);
    if (!file)
        return set_.sliceSize;
    const uint64_t at = (index - file->firstSlice) * set_.sliceSize;
    return std::min(set_.sliceSize, file->length - at);
}

bool Par2SetSlices::ReadInput(uint32_t index, uint64_t offset, uint8_t* data, size_t size)
{
    size_t f = 0;
    const Par2File* found = FileOf(index, f);
    if (!found || f >= files_.size() || !files_[f] || offset > set_.sliceSize || size > set_.sliceSize - offset)
        return false;
    const Par2File& file = *found;
    // Within the file: a slice's offset is below its length, which the reader bounds by 32768 slices.
    const uint64_t at = (index - file.firstSlice) * set_.sliceSize + offset;
    const size_t inFile = at < file.length ? static_cast<size_t>(std::min<uint64_t>(size, file.length - at)) : 0;
    size_t got = 0;
    if (inFile > 0 && (!files_[f]->ReadAt(at, data, inFile, got) || got != inFile))
        return false;
    std::memset(data + inFile, 0, size - inFile);
    return true;
}

bool Par2SetSlices::ReadRecovery(uint32_t exponent, uint64_t offset, uint8_t* data, size_t size)
{
    const auto& slices = set_.recoverySlices;
    const auto it = std::lower_bound(slices.begin(), slices.end(), exponent,
                                     [](const Par2RecoverySlice& s, uint32_t e) { return s.exponent < e; });
    if (it == slices.end() || it->exponent != exponent || it->source >= par2Files_.size() || !par2Files_[it->source] ||
        offset > set_.sliceSize || size > set_.sliceSize - offset)
        return false;
    size_t got = 0;
    return par2Files_[it->source]->ReadAt(it->offset + offset, data, size, got) && got == size;
}
