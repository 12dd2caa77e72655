#include "tests/support/host_recorder.h"

#include "host/progress.h"

namespace {
HostRecorder* g_active = nullptr;

int __stdcall RecordCall(char* name, int size)
{
    return g_active->Report(name, size);
}
}  // namespace

HostRecorder::HostRecorder()
{
    g_active = this;
    ProcessDataProc.store(RecordCall);
}

HostRecorder::~HostRecorder()
{
    ProcessDataProc.store(nullptr);
    g_active = nullptr;
}

int HostRecorder::Report(const std::string& text, int size)
{
    calls.push_back(std::to_string(size) + " " + text);
    if (onCall)
        onCall(text, size);
    return stopAt != 0 && static_cast<long>(calls.size()) >= stopAt ? 0 : 1;
}
