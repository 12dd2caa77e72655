#include "host/progress.h"

#include <cstring>

std::atomic<tProcessDataProc> ProcessDataProc{nullptr};

int HostProgressSink::Report(const std::string& text, int size)
{
    char buffer[MAX_PATH];
    size_t length = text.size() < MAX_PATH - 1 ? text.size() : MAX_PATH - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return proc_(buffer, size);
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
    case Outcome::NoMemory:
        return E_NO_MEMORY;
    }
    return E_BAD_DATA;
}
