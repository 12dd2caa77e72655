// What became of a piece of work (a verification, an archive, a RAR set, a whole group): one
// table of outcomes that every stage returns, each with its meaning written once here. The
// host layer maps them to the codes the file manager understands.
#pragma once

#include <string>

enum class Outcome {
    Ok,           // delivered completely
    Stopped,      // the host asked to stop
    BadData,      // a CRC mismatch, or a damaged archive or volume
    CannotRead,   // a source is missing (a volume of a set, too), locked or unreadable
    CannotWrite,  // output cannot be created or written: held open, read-only, in the way, disk full
    NoRoom,       // the destination's drive has not room enough: nothing was started
    Encrypted,    // the archive needs a password; there is none to give
    NoLibrary,    // no UnRAR library to read RAR archives with
    NewerFormat,  // made by a newer RAR (a newer compression, which large dictionaries need)
                  // than the UnRAR library can unpack
    NoMemory,
};

// A failure and the words that tell the user what became of the work ("CRC mismatch in
// show.zip"). Ok carries no words.
struct Failure {
    Outcome outcome = Outcome::Ok;
    std::string detail;

    bool ok() const { return outcome == Outcome::Ok; }
};

// Collects the outcomes of the pieces of one job: the first failure is the one reported, and a
// stop outranks every failure, since the user asked for it.
class Verdict {
public:
    void Add(const Failure& failure)
    {
        if (failure.outcome == Outcome::Stopped)
            stopped_ = true;
        if (first_.ok() && !failure.ok())
            first_ = failure;
    }
    bool ok() const { return first_.ok() && !stopped_; }
    bool stopped() const { return stopped_; }
    // The outcome to report: Stopped when the host asked to stop, else the first failure.
    Outcome outcome() const { return stopped_ ? Outcome::Stopped : first_.outcome; }
    const Failure& firstFailure() const { return first_; }

private:
    Failure first_;
    bool stopped_ = false;
};
