// The host's progress display and stop request for one pack command. The engine reports the
// bytes of each selected file as a stage actually consumes them, coalesced so that the host is
// called neither for every small block nor too seldom to look alive, and learns of a stop from
// the host's answers.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

// Where the reports go: the host's callback taken when the job began. An answer of 0 means
// the user asked to stop.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual int Report(const std::string& text, int size) = 0;
};

class JobProgress {
public:
    // A null sink makes no calls and never stops.
    explicit JobProgress(ProgressSink* sink);

    // The group's selected files, whose sizes the positive reports add up to.
    void BeginGroup();
    void AddSource(const std::string& path, uint64_t size);

    // `bytes` more of a selected file were consumed. Reports of other files are ignored, and
    // no file is ever reported past its size.
    void Consumed(const std::string& path, uint64_t bytes);
    bool IsSource(const std::string& path) const;
    // Whatever of a selected file was not reported yet, now that the pass is done with it.
    void ConsumeRest(const std::string& path);

    // The percentage done of an item that is no selected file (an archive of the second pass):
    // the host's first bar, -1 to -100. A new item is reported at once.
    void Percent(const std::string& item, int percent);

    // A text for the host's display, sent at once (with size 0): the item now worked on.
    void Text(const std::string& text);
    // A text that names no item (a group's verdict, which ends the group's items), sent at once.
    void Tell(const std::string& text);
    // Calls the host once more with the item named last, or `otherwise` when none was named
    // since the last verdict: a point at which a stop, or the end of the process, can come.
    void Again(const std::string& otherwise);
    // Work goes on with `name` without consuming a selected file: the host is called when it
    // has not been for a while, so that its window stays alive and a stop is heard.
    void Working(const std::string& name);

    // Sends what is pending.
    void Flush();

    bool stopped() const { return stopped_; }

private:
    void Call(const std::string& text, int size);
    bool Due() const;

    ProgressSink* sink_;
    bool stopped_ = false;
    std::unordered_map<std::wstring, uint64_t> unreported_;  // by file identity
    std::string pendingName_;
    std::string percentItem_;  // the item of the last percentage
    std::string lastItem_;     // named by the last call that named one
    uint64_t pendingBytes_ = 0;
    uint64_t lastCall_ = 0;  // tick count of the last call
};
