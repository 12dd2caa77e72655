#include "engine/zip_stage.h"

#include "engine/paths.h"
#include "engine/zip/zip_reader.h"
#include "host/progress.h"

bool ExtractZip(const std::string& archivePath, const std::string& destination, FileList& output)
{
    const std::string archiveDirectory = DirectoryOf(archivePath);
    // A reader that did not open is null; every call below then answers BadArgument and the
    // entry count is 0.
    ZipReader* reader = openReader(archivePath);
    bool complete = reader != nullptr;
    setBaseDirectory(reader, destination);
    ZipItem summary;
    getItem(reader, -1, summary);
    const int32_t count = summary.index;
    for (int32_t index = 0; index < count; ++index) {
        ZipItem item;
        getItem(reader, index, item);
        if (ReportProgress(archiveDirectory + item.name, 0) == 0) {
            complete = false;
            break;
        }
        bool intact = false;
        complete = extractItem(reader, index, item.name, &intact) == ZipStatus::Ok && intact && complete;
        output.Append(destination + item.name);
    }
    closeReader(reader);
    return complete;
}
