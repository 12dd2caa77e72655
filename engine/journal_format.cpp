#include "engine/journal_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "base/crc32.h"

namespace {

const char kFormat[] = "ravelpak journal 3";
// Its runs are not told, and the temporary file of the entry being written is its real path +
// ".incomplete".
const char kUntaggedFormat[] = "ravelpak journal 2";
// Its consumed records name a path only, besides: they prove nothing about the file that stands there.
const char kPathOnlyFormat[] = "ravelpak journal 1";
const char kEnd[] = "end\t";
const char kAbsent[] = "-";

std::string Hex(uint64_t value, int digits)
{
    char text[17];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
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

// A file line's fields from `at` on: path, size, CRC.
bool FileFields(const std::vector<std::string>& fields, size_t at, JournalFile& file)
{
    if (fields.size() != at + 3 || fields[at].empty() || !Number(fields[at + 1], file.size) ||
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
    if (!proof.hasIndex)
        return text + "\t" + kAbsent + "\t" + kAbsent + "\t" + kAbsent;
    return text + "\t" + Hex(proof.writeTime, 16) + "\t" + Hex(proof.volume, 8) + "\t" + Hex(proof.index, 16);
}

// The proof fields from `at` on: size, CRC or "-", then write time, volume and index, or "-"
// for all three.
bool ReadProof(const std::vector<std::string>& fields, size_t at, FileProof& proof)
{
    if (fields.size() != at + 5 || !Number(fields[at], proof.size))
        return false;
    proof.hasCrc = fields[at + 1] != kAbsent;
    if (proof.hasCrc && !Crc(fields[at + 1], proof.crc))
        return false;
    proof.hasIndex = fields[at + 2] != kAbsent;
    if (!proof.hasIndex)
        return fields[at + 3] == kAbsent && fields[at + 4] == kAbsent;
    uint64_t volume = 0;
    return Number(fields[at + 2], proof.writeTime, 16) && Number(fields[at + 3], volume, 16) &&
           volume <= 0xFFFFFFFFu && Number(fields[at + 4], proof.index, 16) &&
           (proof.volume = static_cast<uint32_t>(volume), true);
}

// A run's tag: letters and digits, which a file name holds as they are.
bool IsRunTag(const std::string& tag)
{
    return !tag.empty() && tag.size() <= 16 &&
           std::all_of(tag.begin(), tag.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// One record line of a journal of `version` (1 to 3) into `records`; `setSeen` tells whether
// the set's line came already. False for a line out of form.
bool ReadRecord(const std::vector<std::string>& fields, int version, JournalRecords& records, bool& setSeen)
{
    const std::string& tag = fields[0];
    JournalFile file;
    SetUnderDeletion& set = records.set;
    if (tag == "T" && version >= 3 && fields.size() == 2 && IsRunTag(fields[1])) {
        records.runs.push_back(fields[1]);
    } else if (tag == "V" && FileFields(fields, 1, file)) {
        records.verified.push_back(file);
    } else if (tag == "C" && fields.size() >= 3 && !fields[1].empty() && !fields[2].empty()) {
        ConsumedFile consumed;
        consumed.key = fields[1];
        consumed.path = fields[2];
        if (version == 1 ? fields.size() != 3 : !ReadProof(fields, 3, consumed.proof))
            return false;
        records.consumed.push_back(consumed);
    } else if (tag == "O" && fields.size() == 5 && !fields[1].empty() && FileFields(fields, 2, file)) {
        records.outputs.emplace_back(fields[1], file);
    } else if (tag == "R" && fields.size() == 3 && !fields[1].empty() && !fields[2].empty()) {
        records.renamed.emplace_back(fields[1], fields[2]);
    } else if (tag == "N" && version >= 2 && fields.size() == 3 && !fields[1].empty() && !fields[2].empty()) {
        records.named.emplace_back(fields[1], fields[2]);
    } else if (tag == "P" && version >= 2 && fields.size() == 4 && !fields[1].empty() && !fields[2].empty() &&
               !fields[3].empty() && (fields[2] == kAbsent) == (fields[3] == kAbsent)) {
        const auto given = [](const std::string& field) { return field == kAbsent ? std::string() : field; };
        records.repaired.push_back({fields[1], given(fields[2]), given(fields[3])});
    } else if (tag == "S" && fields.size() == (version >= 3 ? 6u : 5u) && !setSeen) {
        uint64_t deleted = 0;
        if (!Number(fields[1], deleted) || !Number(fields[3], set.entryBytes) || !Crc(fields[4], set.entryCrc))
            return false;
        setSeen = true;
        set.deleted = static_cast<size_t>(deleted);
        set.entry = fields[2];
        if (version >= 3)
            set.temporary = fields[5] == kAbsent ? std::string() : fields[5];
        else if (!set.entry.empty())
            set.temporary = set.entry + ".incomplete";
        if (set.entry.empty() != set.temporary.empty())
            return false;
    } else if (tag == "W" && setSeen && FileFields(fields, 1, file)) {
        set.volumes.push_back(file);
    } else if (tag == "X" && setSeen && FileFields(fields, 1, file)) {
        set.outputs.push_back(file);
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::string WriteJournalText(const JournalRecords& records)
{
    std::string text = std::string(kFormat) + "\n";
    for (const std::string& run : records.runs)
        text += "T\t" + run + "\n";
    for (const JournalFile& file : records.verified)
        text += "V" + FileLine(file) + "\n";
    for (const ConsumedFile& consumed : records.consumed)
        text += "C\t" + consumed.key + "\t" + consumed.path + ProofFields(consumed.proof) + "\n";
    for (const auto& output : records.outputs)
        text += "O\t" + output.first + FileLine(output.second) + "\n";
    for (const auto& renamed : records.renamed)
        text += "R\t" + renamed.first + "\t" + renamed.second + "\n";
    for (const auto& named : records.named)
        text += "N\t" + named.first + "\t" + named.second + "\n";
    const auto field = [](const std::string& path) { return path.empty() ? std::string(kAbsent) : path; };
    for (const Par2Repair& repaired : records.repaired)
        text += "P\t" + repaired.path + "\t" + field(repaired.original) + "\t" + field(repaired.damaged) + "\n";
    const SetUnderDeletion& set = records.set;
    if (!set.volumes.empty()) {
        text += "S\t" + std::to_string(set.deleted) + "\t" + set.entry + "\t" + std::to_string(set.entryBytes) + "\t" +
                Hex(set.entryCrc, 8) + "\t" + field(set.temporary) + "\n";
        for (const JournalFile& volume : set.volumes)
            text += "W" + FileLine(volume) + "\n";
        for (const JournalFile& output : set.outputs)
            text += "X" + FileLine(output) + "\n";
    }
    return text + kEnd + Hex(Crc32Update(0, text.data(), text.size()), 8) + "\n";
}

bool ReadJournalText(const std::string& text, JournalRecords& records)
{
    records = JournalRecords();
    const size_t header = text.find('\n');
    if (header == std::string::npos)
        return false;
    const std::string format = text.substr(0, header);
    const int version = format == kFormat ? 3 : format == kUntaggedFormat ? 2 : format == kPathOnlyFormat ? 1 : 0;
    // The last line vouches for everything before it: a cut or changed journal fails here.
    const size_t end = text.rfind(kEnd);
    uint32_t crc = 0;
    if (version == 0 || end == std::string::npos || end <= header || text[end - 1] != '\n' || text.back() != '\n' ||
        !Crc(text.substr(end + 4, text.size() - end - 5), crc) || Crc32Update(0, text.data(), end) != crc)
        return false;
    bool setSeen = false;
    for (size_t start = header + 1; start < end;) {
        const size_t stop = text.find('\n', start);
        if (!ReadRecord(Fields(text.substr(start, stop - start)), version, records, setSeen))
            return false;
        start = stop + 1;
    }
    const SetUnderDeletion& set = records.set;
    return !setSeen || (!set.volumes.empty() && set.deleted <= set.volumes.size());
}
