#include "engine/job_progress.h"

#include <windows.h>

#include <climits>

#include "base/text.h"

namespace {

// At most one call per this much work, and at least one per interval while work goes on.
const uint64_t kReportBytes = 512 * 1024;
const uint64_t kReportIntervalMs = 250;

}  // namespace

JobProgress::JobProgress(ProgressSink* sink) : sink_(sink), lastCall_(GetTickCount64()) {}

void JobProgress::BeginGroup()
{
    Flush();
    unreported_.clear();
}

void JobProgress::AddSource(const std::string& path, uint64_t size)
{
    unreported_[FileIdentity(path)] = size;
}

void JobProgress::Consumed(const std::string& path, uint64_t bytes)
{
    auto source = unreported_.find(FileIdentity(path));
    if (source == unreported_.end())
        return Working(path);
    if (bytes > source->second)
        bytes = source->second;
    source->second -= bytes;
    if (path != pendingName_) {
        Flush();
        pendingName_ = path;
    }
    pendingBytes_ += bytes;
    if (pendingBytes_ >= kReportBytes || Due())
        Flush();
}

bool JobProgress::IsSource(const std::string& path) const
{
    return unreported_.count(FileIdentity(path)) != 0;
}

void JobProgress::ConsumeRest(const std::string& path)
{
    auto source = unreported_.find(FileIdentity(path));
    if (source != unreported_.end() && source->second > 0)
        Consumed(path, source->second);
}

void JobProgress::Percent(const std::string& item, int percent)
{
    // A new item is shown at once, so that the host names what is being worked on.
    if (item == percentItem_ && !Due())
        return;
    percentItem_ = item;
    Flush();
    Call(item, -(percent < 1 ? 1 : percent > 100 ? 100 : percent));
}

void JobProgress::Text(const std::string& text)
{
    Flush();
    Call(text, 0);
}

void JobProgress::Tell(const std::string& text)
{
    Flush();
    Call(text, 0);
    lastItem_.clear();
}

void JobProgress::Again(const std::string& otherwise)
{
    Flush();
    Call(lastItem_.empty() ? otherwise : lastItem_, 0);
}

void JobProgress::Working(const std::string& name)
{
    if (!Due())
        return;
    if (pendingName_.empty()) {
        Call(name, 0);
        return;
    }
    Flush();
}

void JobProgress::Flush()
{
    if (pendingName_.empty())
        return;
    // The host takes 32-bit sizes: a larger amount goes in several calls.
    do {
        const int size = pendingBytes_ > INT_MAX ? INT_MAX : static_cast<int>(pendingBytes_);
        pendingBytes_ -= static_cast<uint64_t>(size);
        Call(pendingName_, size);
    } while (pendingBytes_ > 0);
    pendingName_.clear();
}

void JobProgress::Call(const std::string& text, int size)
{
    lastCall_ = GetTickCount64();
    lastItem_ = text;
    if (sink_ && sink_->Report(text, size) == 0)
        stopped_ = true;
}

bool JobProgress::Due() const
{
    return GetTickCount64() - lastCall_ >= kReportIntervalMs;
}
