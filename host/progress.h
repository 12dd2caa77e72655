// The host's progress callback and the stop flag that every call of it writes.
#pragma once

#include <atomic>
#include <string>

#include "host/wcx.h"

// Set by SetProcessDataProc; null until the host hands over its callback. Atomic because the
// host may replace it from its own thread while a background PackFiles runs.
extern std::atomic<tProcessDataProc> ProcessDataProc;

// Holds the result of the latest callback call; 0 means the host asked to stop.
extern int ContinueFlag;

bool HostCallbackSet();

// Hands a text and a size to the host callback when one is set and stores the answer in
// ContinueFlag. The text is copied into a MAX_PATH buffer of our own (the host may write to
// it), cut when it does not fit. Returns the host's answer, or 1 without a callback.
int ReportProgress(const std::string& text, int size);
