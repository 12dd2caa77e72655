// The host's progress callback: the slot that SetProcessDataProc fills, and the sink through
// which one PackFiles call reports to the callback it started with.
#pragma once

#include <atomic>
#include <string>

#include "engine/job_progress.h"
#include "engine/outcome.h"
#include "host/wcx.h"

// Set by SetProcessDataProc; null until the host hands over its callback. Atomic because the
// host may set it for another background job while a PackFiles runs.
extern std::atomic<tProcessDataProc> ProcessDataProc;

// Reports to one host callback, taken when the job began. Each text is copied into a MAX_PATH
// buffer of our own (the host may write to it), cut when it does not fit.
class HostProgressSink : public ProgressSink {
public:
    explicit HostProgressSink(tProcessDataProc proc) : proc_(proc) {}
    int Report(const std::string& text, int size) override;

private:
    tProcessDataProc proc_;
};

// The one place where the engine's outcomes become the codes the host understands.
int WcxResultOf(Outcome outcome);
