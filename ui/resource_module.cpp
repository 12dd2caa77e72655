#include "ui/resource_module.h"

#include <atomic>
#include <mutex>

namespace {

const char kLanguageName[] = "ravelpak_chs.dll";

std::atomic<HINSTANCE> g_module{nullptr};

std::mutex g_resourceLock;
bool g_resourceResolved = false;
HMODULE g_languageModule = nullptr;

std::string ModuleDirectory()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(g_module.load(), path, MAX_PATH);
    const std::string module(path, length < MAX_PATH ? length : 0);
    const size_t slash = module.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : module.substr(0, slash + 1);
}

}  // namespace

void KeepResourceInstance(HINSTANCE module)
{
    g_module.store(module);
}

HINSTANCE ResourceModule()
{
    std::lock_guard<std::mutex> guard(g_resourceLock);
    if (!g_resourceResolved) {
        g_resourceResolved = true;
        // Resources only: mapped as data, so none of its code ever runs inside the host.
        const std::string language = ModuleDirectory() + kLanguageName;
        g_languageModule = LoadLibraryExA(language.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    return g_languageModule ? g_languageModule : g_module.load();
}

std::string ResourceString(UINT id)
{
    char text[512] = "";
    if (LoadStringA(ResourceModule(), id, text, sizeof text) == 0)
        LoadStringA(g_module.load(), id, text, sizeof text);
    return text;
}

void ReleaseResourceModule(bool processEnding)
{
    // At process end other threads are gone, perhaps holding the lock.
    if (processEnding)
        return;
    std::lock_guard<std::mutex> guard(g_resourceLock);
    if (g_languageModule)
        FreeLibrary(g_languageModule);
    g_languageModule = nullptr;
    g_resourceResolved = false;
}
