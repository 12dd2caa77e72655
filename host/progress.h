// The host's progress callback: the slot that SetProcessDataProc fills, and the sink through
// which one PackFiles call reports to the callback it started with.
#pragma once

#include <atomic>
#include <string>

#include "engine/job_progress.h"
#include "engine/outcome.h"
#include "host/wcx.h"

// Set by SetProcessDataProc and SetProcessDataProcW; null until the host hands over its
// callback. Atomic because the host may set them for another background job while a PackFiles
// runs.
extern std::atomic<tProcessDataProc> ProcessDataProc;
extern std::atomic<tProcessDataProcW> ProcessDataProcW;

// Reports to one host callback, taken when the job began: the wide one when the host set it,
// else the ANSI one (its texts in the ANSI code page). Each text is copied into a MAX_PATH
// buffer of our own (the host may write to it), cut when it does not fit.
class HostProgressSink : public ProgressSink {
public:
    // The callbacks that the host has set now.
    HostProgressSink() : proc_(ProcessDataProc.load()), procW_(ProcessDataProcW.load()) {}
    bool Connected() const { return proc_ || procW_; }
    int Report(const std::string& text, int size) override;

private:
    tProcessDataProc proc_;
    tProcessDataProcW procW_;
};

// The one place where the engine's outcomes become the codes the host understands.
int WcxResultOf(Outcome outcome);
