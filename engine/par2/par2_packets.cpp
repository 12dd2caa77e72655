#include "engine/par2/par2_packets.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "base/names.h"
#include "base/utf8.h"

namespace {

const uint8_t kMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
constexpr size_t kHeaderSize = 64;
constexpr size_t kBufferSize = 64 * 1024;
constexpr uint64_t kHashSlack = 1 << 20;
// What a set costs before anything is in it, and what a kept entry costs beside its bytes:
// rough sizes of the records and of the nodes of the maps that hold them.
constexpr size_t kSetCost = 512;
constexpr size_t kEntryCost = 96;

enum class Type { Main, FileDesc, Ifsc, RecvSlic, Creator, UniFileN, Other };

Type TypeOf(const uint8_t* type)
{
    static const struct {
        const char* name;
        Type type;
    } kTypes[] = {
        {"PAR 2.0\0Main\0\0\0\0", Type::Main}, {"PAR 2.0\0FileDesc", Type::FileDesc},
        {"PAR 2.0\0IFSC\0\0\0\0", Type::Ifsc}, {"PAR 2.0\0RecvSlic", Type::RecvSlic},
        {"PAR 2.0\0Creator\0", Type::Creator}, {"PAR 2.0\0UniFileN", Type::UniFileN},
    };
    for (const auto& known : kTypes)
        if (std::memcmp(type, known.name, 16) == 0)
            return known.type;
    return Type::Other;
}

uint64_t Le64(const uint8_t* bytes)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

uint32_t Le32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

Par2Id IdAt(const uint8_t* bytes)
{
    Par2Id id;
    std::memcpy(id.data(), bytes, id.size());
    return id;
}

// The order of input slices: File IDs as 128-bit little-endian numbers.
bool IdBefore(const Par2Id& a, const Par2Id& b)
{
    for (int i = 15; i >= 0; --i)
        if (a[i] != b[i])
            return a[i] < b[i];
    return false;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t code, least;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, code = lead & 0x1F, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, code = lead & 0x0F, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (extra >= text.size() - i)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
            return false;
        i += extra + 1;
    }
    return true;
}

// A text of the ASCII fields in UTF-8: as it is when it is UTF-8 already, as clients write
// names outside ASCII today; otherwise each byte taken as the Latin-1 character of its value.
std::string TextOf(const std::string& bytes)
{
    if (IsUtf8(bytes))
        return bytes;
    std::string text;
    for (char c : bytes)
        AppendUtf8(text, static_cast<unsigned char>(c));
    return text;
}

// UTF-16LE to UTF-8; false for a surrogate without its partner.
bool Utf16ToUtf8(const std::string& bytes, std::string& text)
{
    text.clear();
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (unit >= 0xDC00 && unit < 0xE000)
            return false;
        if (unit >= 0xD800 && unit < 0xDC00) {
            if (i + 3 >= bytes.size())
                return false;
            const uint32_t low = static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3])
                                                                                << 8;
            if (low < 0xDC00 || low >= 0xE000)
                return false;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        AppendUtf8(text, unit);
    }
    return true;
}

// The bytes of a text field without the zeros that pad it: single bytes, or pairs of them for
// UTF-16.
std::string WithoutPadding(const uint8_t* data, size_t size, size_t unit)
{
    while (size >= unit && std::all_of(data + size - unit, data + size, [](uint8_t b) { return b == 0; }))
        size -= unit;
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A name as a report can show it: control characters as "?", and not too long.
std::string Printable(const std::string& name)
{
    std::string shown = name.substr(0, 200);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return "\"" + shown + (name.size() > 200 ? "...\"" : "\"");
}

struct Description {
    Md5Digest md5{}, md5First16k{};
    uint64_t length = 0;
    std::string name;  // as stored, without its padding
    bool operator==(const Description& o) const
    {
        return md5 == o.md5 && md5First16k == o.md5First16k && length == o.length && name == o.name;
    }
};

struct Recovery {
    size_t source = 0;
    uint64_t offset = 0, size = 0;
};

// The packets of one set as they come.
struct SetPackets {
    size_t packets = 0;
    bool hasMain = false;
    uint64_t sliceSize = 0;
    uint32_t recoveryCount = 0;
    std::vector<Par2Id> ids;
    std::string mainRefused;  // why a main packet was not used, when one was not
    std::map<Par2Id, Description> descriptions;
    std::map<Par2Id, std::vector<Par2SliceChecksum>> checksums;
    std::map<Par2Id, std::string> unicodeNames;  // UTF-16LE as stored, without padding
    std::map<uint32_t, Recovery> recovery;
    bool hasCreator = false;
    std::string creator;
    size_t conflicts = 0, malformed = 0, oversized = 0, overBudget = 0;
};

class Reader {
public:
    explicit Reader(const Par2Progress& progress)
        : progress_(progress), buffer_(new uint8_t[kBufferSize]), window_(new uint8_t[kBufferSize])
    {
    }

    Par2FileReport ReadFile(size_t source, ByteSource& file);
    std::vector<Par2Set> Finish();
    bool stopped() const { return stopped_; }

private:
    bool Read(ByteSource& file, uint64_t offset, uint8_t* data, size_t size);
    bool FindMagic(ByteSource& file, uint64_t from, uint64_t size, uint64_t& at);
    bool ReadHeader(ByteSource& file, uint64_t at, uint8_t* header);
    void Take(size_t source, const uint8_t* header, uint64_t offset, uint64_t length, const std::string& body);
    SetPackets* SetOf(const Par2Id& id);
    bool Charge(SetPackets& set, size_t bytes);
    template <typename Map, typename Value>
    void Keep(SetPackets& set, Map& map, const typename Map::key_type& key, Value&& value, size_t bytes);
    Par2Set Model(const Par2Id& id, SetPackets& packets);

    const Par2Progress& progress_;
    std::unique_ptr<uint8_t[]> buffer_, window_;
    uint64_t windowStart_ = 0;
    size_t windowSize_ = 0;
    std::map<Par2Id, SetPackets> sets_;
    size_t charged_ = 0;
    bool stopped_ = false, failed_ = false;
};

bool Reader::Read(ByteSource& file, uint64_t offset, uint8_t* data, size_t size)
{
    size_t got = 0;
    if (!file.ReadAt(offset, data, size, got) || got != size) {
        failed_ = true;
        return false;
    }
    if (progress_ && !progress_(size))
        stopped_ = true;
    return !stopped_;
}

// The next packet magic at `from` or after it with a header's room before `size`. The scan
// keeps its window, so that a scan that starts again just after a damaged packet's magic reads
// nothing twice.
bool Reader::FindMagic(ByteSource& file, uint64_t from, uint64_t size, uint64_t& at)
{
    while (size - from >= kHeaderSize) {
        if (from < windowStart_ || windowSize_ < sizeof kMagic || from - windowStart_ > windowSize_ - sizeof kMagic) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferSize, size - from));
            windowSize_ = 0;
            if (!Read(file, from, window_.get(), want))
                return false;
            windowStart_ = from;
            windowSize_ = want;
        }
        const uint8_t *begin = window_.get() + (from - windowStart_), *end = window_.get() + windowSize_;
        const uint8_t* found = std::search(begin, end, kMagic, kMagic + sizeof kMagic);
        if (found != end) {
            at = windowStart_ + static_cast<uint64_t>(found - window_.get());
            return size - at >= kHeaderSize;
        }
        // A magic may begin in the last 7 bytes and go on past the window.
        from = windowStart_ + windowSize_ - (sizeof kMagic - 1);
    }
    return false;
}

// The header at `at`, from the scan's window when it holds it.
bool Reader::ReadHeader(ByteSource& file, uint64_t at, uint8_t* header)
{
    if (at >= windowStart_ && windowSize_ >= kHeaderSize && at - windowStart_ <= windowSize_ - kHeaderSize) {
        std::memcpy(header, window_.get() + (at - windowStart_), kHeaderSize);
        return true;
    }
    return Read(file, at, header, kHeaderSize);
}

SetPackets* Reader::SetOf(const Par2Id& id)
{
    auto it = sets_.find(id);
    if (it != sets_.end())
        return &it->second;
    if (charged_ + kSetCost > kPar2MaxModelBytes)
        return nullptr;
    charged_ += kSetCost;
    return &sets_[id];
}

bool Reader::Charge(SetPackets& set, size_t bytes)
{
    if (bytes > kPar2MaxModelBytes - charged_) {
        ++set.overBudget;
        return false;
    }
    charged_ += bytes;
    return true;
}

// Keeps the first value of each key; a later different one is a conflict.
template <typename Map, typename Value>
void Reader::Keep(SetPackets& set, Map& map, const typename Map::key_type& key, Value&& value, size_t bytes)
{
    auto it = map.find(key);
    if (it != map.end()) {
        if (!(it->second == value))
            ++set.conflicts;
        return;
    }
    if (Charge(set, kEntryCost + bytes))
        map.emplace(key, std::forward<Value>(value));
}

// One packet whose MD5 matched: `body` holds what follows the header (only the exponent of a
// recovery slice).
void Reader::Take(size_t source, const uint8_t* header, uint64_t offset, uint64_t length, const std::string& body)
{
    SetPackets* found = SetOf(IdAt(header + 32));
    if (!found)
        return;
    SetPackets& set = *found;
    ++set.packets;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(body.data());
    const size_t size = body.size();
    const uint64_t bodyLength = length - kHeaderSize;
    switch (TypeOf(header + 48)) {
    case Type::Main: {
        if (set.hasMain)
            return;
        const char* refused = nullptr;
        const uint64_t sliceSize = size >= 12 ? Le64(b) : 0;
        const size_t total = size >= 12 ? (size - 12) / 16 : 0;
        const uint32_t count = size >= 12 ? Le32(b + 8) : 0;
        std::vector<Par2Id> ids;
        for (size_t i = 0; i < total && total <= kPar2MaxFiles; ++i)
            ids.push_back(IdAt(b + 12 + 16 * i));
        std::vector<Par2Id> sorted = ids;
        std::sort(sorted.begin(), sorted.end());
        if (size < 12 || (size - 12) % 16 != 0 || count > total)
            refused = "its file count does not match its length";
        else if (total > kPar2MaxFiles)
            refused = "it lists more than 32768 files";
        else if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            refused = "it lists a file twice";
        else if (sliceSize == 0 || sliceSize % 4 != 0 || sliceSize > kPar2MaxSliceSize)
            refused = "its slice size is 0, not a multiple of 4 or above 1 GiB";
        else if (Md5Of(b, size) != IdAt(header + 32))
            refused = "the recovery set ID is not its MD5";
        if (refused) {
            set.mainRefused = refused;
            return;
        }
        if (!Charge(set, kEntryCost + 16 * total))
            return;
        set.hasMain = true;
        set.sliceSize = sliceSize;
        set.recoveryCount = count;
        set.ids = std::move(ids);
        return;
    }
    case Type::FileDesc: {
        if (size < 56) {
            ++set.malformed;
            return;
        }
        Description d;
        std::memcpy(d.md5.data(), b + 16, 16);
        std::memcpy(d.md5First16k.data(), b + 32, 16);
        d.length = Le64(b + 48);
        d.name = WithoutPadding(b + 56, size - 56, 1);
        const size_t bytes = d.name.size();
        Keep(set, set.descriptions, IdAt(b), std::move(d), bytes);
        return;
    }
    case Type::Ifsc: {
        if (size < 16 || (size - 16) % 20 != 0) {
            ++set.malformed;
            return;
        }
        std::vector<Par2SliceChecksum> slices((size - 16) / 20);
        for (size_t i = 0; i < slices.size(); ++i) {
            std::memcpy(slices[i].md5.data(), b + 16 + 20 * i, 16);
            slices[i].crc = Le32(b + 32 + 20 * i);
        }
        const size_t bytes = slices.size() * sizeof(Par2SliceChecksum);
        Keep(set, set.checksums, IdAt(b), std::move(slices), bytes);
        return;
    }
    case Type::UniFileN:
        if (size < 16) {
            ++set.malformed;
            return;
        }
        Keep(set, set.unicodeNames, IdAt(b), WithoutPadding(b + 16, size - 16, 2), size);
        return;
    case Type::RecvSlic: {
        if (bodyLength < 4) {
            ++set.malformed;
            return;
        }
        const uint32_t exponent = Le32(b);
        if (set.recovery.count(exponent) == 0 && Charge(set, kEntryCost))
            set.recovery[exponent] = {source, offset + kHeaderSize + 4, bodyLength - 4};
        return;
    }
    case Type::Creator:
        if (!set.hasCreator) {
            set.hasCreator = true;
            set.creator = TextOf(WithoutPadding(b, std::min<size_t>(size, 256), 1));
        }
        return;
    case Type::Other:
        return;
    }
}

Par2FileReport Reader::ReadFile(size_t source, ByteSource& file)
{
    Par2FileReport report;
    const uint64_t size = file.Size();
    const uint64_t hashBound = size < (~0ull - kHashSlack) / 2 ? 2 * size + kHashSlack : ~0ull;
    uint64_t hashed = 0, covered = 0, at = 0;
    uint8_t header[kHeaderSize];
    std::string body;
    windowStart_ = windowSize_ = 0;
    for (uint64_t from = 0; !stopped_ && !failed_ && FindMagic(file, from, size, at);) {
        if (!ReadHeader(file, at, header))
            break;
        const uint64_t length = Le64(header + 8);
        if (length % 4 != 0 || length < kHeaderSize || length > size - at) {
            ++report.damagedPackets;
            from = at + 1;
            continue;
        }
        if (length - 32 > hashBound - hashed) {
            report.gaveUp = true;
            break;
        }
        hashed += length - 32;
        // The body is kept for the known packets that the model reads, and up to the bound;
        // of a recovery slice only its exponent.
        const Type type = TypeOf(header + 48);
        const uint64_t keep = type == Type::Other ? 0 : type == Type::RecvSlic ? 4 : length - kHeaderSize;
        body.clear();
        Md5 md5;
        md5.Update(header + 32, kHeaderSize - 32);
        for (uint64_t offset = kHeaderSize; offset < length && !stopped_ && !failed_;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(kBufferSize, length - offset));
            if (!Read(file, at + offset, buffer_.get(), piece))
                break;
            md5.Update(buffer_.get(), piece);
            if (keep <= kPar2MaxPacketBody && offset - kHeaderSize < keep)
                body.append(reinterpret_cast<const char*>(buffer_.get()),
                            static_cast<size_t>(std::min<uint64_t>(piece, keep - (offset - kHeaderSize))));
            offset += piece;
        }
        if (stopped_ || failed_)
            break;
        if (md5.Final() != IdAt(header + 16)) {
            ++report.damagedPackets;
            from = at + 1;
            continue;
        }
        ++report.packets;
        covered += length;
        from = at + length;
        if (keep > kPar2MaxPacketBody) {
            if (SetPackets* set = SetOf(IdAt(header + 32)))
                ++set->oversized;
            continue;
        }
        Take(source, header, at, length, body);
    }
    report.readFailed = failed_;
    report.stopped = stopped_;
    report.skippedBytes = size - covered;
    failed_ = false;
    return report;
}

Par2Set Reader::Model(const Par2Id& id, SetPackets& packets)
{
    Par2Set set;
    set.id = id;
    set.creator = packets.creator;
    auto problem = [&set](const std::string& text) { set.problems.push_back(text); };
    if (packets.conflicts)
        problem(std::to_string(packets.conflicts) + " packets contradict others of the set");
    if (packets.malformed)
        problem(std::to_string(packets.malformed) + " packets are too short for their type");
    if (packets.oversized)
        problem(std::to_string(packets.oversized) + " packets are larger than the reader takes");
    if (packets.overBudget)
        problem(std::to_string(packets.overBudget) + " packets were left out to keep memory bounded");
    if (!packets.hasMain) {
        problem(packets.mainRefused.empty() ? "no main packet" : "the main packet is refused: " + packets.mainRefused);
        return set;
    }
    set.hasMain = true;
    set.sliceSize = packets.sliceSize;
    std::vector<Par2Id> ids = std::move(packets.ids);
    set.recoveryFileCount = packets.recoveryCount;
    std::sort(ids.begin(), ids.begin() + packets.recoveryCount, IdBefore);
    bool described = true, checksums = true;
    uint64_t slices = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        Par2File file;
        file.id = ids[i];
        file.inRecoverySet = i < set.recoveryFileCount;
        auto d = packets.descriptions.find(file.id);
        auto unicode = packets.unicodeNames.find(file.id);
        auto sums = packets.checksums.find(file.id);
        std::string name;
        // The Unicode name, when the set gives one, stands for the other.
        const bool validText = d != packets.descriptions.end() &&
                               (unicode == packets.unicodeNames.end() ? (name = TextOf(d->second.name), true)
                                                                      : Utf16ToUtf8(unicode->second, name));
        const uint64_t count =
            validText ? d->second.length / set.sliceSize + (d->second.length % set.sliceSize != 0) : 0;
        if (d == packets.descriptions.end()) {
            problem("no description of file " + Par2IdText(file.id));
        } else if (!validText) {
            problem("the Unicode name of file " + Par2IdText(file.id) + " is not valid UTF-16");
        } else if (name.empty() || !IsContainedName(name)) {
            problem("the name " + Printable(name) + " of file " + Par2IdText(file.id) +
                    " is empty or does not stay inside the set's folder");
        } else if (count > kPar2MaxInputSlices) {
            problem(Printable(name) + " has more than 32768 slices");
        } else {
            file.described = true;
            file.name = std::move(name);
            file.length = d->second.length;
            file.md5 = d->second.md5;
            file.md5First16k = d->second.md5First16k;
            file.sliceCount = static_cast<uint32_t>(count);
            if (file.inRecoverySet) {
                file.firstSlice = static_cast<uint32_t>(std::min<uint64_t>(slices, kPar2MaxInputSlices));
                slices += count;
            }
            if (sums != packets.checksums.end() && sums->second.size() == count) {
                file.slices = std::move(sums->second);
                file.hasSliceChecksums = true;
            } else if (sums != packets.checksums.end()) {
                problem("the slice checksums of " + Printable(file.name) + " do not list its " + std::to_string(count) +
                        " slices");
            }
        }
        described = described && file.described;
        checksums = checksums && (file.hasSliceChecksums || !file.inRecoverySet);
        set.files.push_back(std::move(file));
    }
    if (slices > kPar2MaxInputSlices)
        problem("the recovery set has more than 32768 input slices");
    set.inputSliceCount = static_cast<uint32_t>(std::min<uint64_t>(slices, kPar2MaxInputSlices));
    size_t wrongSize = 0;
    for (const auto& entry : packets.recovery) {
        if (entry.second.size != set.sliceSize)
            ++wrongSize;
        else
            set.recoverySlices.push_back({entry.first, entry.second.source, entry.second.offset});
    }
    if (wrongSize)
        problem(std::to_string(wrongSize) + " recovery slices do not hold one slice size of data");
    if (!checksums && described)
        problem("slice checksums are missing for a file of the recovery set");
    set.verifiable = described && packets.conflicts == 0 && slices <= kPar2MaxInputSlices;
    set.repairable = set.verifiable && checksums;
    return set;
}

std::vector<Par2Set> Reader::Finish()
{
    std::vector<std::pair<size_t, Par2Set>> counted;
    for (auto& entry : sets_)
        counted.emplace_back(entry.second.packets, Model(entry.first, entry.second));
    sets_.clear();
    std::stable_sort(counted.begin(), counted.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<Par2Set> sets;
    for (auto& entry : counted)
        sets.push_back(std::move(entry.second));
    return sets;
}

}  // namespace

Par2Reading ReadPar2Files(const std::vector<ByteSource*>& files, const Par2Progress& progress)
{
    Par2Reading reading;
    Reader reader(progress);
    for (size_t i = 0; i < files.size() && !reader.stopped(); ++i)
        reading.files.push_back(reader.ReadFile(i, *files[i]));
    reading.stopped = reader.stopped();
    reading.sets = reader.Finish();
    return reading;
}

std::string Par2IdText(const Par2Id& id)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : id) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}
