// wcxhost: loads a WCX packer plugin the way Total Commander does and drives it from the
// command line. It is the project's end-to-end test driver and a tool for batch use.
#include <windows.h>
#include <io.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/wcx.h"

namespace {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;

void PrintUsage()
{
    std::fprintf(stderr, "usage:\n"
                         "  wcxhost caps PLUGIN\n"
                         "  wcxhost open PLUGIN ARCHIVE\n"
                         "  wcxhost pack [--addlist FILE] [--no-callback] [--cancel-at N] [--trace]\n"
                         "               [--peak-memory] PLUGIN PACKED_FILE SRC_PATH [NAME...]\n"
                         "  wcxhost configure PLUGIN\n");
}

class Plugin {
public:
    explicit Plugin(const std::string& path) : path_(path)
    {
        module_ = LoadLibraryA(path.c_str());
        if (!module_)
            std::fprintf(stderr, "wcxhost: cannot load plugin %s (error %lu)\n", path.c_str(), GetLastError());
    }
    ~Plugin()
    {
        if (module_)
            FreeLibrary(module_);
    }
    bool loaded() const { return module_ != nullptr; }

    template <typename Function> Function Export(const char* name)
    {
        FARPROC address = GetProcAddress(module_, name);
        if (!address)
            std::fprintf(stderr, "wcxhost: plugin %s does not export %s\n", path_.c_str(), name);
        return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    }

private:
    std::string path_;
    HMODULE module_ = nullptr;
};

// What the progress callback does with each call; the callback has no user data.
struct CallbackOptions {
    bool trace = false;
    bool live = false;
    long cancelAt = 0;  // 0: never
    long calls = 0;
    long long bytes = 0;
} g_callback;

int __stdcall ProcessData(char* fileName, int size)
{
    ++g_callback.calls;
    if (size > 0)
        g_callback.bytes += size;
    const char* name = fileName ? fileName : "";
    if (g_callback.trace) {
        std::printf("cb %d %s\n", size, name);
        std::fflush(stdout);
    } else if (g_callback.live) {
        std::fprintf(stderr, "\r%-60.60s %12lld bytes", name, g_callback.bytes);
        std::fflush(stderr);
    }
    return g_callback.calls == g_callback.cancelAt ? 0 : 1;
}

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool NameLess(const std::string& a, const std::string& b)
{
    return _stricmp(a.c_str(), b.c_str()) < 0;
}

// The entries that the host's selection of a directory yields: the directory itself, its
// files, then each subdirectory in the same way; each level in name order.
void AddDirectory(const std::string& srcPath, const std::string& relative, std::vector<std::string>& entries)
{
    entries.push_back(relative + "\\");
    std::vector<std::string> files, directories;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((srcPath + relative + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? directories : files).push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(files.begin(), files.end(), NameLess);
    std::sort(directories.begin(), directories.end(), NameLess);
    for (const std::string& file : files)
        entries.push_back(relative + "\\" + file);
    for (const std::string& directory : directories)
        AddDirectory(srcPath, relative + "\\" + directory, entries);
}

std::vector<char> BuildAddList(const std::vector<std::string>& entries)
{
    std::vector<char> list;
    for (const std::string& entry : entries) {
        list.insert(list.end(), entry.begin(), entry.end());
        list.push_back('\0');
    }
    list.push_back('\0');
    if (entries.empty())
        list.push_back('\0');
    return list;
}

bool ReadAddListFile(const std::string& path, std::vector<std::string>& entries)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "wcxhost: cannot read add list %s\n", path.c_str());
        return false;
    }
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        entries.push_back(line);
    }
    return true;
}

int Caps(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return PrintUsage(), kExitUsage;
    Plugin plugin(args[0]);
    if (!plugin.loaded())
        return kExitUsage;
    auto getCaps = plugin.Export<GetPackerCapsFn>("GetPackerCaps");
    auto getBackground = plugin.Export<GetBackgroundFlagsFn>("GetBackgroundFlags");
    if (!getCaps || !getBackground)
        return kExitUsage;
    std::printf("caps %d\nbackground %d\n", getCaps(), getBackground());
    return kExitOk;
}

int Open(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return PrintUsage(), kExitUsage;
    Plugin plugin(args[0]);
    if (!plugin.loaded())
        return kExitUsage;
    auto openArchive = plugin.Export<OpenArchiveFn>("OpenArchive");
    if (!openArchive)
        return kExitUsage;
    std::string archive = args[1];
    tOpenArchiveData data = {};
    data.ArcName = &archive[0];
    data.OpenMode = 0;  // PK_OM_LIST
    HANDLE handle = openArchive(&data);
    std::printf("openresult %d\nhandle %s\n", data.OpenResult, handle ? "nonnull" : "null");
    if (handle) {
        if (auto closeArchive = plugin.Export<CloseArchiveFn>("CloseArchive"))
            closeArchive(handle);
    }
    return kExitOk;
}

// The most physical memory that this process (host and plugin) has used, for the benchmarks:
// it must not grow with the size of the release.
void PrintPeakMemory()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        std::fprintf(stderr, "peak working set %llu bytes\n",
                     static_cast<unsigned long long>(counters.PeakWorkingSetSize));
}

int Pack(const std::vector<std::string>& args)
{
    std::string addListFile;
    bool useCallback = true;
    bool peakMemory = false;
    size_t i = 0;
    for (; i < args.size() && args[i].compare(0, 2, "--") == 0; ++i) {
        const std::string& option = args[i];
        bool hasValue = i + 1 < args.size();
        if (option == "--trace")
            g_callback.trace = true;
        else if (option == "--no-callback")
            useCallback = false;
        else if (option == "--peak-memory")
            peakMemory = true;
        else if (option == "--addlist" && hasValue)
            addListFile = args[++i];
        else if (option == "--cancel-at" && hasValue) {
            char* end = nullptr;
            g_callback.cancelAt = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || g_callback.cancelAt < 1) {
                std::fprintf(stderr, "wcxhost: --cancel-at needs a call number from 1\n");
                return kExitUsage;
            }
        } else {
            std::fprintf(stderr, "wcxhost: unknown or incomplete option %s\n", option.c_str());
            return PrintUsage(), kExitUsage;
        }
    }
    if (args.size() - i < 3)
        return PrintUsage(), kExitUsage;
    const std::string pluginPath = args[i], packedFile = args[i + 1], srcPath = args[i + 2];
    const std::vector<std::string> names(args.begin() + static_cast<long>(i) + 3, args.end());

    std::vector<std::string> entries;
    if (!addListFile.empty()) {
        if (!names.empty()) {
            std::fprintf(stderr, "wcxhost: --addlist and NAMEs exclude each other\n");
            return kExitUsage;
        }
        if (!ReadAddListFile(addListFile, entries))
            return kExitUsage;
    } else {
        for (std::string name : names) {
            while (!name.empty() && name.back() == '\\')
                name.pop_back();
            if (IsDirectory(srcPath + name))
                AddDirectory(srcPath, name, entries);
            else
                entries.push_back(name);
        }
    }

    Plugin plugin(pluginPath);
    if (!plugin.loaded())
        return kExitUsage;
    auto packFiles = plugin.Export<PackFilesFn>("PackFiles");
    if (!packFiles)
        return kExitUsage;
    if (useCallback) {
        auto setProcessDataProc = plugin.Export<SetProcessDataProcFn>("SetProcessDataProc");
        if (!setProcessDataProc)
            return kExitUsage;
        g_callback.live = !g_callback.trace && _isatty(_fileno(stderr));
        setProcessDataProc(INVALID_HANDLE_VALUE, ProcessData);
    }

    std::vector<char> addList = BuildAddList(entries);
    std::string packed = packedFile, source = srcPath;
    int result = packFiles(&packed[0], nullptr, &source[0], addList.data(), 0);
    if (g_callback.live)
        std::fprintf(stderr, "\n");
    std::printf("result %d\n", result);
    if (peakMemory)
        PrintPeakMemory();
    return result == 0 ? kExitOk : kExitFailed;
}

int Configure(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return PrintUsage(), kExitUsage;
    Plugin plugin(args[0]);
    if (!plugin.loaded())
        return kExitUsage;
    auto configure = plugin.Export<ConfigurePackerFn>("ConfigurePacker");
    if (!configure)
        return kExitUsage;
    configure(nullptr, nullptr);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return PrintUsage(), kExitUsage;
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    int status;
    if (command == "caps")
        status = Caps(args);
    else if (command == "open")
        status = Open(args);
    else if (command == "pack")
        status = Pack(args);
    else if (command == "configure")
        status = Configure(args);
    else
        return PrintUsage(), kExitUsage;
    std::fflush(stdout);
    return status;
}
