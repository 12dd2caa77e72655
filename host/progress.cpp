#include "host/progress.h"

#include <cstring>

#include "base/text.h"

std::atomic<tProcessDataProc> ProcessDataProc{nullptr};
std::atomic<tProcessDataProcW> ProcessDataProcW{nullptr};

namespace {

// The text in a MAX_PATH buffer of the caller's, cut when it does not fit.
template <typename Char> Char* InBuffer(const std::basic_string<Char>& text, Char (&buffer)[MAX_PATH])
{
    const size_t length = text.size() < MAX_PATH - 1 ? text.size() : MAX_PATH - 1;
    std::memcpy(buffer, text.data(), length * sizeof(Char));
    buffer[length] = 0;
    return buffer;
}

}  // namespace

int HostProgressSink::Report(const std::string& text, int size)
{
    if (procW_) {
        wchar_t buffer[MAX_PATH];
        return procW_(InBuffer(Widen(text), buffer), size);
    }
    char buffer[MAX_PATH];
    return proc_(InBuffer(CodePageFromUtf8(text, CP_ACP), buffer), size);
}

int WcxResultOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok:
        return E_SUCCESS;
    case Outcome::Stopped:
        return E_EABORTED;
    case Outcome::BadData:
        return E_BAD_DATA;
    case Outcome::CannotRead:
        return E_EOPEN;
    case Outcome::CannotWrite:
    case Outcome::NoRoom:
        return E_EWRITE;
    case Outcome::Encrypted:
    case Outcome::NoLibrary:
        return E_NOT_SUPPORTED;
    case Outcome::NewerFormat:
        return E_UNKNOWN_FORMAT;
    case Outcome::NoMemory:
        return E_NO_MEMORY;
    }
    return E_BAD_DATA;
}
