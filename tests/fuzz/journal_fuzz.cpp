// Fuzz target for the reader of a group's journal: any bytes are read without harm, and what it
// reads the writer writes so that it reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/crc32.h"
#include "engine/journal_format.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Reads `text`; what it reads must be written and read again as the same.
void RoundTrip(const std::string& text)
{
    JournalRecords records;
    if (!ReadJournalText(text, records))
        return;
    check(records.set.deleted <= records.set.volumes.size());
    const std::string written = WriteJournalText(records);
    JournalRecords again;
    check(ReadJournalText(written, again));
    check(WriteJournalText(again) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    RoundTrip(text);
    // The bytes as the body of a journal whose last line vouches for them, so that the records
    // are read, not only the check of the last line.
    char line[16];
    std::snprintf(line, sizeof line, "end\t%08X\n", static_cast<unsigned>(Crc32Update(0, text.data(), text.size())));
    RoundTrip(text + line);
    return 0;
}
