// Fuzz target for the reader of a group's journal: any bytes are read without harm, and what it
// reads the writer writes so that it reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/sha256.h"
#include "engine/journal_format.h"

namespace {

const JournalOwner kOwner{std::string(32, 'k'), "c:\\users\\u\\downloads\\|d:\\films\\"};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Reads `text`; what it reads must be written and read again as the same.
void RoundTrip(const std::string& text)
{
    JournalRecords records;
    JournalState state;
    if (!ReadJournalText(text, kOwner, records, state))
        return;
    check(records.set.deleted <= records.set.volumes.size() && state.end <= text.size());
    const std::string written = WriteJournalText(records, kOwner, state.sequence);
    JournalRecords again;
    JournalState read;
    check(ReadJournalText(written, kOwner, again, read) && read.sequence == state.sequence);
    check(WriteJournalText(again, kOwner, read.sequence) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    RoundTrip(text);
    // The bytes as the records of a state that the key vouches for, so that the records are
    // read, not only the check of the MAC.
    const std::string body = "ravelpak journal 4\nQ\t1\nJ\t" + kOwner.identity + "\n" + text;
    const Sha256Digest mac = HmacSha256(kOwner.key, body);
    RoundTrip(body + "M\t" + HexOf(mac.data(), mac.size()) + "\n");
    return 0;
}
