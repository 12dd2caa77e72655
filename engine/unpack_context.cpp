#include "engine/unpack_context.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "engine/journal.h"

const TemporaryTags& UnpackContext::Temporaries() const
{
    const std::vector<std::string>* runs = journal ? &journal->runs() : nullptr;
    // Without the record the temporary files are only not known as the job's own later; a
    // change that names one of them says it (ClaimRun).
    if (runs && !temporaries.run.empty() && std::find(runs->begin(), runs->end(), temporaries.run) == runs->end())
        journal->Record([&](Journal& next) { ClaimRun(next); });
    return temporaries;
}

void UnpackContext::ClaimRun(Journal& next) const
{
    const std::vector<std::string>& runs = next.runs();
    if (!temporaries.run.empty() && std::find(runs.begin(), runs.end(), temporaries.run) == runs.end())
        next.AddRun(temporaries.run);
}

bool UnpackContext::Commit(OutputFile& output, const FILETIME* creation, const FILETIME* access,
                           const FILETIME* write) const
{
    return PutOnDisk(output, creation, access, write) && Name(output);
}

bool UnpackContext::PutOnDisk(OutputFile& output, const FILETIME* creation, const FILETIME* access,
                              const FILETIME* write) const
{
    std::future<bool> finished =
        std::async(std::launch::async, [&] { return output.Finish(creation, access, write); });
    while (finished.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        progress->Working(output.target());
    return finished.get();
}

bool UnpackContext::Name(OutputFile& output) const
{
    // A file of its name is read to learn whether it holds the same: the host is called for every
    // block, and a stop ends the reading.
    const auto reading = [&] {
        progress->Text(output.target());
        return !progress->stopped();
    };
    if (!output.Place(ExistingFor(output.target()), false, reading))
        return false;
    Landed(output.landed(), output.target());
    return true;
}
