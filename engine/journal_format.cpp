#include "engine/journal_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/names.h"
#include "base/sha256.h"

namespace {

const char kFormat[] = "ravelpak journal 4";
const char kMac[] = "M\t";
const char kAbsent[] = "-";
// End the line of an output that landed on a file of its content that stood there, and of one
// that came out of a set inside the consumed file, in this order.
const char kStood[] = "stood";
const char kSecondLevel[] = "second";

std::string Hex(uint64_t value, int digits)
{
    char text[17];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

size_t LineEnd(const std::string& text, size_t at)
{
    const size_t stop = text.find('\n', at);
    return stop == std::string::npos ? text.size() : stop + 1;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// A number of up to 64 bits in `base` (10 or 16), digits only: no sign, no space, no prefix.
bool Number(const std::string& text, uint64_t& value, int base = 10)
{
    if (text.empty() || text.size() > (base == 16 ? 16u : 20u))
        return false;
    value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0 || value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            return false;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return true;
}

bool Crc(const std::string& text, uint32_t& crc)
{
    uint64_t value = 0;
    if (!Number(text, value, 16) || value > 0xFFFFFFFFu)
        return false;
    crc = static_cast<uint32_t>(value);
    return true;
}

// A path as the text writes it: the folder it lies below, then its name there.
bool IsRecordedPath(const std::string& field)
{
    return field.size() > 2 && (field[0] == 'S' || field[0] == 'D') && field[1] == ':' &&
           IsContainedName(field.substr(2));
}

// A file line's fields from `at` on: path, size, CRC.
bool FileFields(const std::vector<std::string>& fields, size_t at, JournalFile& file)
{
    if (fields.size() != at + 3 || !IsRecordedPath(fields[at]) || !Number(fields[at + 1], file.size) ||
        !Crc(fields[at + 2], file.crc))
        return false;
    file.path = fields[at];
    return true;
}

std::string FileLine(const JournalFile& file)
{
    return "\t" + file.path + "\t" + std::to_string(file.size) + "\t" + Hex(file.crc, 8);
}

std::string ProofFields(const FileProof& proof)
{
    std::string text = "\t" + std::to_string(proof.size) + "\t" + (proof.hasCrc ? Hex(proof.crc, 8) : kAbsent);
    if (!proof.hasId)
        return text + "\t" + kAbsent + "\t" + kAbsent + "\t" + kAbsent;
    std::string id;
    for (uint8_t byte : proof.id)
        id += Hex(byte, 2);
    return text + "\t" + Hex(proof.writeTime, 16) + "\t" + Hex(proof.volume, 16) + "\t" + id;
}

// The proof fields from `at` on: size, CRC or "-", then write time, volume and id, or "-"
// for all three.
bool ReadProof(const std::vector<std::string>& fields, size_t at, FileProof& proof)
{
    if (fields.size() != at + 5 || !Number(fields[at], proof.size))
        return false;
    proof.hasCrc = fields[at + 1] != kAbsent;
    if (proof.hasCrc && !Crc(fields[at + 1], proof.crc))
        return false;
    proof.hasId = fields[at + 2] != kAbsent;
    if (!proof.hasId)
        return fields[at + 3] == kAbsent && fields[at + 4] == kAbsent;
    const std::string& id = fields[at + 4];
    if (!Number(fields[at + 2], proof.writeTime, 16) || !Number(fields[at + 3], proof.volume, 16) ||
        id.size() != 2 * proof.id.size())
        return false;
    for (size_t i = 0; i < proof.id.size(); ++i) {
        uint64_t byte = 0;
        if (!Number(id.substr(2 * i, 2), byte, 16))
            return false;
        proof.id[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

// An output's line without the marks that may end it, which go to `file`.
std::vector<std::string> WithoutMarks(std::vector<std::string> fields, JournalFile& file)
{
    file.secondLevel = fields.size() > 1 && fields.back() == kSecondLevel;
    if (file.secondLevel)
        fields.pop_back();
    file.stood = fields.size() > 1 && fields.back() == kStood;
    if (file.stood)
        fields.pop_back();
    return fields;
}

std::string Marks(const JournalFile& output)
{
    return (output.stood ? std::string("\t") + kStood : std::string()) +
           (output.secondLevel ? std::string("\t") + kSecondLevel : std::string());
}

// A run's tag: letters and digits, which a file name holds as they are.
bool IsRunTag(const std::string& tag)
{
    return !tag.empty() && tag.size() <= 16 &&
           std::all_of(tag.begin(), tag.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// One record line into `records`; `setSeen` tells whether the set's line came already. False
// for a line out of form.
bool ReadRecord(const std::vector<std::string>& fields, JournalRecords& records, bool& setSeen)
{
    const std::string& tag = fields[0];
    const auto paths = [&](size_t from) {
        return std::all_of(fields.begin() + static_cast<std::ptrdiff_t>(from), fields.end(), IsRecordedPath);
    };
    JournalFile file;
    const std::vector<std::string> output = WithoutMarks(fields, file);
    SetUnderDeletion& set = records.set;
    if (tag == "T" && fields.size() == 2 && IsRunTag(fields[1])) {
        records.runs.push_back(fields[1]);
    } else if (tag == "V" && FileFields(fields, 1, file)) {
        records.verified.push_back(file);
    } else if (tag == "C" && fields.size() == 8 && IsRecordedPath(fields[1]) && IsRecordedPath(fields[2])) {
        ConsumedFile consumed;
        consumed.key = fields[1];
        consumed.path = fields[2];
        if (!ReadProof(fields, 3, consumed.proof))
            return false;
        records.consumed.push_back(consumed);
    } else if (tag == "O" && output.size() == 5 && IsRecordedPath(output[1]) && FileFields(output, 2, file)) {
        records.outputs.emplace_back(output[1], file);
    } else if (tag == "R" && fields.size() == 3 && paths(1)) {
        records.renamed.emplace_back(fields[1], fields[2]);
    } else if (tag == "N" && fields.size() == 3 && paths(1)) {
        records.named.emplace_back(fields[1], fields[2]);
    } else if (tag == "P" && fields.size() == 9 && IsRecordedPath(fields[1]) &&
               (fields[2] == kAbsent ? fields[3] == kAbsent : IsRecordedPath(fields[2]) && IsRecordedPath(fields[3]))) {
        const auto given = [](const std::string& field) { return field == kAbsent ? std::string() : field; };
        Par2Repair repair{fields[1], given(fields[2]), given(fields[3]), FileProof()};
        if (!ReadProof(fields, 4, repair.kept))
            return false;
        records.repaired.push_back(repair);
    } else if (tag == "S" && fields.size() == 6 && !setSeen) {
        uint64_t deleted = 0;
        const bool betweenEntries = fields[2] == kAbsent && fields[5] == kAbsent;
        if (!Number(fields[1], deleted) || !Number(fields[3], set.entryBytes) || !Crc(fields[4], set.entryCrc) ||
            !(betweenEntries || (IsRecordedPath(fields[2]) && IsRecordedPath(fields[5]))))
            return false;
        setSeen = true;
        set.deleted = static_cast<size_t>(deleted);
        set.entry = betweenEntries ? std::string() : fields[2];
        set.temporary = betweenEntries ? std::string() : fields[5];
    } else if (tag == "W" && setSeen && fields.size() == 9 && FileFields({fields.begin(), fields.begin() + 4}, 1, file)) {
        FileProof proof;
        if (!ReadProof(fields, 4, proof))
            return false;
        set.volumes.push_back(file);
        set.proofs.push_back(proof);
    } else if (tag == "X" && setSeen && output.size() == 5 && IsRecordedPath(output[4]) &&
               FileFields({output.begin(), output.end() - 1}, 1, file)) {
        set.outputs.push_back(file);
        set.targets.push_back(output[4]);
    } else {
        return false;
    }
    return true;
}

// The records of the state whose lines lie between `start` and `end` (after its header line,
// before its MAC line), when it names `identity`.
bool ReadState(const std::string& text, size_t start, size_t end, const std::string& identity,
               JournalRecords& records, uint64_t& sequence)
{
    records = JournalRecords();
    bool setSeen = false;
    for (size_t line = 0; start < end; ++line) {
        const size_t stop = text.find('\n', start);
        const std::vector<std::string> fields = Fields(text.substr(start, stop - start));
        start = stop + 1;
        if (line == 0) {
            if (fields.size() != 2 || fields[0] != "Q" || !Number(fields[1], sequence))
                return false;
        } else if (line == 1) {
            if (fields.size() != 2 || fields[0] != "J" || fields[1] != identity)
                return false;
        } else if (!ReadRecord(fields, records, setSeen)) {
            return false;
        }
    }
    const SetUnderDeletion& set = records.set;
    return !setSeen || (!set.volumes.empty() && set.deleted <= set.volumes.size());
}

}  // namespace

std::string WriteJournalText(const JournalRecords& records, const JournalOwner& owner, uint64_t sequence)
{
    std::string text = std::string(kFormat) + "\nQ\t" + std::to_string(sequence) + "\nJ\t" + owner.identity + "\n";
    for (const std::string& run : records.runs)
        text += "T\t" + run + "\n";
    for (const JournalFile& file : records.verified)
        text += "V" + FileLine(file) + "\n";
    for (const ConsumedFile& consumed : records.consumed)
        text += "C\t" + consumed.key + "\t" + consumed.path + ProofFields(consumed.proof) + "\n";
    for (const auto& output : records.outputs)
        text += "O\t" + output.first + FileLine(output.second) + Marks(output.second) + "\n";
    for (const auto& renamed : records.renamed)
        text += "R\t" + renamed.first + "\t" + renamed.second + "\n";
    for (const auto& named : records.named)
        text += "N\t" + named.first + "\t" + named.second + "\n";
    const auto field = [](const std::string& path) { return path.empty() ? std::string(kAbsent) : path; };
    for (const Par2Repair& repaired : records.repaired)
        text += "P\t" + repaired.path + "\t" + field(repaired.original) + "\t" + field(repaired.damaged) +
                ProofFields(repaired.kept) + "\n";
    const SetUnderDeletion& set = records.set;
    if (!set.volumes.empty()) {
        text += "S\t" + std::to_string(set.deleted) + "\t" + field(set.entry) + "\t" + std::to_string(set.entryBytes) +
                "\t" + Hex(set.entryCrc, 8) + "\t" + field(set.temporary) + "\n";
        for (size_t i = 0; i < set.volumes.size(); ++i)
            text += "W" + FileLine(set.volumes[i]) + ProofFields(i < set.proofs.size() ? set.proofs[i] : FileProof()) + "\n";
        for (size_t i = 0; i < set.outputs.size(); ++i)
            text += "X" + FileLine(set.outputs[i]) + "\t" + (i < set.targets.size() ? set.targets[i] : kAbsent) +
                    Marks(set.outputs[i]) + "\n";
    }
    const Sha256Digest mac = HmacSha256(owner.key, text);
    return text + kMac + HexOf(mac.data(), mac.size()) + "\n";
}

bool ReadJournalText(const std::string& text, const JournalOwner& owner, JournalRecords& records, JournalState& state)
{
    const std::string header = std::string(kFormat) + "\n";
    const size_t kMacLine = 2 + 64 + 1;
    bool found = false;
    // A state runs from a header line to the first MAC line after it; one with another header
    // line before that was cut, and is passed over unhashed.
    for (size_t start = 0; start < text.size();) {
        if (text.compare(start, header.size(), header) != 0) {
            start = LineEnd(text, start);
            continue;
        }
        size_t mac = start + header.size();
        while (mac < text.size() && text.compare(mac, 2, kMac) != 0 && text.compare(mac, header.size(), header) != 0)
            mac = LineEnd(text, mac);
        if (mac >= text.size() || text.compare(mac, 2, kMac) != 0) {
            start = mac;
            continue;
        }
        const size_t end = LineEnd(text, mac);
        JournalRecords candidate;
        uint64_t sequence = 0;
        if (end - mac == kMacLine && text[end - 1] == '\n') {
            const Sha256Digest expected = HmacSha256(owner.key, text.substr(start, mac - start));
            if (text.compare(mac + 2, 64, HexOf(expected.data(), expected.size())) == 0 &&
                ReadState(text, start + header.size(), mac, owner.identity, candidate, sequence) &&
                (!found || sequence > state.sequence)) {
                found = true;
                records = std::move(candidate);
                state = {sequence, start, end};
            }
        }
        start = end;
    }
    return found;
}
