#include "settings/unpack_settings.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {

// The one record of the process, guarded by the settings lock.
SettingsRecord g_settings;

std::mutex& SettingsLock()
{
    static std::mutex lock;
    return lock;
}

std::atomic<UnpackSettingsLoader> g_loader{nullptr};

// Runs the loader the first time only. Its own lock, not the settings lock: the loader reads
// a file and installs the record, and a copy must never wait on a file.
void LoadOnce()
{
    static std::mutex lock;
    static bool loaded = false;
    const UnpackSettingsLoader loader = g_loader.load();
    if (!loader)
        return;
    std::lock_guard<std::mutex> guard(lock);
    if (loaded)
        return;
    loaded = true;
    loader();
}

}  // namespace

void SetUnpackSettingsLoader(UnpackSettingsLoader loader)
{
    g_loader.store(loader);
}

SettingsRecord SnapshotUnpackSettings()
{
    LoadOnce();
    std::lock_guard<std::mutex> guard(SettingsLock());
    return g_settings;
}

void InstallUnpackSettings(const SettingsRecord& record)
{
    SettingsRecord copy(record);
    std::lock_guard<std::mutex> guard(SettingsLock());
    std::swap(g_settings, copy);
}

void SetKeepPatternText(SettingsRecord& record, const std::string& text)
{
    record.fileToKeep = text;
    ParseKeepPatterns(text, record.keepPatterns);
    BuildKeepExtensions(record.keepPatterns, record.keepExtensions);
}

void ParseKeepPatterns(const std::string& text, std::vector<std::string>& patterns)
{
    patterns.clear();
    std::string token;
    auto finishToken = [&]() {
        if (token.size() >= 2)
            patterns.push_back(token);
        token.clear();
    };
    for (char c : text) {
        if (c == ' ')
            continue;
        if (c == ',')
            finishToken();
        else
            token += c;
    }
    finishToken();
}

void BuildKeepExtensions(const std::vector<std::string>& patterns, KeepExtensionSet& keepExtensions)
{
    keepExtensions.clear();
    for (const std::string& pattern : patterns) {
        const size_t dot = pattern.rfind('.');
        keepExtensions.insert(dot == std::string::npos ? pattern : pattern.substr(dot + 1));
    }
}
