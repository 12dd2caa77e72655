// Throughput of PAR2's inner loops, built natively without sanitizers (bench/par2_kernels.sh):
// gf16::Multiplier::Accumulate through each kernel this processor runs (and GF-Complete's region
// product when built with it), 1 MiB regions times many factors; MD5 over 64 MiB; and the
// rebuild of lost slices from a set in memory on the calling thread alone and on all cores.
// Prints one line per figure, best of RUNS (default 5): bench_gf16 [RUNS [LOST]].
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/md5.h"
#include "engine/par2/gf16.h"
#include "engine/par2/par2_repair.h"

#ifdef RAVELPAK_BENCH_GF_COMPLETE
extern "C" {
#include "gf_complete.h"
}
#endif

namespace {

using Clock = std::chrono::steady_clock;

// The best of `runs` timings of `work`, in seconds.
template <typename Work>
double Best(int runs, Work work)
{
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

constexpr size_t kRegion = 1u << 20;
constexpr int kFactors = 256;

// A set in memory whose slices are all one random slice: the rebuild's bytes are not checked
// here (the tests do that), only its time.
class MemorySlices : public Par2SliceIo {
public:
    explicit MemorySlices(size_t sliceSize) : slice_(sliceSize)
    {
        std::mt19937 random(2);
        for (auto& b : slice_)
            b = static_cast<uint8_t>(random());
    }
    bool ReadInput(uint32_t, uint64_t offset, uint8_t* data, size_t size) override
    {
        std::copy_n(slice_.data() + offset, size, data);
        return true;
    }
    uint64_t InputBytes(uint32_t) const override { return slice_.size(); }
    bool ReadRecovery(uint32_t, uint64_t offset, uint8_t* data, size_t size) override
    {
        std::copy_n(slice_.data() + offset, size, data);
        return true;
    }
    bool WriteRebuilt(uint32_t, uint64_t, const uint8_t*, size_t) override { return true; }

private:
    std::vector<uint8_t> slice_;
};

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::mt19937 random(1);
    std::vector<uint8_t> src(kRegion + 64), dst(kRegion + 64);
    for (auto& b : src)
        b = static_cast<uint8_t>(random());
    std::vector<uint16_t> factors(kFactors);
    for (auto& f : factors)
        f = static_cast<uint16_t>(random() | 2);
    const double bytes = static_cast<double>(kRegion) * kFactors;

    for (gf16::Kernel kernel : gf16::AvailableKernels()) {
        // The portable kernel is slow: fewer factors keep the run short.
        const int count = kernel == gf16::Kernel::Portable ? kFactors / 8 : kFactors;
        const double seconds = Best(runs, [&] {
            for (int f = 0; f < count; ++f)
                gf16::Multiplier(factors[f]).Accumulate(dst.data(), src.data(), kRegion, kernel);
        });
        std::printf("gf16 %-12s GB/s %6.2f\n", gf16::KernelName(kernel), bytes * count / kFactors / seconds / 1e9);
    }
#ifdef RAVELPAK_BENCH_GF_COMPLETE
    gf_t gf;
    if (!gf_init_easy(&gf, 16)) {
        std::fprintf(stderr, "gf_init_easy failed\n");
        return 1;
    }
    // GF-Complete's fast region kernels want the two regions at the same alignment.
    const double seconds = Best(runs, [&] {
        for (int f = 0; f < kFactors; ++f)
            gf.multiply_region.w32(&gf, src.data(), dst.data(), factors[f], static_cast<int>(kRegion), 1);
    });
    std::printf("gf16 %-12s GB/s %6.2f\n", "gf-complete", bytes / seconds / 1e9);
    // The same bytes as ours, for one factor.
    std::vector<uint8_t> ours(kRegion), theirs(kRegion);
    gf16::MultiplyAccumulate(ours.data(), src.data(), kRegion, factors[0]);
    gf.multiply_region.w32(&gf, src.data(), theirs.data(), factors[0], static_cast<int>(kRegion), 1);
    if (ours != theirs) {
        std::fprintf(stderr, "gf-complete's products differ from ours\n");
        return 1;
    }
#endif

    std::vector<uint8_t> message(64u << 20);
    for (auto& b : message)
        b = static_cast<uint8_t>(random());
    Md5Digest digest{};
    const double md5Seconds = Best(runs, [&] { digest = Md5Of(message.data(), message.size()); });
    std::printf("md5 %-13s MB/s %6.0f   (digest starts %02x%02x)\n", "", message.size() / md5Seconds / 1e6,
                digest[0], digest[1]);

    // 200 input slices of 1 MiB, LOST of them lost (default 10): LOST * 200 region products
    // per piece.
    const uint32_t inputs = 200, lost = argc > 2 ? static_cast<uint32_t>(std::max(1, std::min(100, std::atoi(argv[2])))) : 10;
    std::vector<uint32_t> missing, available;
    for (uint32_t i = 0; i < lost; ++i)
        missing.push_back(i * (inputs / lost)), available.push_back(i);
    Par2RepairPlan plan;
    if (PlanPar2Repair(inputs, missing, available, plan) != Par2PlanResult::Ready) {
        std::fprintf(stderr, "no plan\n");
        return 1;
    }
    MemorySlices io(kRegion);
    double single = 0;
    for (unsigned threads : {1u, 0u}) {
        const double seconds =
            Best(std::min(runs, 3), [&] { RebuildPar2Slices(plan, inputs, kRegion, io, kPar2RebuildMemory, {}, threads); });
        if (threads == 1)
            single = seconds;
        std::printf("rebuild %u of %u slices of 1 MiB, %s: %.3f s (%.2f GB/s of products)%s\n", lost, inputs,
                    threads == 1 ? "calling thread" : "all cores", seconds, lost * (inputs + 0.0) * kRegion / seconds / 1e9,
                    threads == 1 ? "" : (" speed-up " + std::to_string(single / seconds).substr(0, 4)).c_str());
    }
    return 0;
}
