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
