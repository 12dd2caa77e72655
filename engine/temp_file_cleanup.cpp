#include "engine/temp_file_cleanup.h"

#include <windows.h>

#include <string>
#include <unordered_set>

#include "engine/release_names.h"
#include "engine/source_deletion.h"
#include "base/text.h"

namespace {

// Removes from `list` every path that names one of `files`, in one walk over the list.
void RemoveFilesNamed(FileList& list, const std::unordered_set<std::wstring>& files)
{
    if (!files.empty())
        list.RemoveIf([&](const std::string& path) { return files.count(FileIdentity(path)) != 0; });
}

// What a file is looked up by in the keep set, whose pattern "*.nfo" became the key "nfo".
std::string KeepKey(const std::string& path)
{
    const std::string extension = ExtensionOf(path);
    return extension.empty() ? OwnName(path) : extension;
}

}  // namespace

void RemoveOverwritten(FileList& firstLevel, const FileList& secondLevel)
{
    std::unordered_set<std::wstring> written;
    for (const std::string& path : secondLevel)
        written.insert(FileIdentity(path));
    RemoveFilesNamed(firstLevel, written);
}

void RemoveKeptFiles(FileList& firstLevel, const KeepExtensionSet& keepExtensions)
{
    // The settings hold their texts in the ANSI code page, the engine's paths are UTF-8.
    std::unordered_set<std::string> keys;
    for (const auto& key : keepExtensions)
        keys.insert(Utf8FromCodePage(key, CP_ACP));
    std::unordered_set<std::wstring> kept;
    for (const std::string& path : firstLevel)
        if (keys.count(KeepKey(path)) != 0)
            kept.insert(FileIdentity(path));
    RemoveFilesNamed(firstLevel, kept);
}

Failure TempFileCleanup(const UnpackContext& context, FileList& intermediates, const FileList& secondLevel,
                        const std::vector<JournalFile>& results)
{
    if (context.settings.keepOverwritten)
        RemoveOverwritten(intermediates, secondLevel);
    if (!context.settings.keepExtensions.empty())
        RemoveKeptFiles(intermediates, context.settings.keepExtensions);
    // One the job did not look at before the second pass read it is not its own: a file of an
    // output's content that stood in the destination.
    intermediates.RemoveIf([&](const std::string& path) { return !context.seen->Of(path); });
    return ConsumeSources(context, std::vector<std::string>(intermediates.begin(), intermediates.end()), results);
}
