// Stands in for the host's progress callback inside a test process: records every call and
// answers "stop" on a chosen call.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/job_progress.h"

class HostRecorder : public ProgressSink {
public:
    HostRecorder();   // installs itself as the module's callback
    ~HostRecorder();  // removes the callback again

    // Every call as "SIZE NAME", in call order.
    std::vector<std::string> calls;
    // The call number (from 1) from which on every call is answered with 0, as the host does
    // once the user cancelled; 0 for never.
    long stopAt = 0;
    // Runs inside each call, before it is answered.
    std::function<void(const std::string& name, int size)> onCall;

    int Report(const std::string& text, int size) override;
};
