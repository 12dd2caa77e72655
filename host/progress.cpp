#include "host/progress.h"

#include <cstring>

std::atomic<tProcessDataProc> ProcessDataProc{nullptr};
int ContinueFlag = 1;

bool HostCallbackSet()
{
    return ProcessDataProc.load() != nullptr;
}

int ReportProgress(const std::string& text, int size)
{
    tProcessDataProc proc = ProcessDataProc.load();
    if (!proc)
        return 1;
    char buffer[MAX_PATH];
    size_t length = text.size() < MAX_PATH - 1 ? text.size() : MAX_PATH - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    ContinueFlag = proc(buffer, size);
    return ContinueFlag;
}
