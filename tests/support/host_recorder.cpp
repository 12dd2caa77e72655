#include "tests/support/host_recorder.h"

#include "host/progress.h"

namespace {
HostRecorder* g_active = nullptr;

int __stdcall RecordCall(char* name, int size)
{
    HostRecorder& recorder = *g_active;
    recorder.calls.push_back(std::to_string(size) + " " + name);
    if (recorder.onCall)
        recorder.onCall(name, size);
    const bool stopped = recorder.stopAt != 0 && static_cast<long>(recorder.calls.size()) >= recorder.stopAt;
    return stopped ? 0 : 1;
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

std::vector<std::string> HostRecorder::Names() const
{
    std::vector<std::string> folded;
    for (const std::string& call : calls) {
        std::string name = call.substr(call.find(' ') + 1);
        if (folded.empty() || folded.back() != name)
            folded.push_back(name);
    }
    return folded;
}
