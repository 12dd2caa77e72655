#include "engine/par2/par2_verify.h"

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/crc32.h"

namespace {

constexpr size_t kPiece = 1u << 20;
constexpr size_t kFirstBytes = 16384;
// The most zeros hashed to pad a file's last slice. A set may declare a slice size far above
// its files' lengths; past this the slice's CRC-32 is carried over the zeros arithmetically
// and the whole file's MD5, over its own bytes only, stands for the slice's.
constexpr uint64_t kMaxPadding = 1u << 20;

// x * y modulo the CRC-32 polynomial, in the reflected order of the CRC's register: the top
// bit holds the coefficient of x^0.
uint32_t CrcMultiply(uint32_t x, uint32_t y)
{
    uint32_t product = 0;
    for (int bit = 31; bit >= 0; --bit) {
        if (x >> bit & 1)
            product ^= y;
        y = (y >> 1) ^ (y & 1 ? 0xEDB88320u : 0);
    }
    return product;
}

// The CRC-32 of data whose CRC-32 is `crc`, followed by `count` zero bytes: each zero byte
// multiplies the register by x^8.
uint32_t CrcWithZeros(uint32_t crc, uint64_t count)
{
    uint32_t power = 0x80000000u, square = 0x00800000u;  // x^0, and x^8
    for (; count != 0; count >>= 1, square = CrcMultiply(square, square))
        if (count & 1)
            power = CrcMultiply(power, square);
    return ~CrcMultiply(~crc, power);
}

std::string Normalised(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// Hashes the pieces of a file on a thread of its own while the calling thread reads the next:
// two pieces, one being read and one being hashed, each taken by the hasher in the order given.
class Hasher {
public:
    using Consumer = std::function<void(const uint8_t* data, size_t size)>;

    Hasher() : buffers_{std::unique_ptr<uint8_t[]>(new uint8_t[kPiece]), std::unique_ptr<uint8_t[]>(new uint8_t[kPiece])}
    {
    }
    ~Hasher()
    {
        if (!thread_.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // The buffer to read the next piece into, once the hasher has let go of it.
    uint8_t* Next()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return queued_ < 2; });
        return buffers_[(head_ + queued_) % 2].get();
    }
    // Hands the piece read into Next() to `consumer`, which must outlive the next Drain().
    void Push(size_t size, const Consumer& consumer)
    {
        if (!thread_.joinable())
            thread_ = std::thread([this] { Loop(); });
        std::lock_guard<std::mutex> lock(mutex_);
        sizes_[(head_ + queued_) % 2] = size;
        consumers_[(head_ + queued_) % 2] = &consumer;
        ++queued_;
        changed_.notify_all();
    }
    // Waits until every piece pushed is hashed.
    void Drain()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return queued_ == 0; });
    }

private:
    void Loop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return quit_ || queued_ > 0; });
            if (queued_ == 0)
                return;
            const size_t at = head_;
            lock.unlock();
            (*consumers_[at])(buffers_[at].get(), sizes_[at]);
            lock.lock();
            head_ = (head_ + 1) % 2;
            --queued_;
            changed_.notify_all();
        }
    }

    std::unique_ptr<uint8_t[]> buffers_[2];
    size_t sizes_[2] = {};
    const Consumer* consumers_[2] = {};
    size_t head_ = 0, queued_ = 0;  // the piece hashed first, and the pieces pushed and not yet hashed
    bool quit_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

class Verifier {
public:
    Verifier(const Par2Set& set, const std::vector<Par2Candidate>& candidates, const Par2Progress& progress)
        : set_(set), candidates_(candidates), progress_(progress), buffer_(new uint8_t[kFirstBytes]),
          first16k_(candidates.size()), hasFirst16k_(candidates.size())
    {
    }

    Par2Verification Run();

private:
    bool Read(ByteSource& source, uint64_t offset, uint8_t* data, size_t size);
    Par2FileVerdict Check(const Par2File& file, size_t candidate);
    bool FirstBytesMatch(const Par2File& file, size_t candidate);

    const Par2Set& set_;
    const std::vector<Par2Candidate>& candidates_;
    const Par2Progress& progress_;
    std::unique_ptr<uint8_t[]> buffer_;  // for the first 16 KiB of candidates
    Hasher hasher_;
    std::vector<Md5Digest> first16k_;  // of each candidate, once read
    std::vector<bool> hasFirst16k_;
    bool stopped_ = false;
};

bool Verifier::Read(ByteSource& source, uint64_t offset, uint8_t* data, size_t size)
{
    size_t got = 0;
    if (!source.ReadAt(offset, data, size, got) || got != size)
        return false;
    if (progress_ && !progress_(size))
        stopped_ = true;
    return true;
}

// One sequential read of the candidate, up to the file's length.
Par2FileVerdict Verifier::Check(const Par2File& file, size_t candidate)
{
    static const uint8_t kZeros[4096] = {};
    Par2FileVerdict verdict;
    verdict.candidate = candidate;
    ByteSource& source = *candidates_[candidate].bytes;
    const uint64_t size = source.Size();
    verdict.sizeMatches = size == file.length;
    if (!file.hasSliceChecksums && !verdict.sizeMatches) {
        verdict.state = Par2FileState::Damaged;
        return verdict;
    }
    const uint64_t sliceSize = set_.sliceSize, end = std::min(size, file.length);
    const uint64_t lastPadding = file.sliceCount * sliceSize - file.length;
    const bool wholeNeeded = !file.hasSliceChecksums || lastPadding > kMaxPadding;
    Md5 whole, slice;
    uint32_t crc = 0, k = 0;
    uint64_t pos = 0, sliceEnd = std::min(sliceSize, file.length);
    // Runs on the hasher's thread, a piece at a time in the order of the file; what it touches
    // is read here only after the hasher is drained.
    const Hasher::Consumer hash = [&](const uint8_t* data, size_t n) {
        if (wholeNeeded)
            whole.Update(data, n);
        if (!file.hasSliceChecksums) {
            pos += n;
            return;
        }
        for (size_t used = 0; used < n;) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(n - used, sliceEnd - (pos + used)));
            slice.Update(data + used, take);
            crc = Crc32Update(crc, data + used, take);
            used += take;
            if (pos + used < sliceEnd)
                continue;
            // The slice is whole: the last one of the file is padded with zeros to the slice size.
            const uint64_t padding = sliceSize - (sliceEnd - static_cast<uint64_t>(k) * sliceSize);
            if (padding > kMaxPadding) {
                crc = CrcWithZeros(crc, padding);
                slice.Reset();
                if (crc != file.slices[k].crc)
                    verdict.damagedSlices.push_back(k);
            } else {
                for (uint64_t pad = padding; pad > 0;) {
                    const size_t zeros = static_cast<size_t>(std::min<uint64_t>(pad, sizeof kZeros));
                    slice.Update(kZeros, zeros);
                    crc = Crc32Update(crc, kZeros, zeros);
                    pad -= zeros;
                }
                if (slice.Final() != file.slices[k].md5 || crc != file.slices[k].crc)
                    verdict.damagedSlices.push_back(k);
            }
            crc = 0;
            ++k;
            sliceEnd = std::min(sliceEnd + sliceSize, file.length);
        }
        pos += n;
    };
    for (uint64_t read = 0; read < end && !stopped_;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, end - read));
        uint8_t* const data = hasher_.Next();
        if (!Read(source, read, data, n)) {
            hasher_.Drain();
            verdict.readFailed = true;
            verdict.candidate = kPar2NoCandidate;
            verdict.state = Par2FileState::Missing;
            return verdict;
        }
        hasher_.Push(n, hash);
        read += n;
    }
    hasher_.Drain();
    if (stopped_)
        return Par2FileVerdict();
    // The slices that the candidate ends before.
    for (; k < file.sliceCount && file.hasSliceChecksums; ++k)
        verdict.damagedSlices.push_back(k);
    const bool wholeFails = wholeNeeded && verdict.sizeMatches && whole.Final() != file.md5;
    // Every slice checked by its MD5 passed: the last one, checked by its CRC alone, is wrong.
    if (wholeFails && file.hasSliceChecksums && verdict.damagedSlices.empty())
        verdict.damagedSlices.push_back(file.sliceCount - 1);
    const bool intact = verdict.damagedSlices.empty() && verdict.sizeMatches && !wholeFails;
    verdict.state = intact ? Par2FileState::Intact : Par2FileState::Damaged;
    return verdict;
}

bool Verifier::FirstBytesMatch(const Par2File& file, size_t candidate)
{
    ByteSource& source = *candidates_[candidate].bytes;
    if (source.Size() != file.length)
        return false;
    if (!hasFirst16k_[candidate]) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kFirstBytes, file.length));
        if (!Read(source, 0, buffer_.get(), n))
            return false;
        first16k_[candidate] = Md5Of(buffer_.get(), n);
        hasFirst16k_[candidate] = true;
    }
    return first16k_[candidate] == file.md5First16k;
}

// The better of two copies of a file: intact first, then the one with fewer damaged slices.
bool Better(const Par2FileVerdict& a, const Par2FileVerdict& b)
{
    auto rank = [](const Par2FileVerdict& v) {
        return v.state == Par2FileState::Intact ? 0 : v.state == Par2FileState::Damaged ? 1 : 2;
    };
    if (rank(a) != rank(b))
        return rank(a) < rank(b);
    return rank(a) == 1 && a.damagedSlices.size() < b.damagedSlices.size();
}

Par2Verification Verifier::Run()
{
    Par2Verification result;
    result.files.resize(set_.files.size());
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < candidates_.size(); ++i)
        if (candidates_[i].bytes)
            byName.emplace(Normalised(candidates_[i].name), i);
    for (size_t f = 0; f < set_.files.size() && !stopped_; ++f) {
        const Par2File& file = set_.files[f];
        Par2FileVerdict& verdict = result.files[f];
        if (!file.described) {
            verdict.state = Par2FileState::Unknown;
            continue;
        }
        const auto own = byName.find(Normalised(file.name));
        if (own != byName.end())
            verdict = Check(file, own->second);
        for (size_t c = 0; c < candidates_.size() && verdict.state != Par2FileState::Intact && !stopped_; ++c) {
            if (!candidates_[c].bytes || (own != byName.end() && c == own->second) || !FirstBytesMatch(file, c))
                continue;
            Par2FileVerdict elsewhere = Check(file, c);
            elsewhere.foundElsewhere = true;
            if (Better(elsewhere, verdict)) {
                elsewhere.readFailed = verdict.readFailed;
                verdict = std::move(elsewhere);
            }
        }
    }
    result.stopped = stopped_;
    return result;
}

}  // namespace

Par2Verification VerifyPar2Set(const Par2Set& set, const std::vector<Par2Candidate>& candidates,
                               const Par2Progress& progress)
{
    return Verifier(set, candidates, progress).Run();
}

std::vector<uint32_t> Par2MissingSlices(const Par2Set& set, const Par2Verification& verification)
{
    std::vector<uint32_t> missing;
    for (size_t f = 0; f < set.recoveryFileCount && f < verification.files.size(); ++f) {
        const Par2File& file = set.files[f];
        const Par2FileVerdict& verdict = verification.files[f];
        if (verdict.state == Par2FileState::Intact)
            continue;
        const bool known = verdict.state == Par2FileState::Damaged && file.hasSliceChecksums;
        if (known) {
            for (uint32_t k : verdict.damagedSlices)
                missing.push_back(file.firstSlice + k);
        } else {
            for (uint32_t k = 0; k < file.sliceCount; ++k)
                missing.push_back(file.firstSlice + k);
        }
    }
    return missing;
}

std::vector<ByteSource*> Par2FileSources(const Par2Verification& verification,
                                         const std::vector<Par2Candidate>& candidates)
{
    std::vector<ByteSource*> sources;
    for (const Par2FileVerdict& verdict : verification.files)
        sources.push_back(verdict.candidate < candidates.size() && verdict.state != Par2FileState::Missing
                              ? candidates[verdict.candidate].bytes
                              : nullptr);
    return sources;
}
