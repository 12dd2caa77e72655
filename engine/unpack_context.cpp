#include "engine/unpack_context.h"

#include <chrono>
#include <future>

bool UnpackContext::Commit(OutputFile& output, const FILETIME* creation, const FILETIME* access,
                           const FILETIME* write) const
{
    std::future<bool> finished =
        std::async(std::launch::async, [&] { return output.Finish(creation, access, write); });
    while (finished.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        progress->Working(output.target());
    // A file of its name is read to learn whether it holds the same: the host is called for every
    // block, and a stop ends the reading.
    const auto reading = [&] {
        progress->Text(output.target());
        return !progress->stopped();
    };
    if (!finished.get() || !output.Place(ExistingFor(output.target()), false, reading))
        return false;
    Landed(output.landed(), output.target());
    return true;
}
