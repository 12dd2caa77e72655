// wcxhost: loads a WCX packer plugin the way Total Commander does and drives it from the
// command line. It is the project's end-to-end test driver and a tool for batch use.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/wcx.h"

namespace {

const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
const int kExitKilled = 3;  // --exit-at ended the process

// wcxhost's own text is UTF-8: its command line, the names it prints. The plugin gets UTF-16,
// or the ANSI code page with --ansi, as the file manager hands them over.
std::wstring ToWide(const std::string& text, UINT codePage = CP_UTF8)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string FromWide(const std::wstring& wide, UINT codePage = CP_UTF8)
{
    if (wide.empty())
        return std::string();
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length, nullptr, nullptr);
    return text;
}

void PrintUsage()
{
    std::fprintf(stderr, "usage:\n"
                         "  wcxhost caps [--ini PATH] PLUGIN\n"
                         "  wcxhost open [--ini PATH] PLUGIN ARCHIVE\n"
                         "  wcxhost pack [options] PLUGIN PACKED_FILE SRC_PATH [NAME...]\n"
                         "  wcxhost configure [--ini PATH] PLUGIN\n"
                         "every command:\n"
                         "  --ini PATH            the ini file suggested to the plugin for its settings\n"
                         "                        (default: wcxhost\\pkplugin.ini in the application-data folder)\n"
                         "pack options:\n"
                         "  --addlist FILE        the selection, one entry per line, instead of NAMEs\n"
                         "  --no-callback         hand no progress callback to the plugin\n"
                         "  --cancel-at N         answer stop to the N-th progress call and all later ones\n"
                         "  --cancel-after-ms MS  answer stop to every call from MS ms after the start\n"
                         "  --fill-disk-at N FILE at the N-th progress call, write FILE until its disk is full,\n"
                         "                        as another program would\n"
                         "  --exit-at N           end the process at once at the N-th progress call, as a\n"
                         "                        crash would (no clean-up, exit code 3)\n"
                         "  --trace               print each progress call as \"cb SIZE NAME\"\n"
                         "  --progress            draw the live line even when stderr is not a console\n"
                         "  --quiet               never draw the live line (the later of the two wins)\n"
                         "  --peak-memory         print the peak working set to stderr at the end\n"
                         "  --timing              print to stderr how long PackFiles ran and the longest\n"
                         "                        time the host went without a call\n"
                         "  --ansi                call the ANSI entry points even when the plugin has wide ones\n"
                         "The last line is \"result N\", with the code's name when N is not 0.\n");
}

// The ini file that the host suggests to the plugin, as given by --ini.
std::string g_iniFile;

// Where the file manager would suggest: its own folder in the user's application data.
std::string DefaultIniFile()
{
    wchar_t folder[MAX_PATH] = L"";
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK)
        return "wcxhost\\pkplugin.ini";
    return FromWide(folder) + "\\wcxhost\\pkplugin.ini";
}

class Plugin {
public:
    // Loads the plugin and, when it exports PackSetDefaultParams, calls it first, as the file
    // manager does right after loading a packer plugin.
    explicit Plugin(const std::string& path) : path_(path)
    {
        module_ = LoadLibraryW(ToWide(path).c_str());
        if (!module_) {
            std::fprintf(stderr, "wcxhost: cannot load plugin %s (error %lu)\n", path.c_str(), GetLastError());
            return;
        }
        if (auto setDefaults = Find<PackSetDefaultParamsFn>("PackSetDefaultParams")) {
            PackDefaultParamStruct params = {};
            params.size = sizeof params;
            params.PluginInterfaceVersionLow = PLUGIN_INTERFACE_VERSION_LOW;
            params.PluginInterfaceVersionHi = PLUGIN_INTERFACE_VERSION_HI;
            const std::string ini = g_iniFile.empty() ? DefaultIniFile() : g_iniFile;
            lstrcpynA(params.DefaultIniName, FromWide(ToWide(ini), CP_ACP).c_str(), MAX_PATH);
            setDefaults(&params);
        }
    }
    ~Plugin()
    {
        if (module_)
            FreeLibrary(module_);
    }
    bool loaded() const { return module_ != nullptr; }

    // An export that the plugin may lack.
    template <typename Function> Function Find(const char* name)
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    // An export that the plugin must have; its absence is reported.
    template <typename Function> Function Export(const char* name)
    {
        const Function function = Find<Function>(name);
        if (!function)
            std::fprintf(stderr, "wcxhost: plugin %s does not export %s\n", path_.c_str(), name);
        return function;
    }

private:
    std::string path_;
    HMODULE module_ = nullptr;
};

long long NowMs()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000 / frequency.QuadPart;
}

// A console handle, not just any character device: NUL is one too, and under Wine each
// unbuffered character written to it costs a server round trip.
bool IsConsole(HANDLE handle)
{
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}

// The live line is redrawn at most this often, however often the plugin calls.
const long long kRedrawMs = 250;

// What the progress callback answers and shows; the callback has no user data.
struct Progress {
    bool trace = false;
    bool live = false;
    long cancelAt = 0;        // 0: never
    long cancelAfterMs = -1;  // -1: never
    long fillDiskAt = 0;      // 0: never
    long exitAt = 0;          // 0: never
    std::string fillFile;
    long long start = 0;      // when PackFiles was entered
    long calls = 0;
    long long lastCallMs = 0;     // when the plugin last called, or PackFiles was entered
    long long longestSilence = 0;  // the longest time without a call, and the call it ended
    std::string silenceEndedBy;
    long firstStop = 0;  // the first call answered stop, 0: none yet
    long long firstStopMs = 0;
    long long bytes = 0;   // the positive sizes reported so far
    long long total = 0;   // the selected files' sizes, SFV files left out
    int itemPercent = -1;  // the bars the plugin set directly, -1: not set
    int wholePercent = -1;
    std::string name;
    long long lastDraw = 0;
    bool drawn = false;
    size_t lastLength = 0;  // of the previous drawing, to blank what it leaves over
} g_progress;

std::string FormatSpeed(long long bytes, long long ms)
{
    char text[32];
    if (ms <= 0)
        return "";
    const double perSecond = bytes * 1000.0 / ms;
    if (perSecond >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB/s", perSecond / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.0f KiB/s", perSecond / 1024.0);
    return text;
}

// One drawing of the live line, written at once: percentage, directly set bars, speed, then
// the current name, cut at the front to fit the console's width.
void DrawLine(long long now)
{
    Progress& p = g_progress;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    size_t width = 80;
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (GetConsoleScreenBufferInfo(error, &screen))
        width = static_cast<size_t>(std::max(20, screen.srWindow.Right - screen.srWindow.Left + 1));

    char number[32];
    std::string line;
    if (p.total > 0) {
        std::snprintf(number, sizeof number, "%3lld%%", std::min(100LL, p.bytes * 100 / p.total));
        line += number;
    }
    if (p.wholePercent >= 0) {
        std::snprintf(number, sizeof number, "  all %d%%", p.wholePercent);
        line += number;
    }
    if (p.itemPercent >= 0) {
        std::snprintf(number, sizeof number, "  item %d%%", p.itemPercent);
        line += number;
    }
    const std::string speed = FormatSpeed(p.bytes, now - p.start);
    if (!speed.empty())
        line += "  " + speed;
    if (!line.empty())
        line += "  ";
    const size_t room = width - 1 > line.size() + 4 ? width - 1 - line.size() : 4;
    line += p.name.size() <= room ? p.name : "..." + p.name.substr(p.name.size() - (room - 3));

    const size_t length = line.size();
    if (length < p.lastLength)
        line.append(p.lastLength - length, ' ');
    line.insert(0, "\r");
    DWORD written;
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    p.lastLength = length;
    p.lastDraw = now;
    p.drawn = true;
}

int Progressed(const std::string& name, int size);

int __stdcall ProcessData(char* fileName, int size)
{
    return Progressed(FromWide(ToWide(fileName ? fileName : "", CP_ACP)), size);
}

int __stdcall ProcessDataW(wchar_t* fileName, int size)
{
    return Progressed(FromWide(fileName ? fileName : L""), size);
}

// Writes `path` until its disk takes no more.
void FillDisk(const std::string& path)
{
    HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    const std::vector<char> block(1 << 16, 'f');
    DWORD written = 0;
    while (WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) && written > 0) {
    }
    CloseHandle(file);
}

int Progressed(const std::string& name, int size)
{
    Progress& p = g_progress;
    ++p.calls;
    const long long now = NowMs();
    if (now - p.lastCallMs > p.longestSilence) {
        p.longestSilence = now - p.lastCallMs;
        p.silenceEndedBy = std::to_string(size) + " " + name;
    }
    p.lastCallMs = now;
    if (p.calls == p.fillDiskAt)
        FillDisk(p.fillFile);
    // A crash or Task Manager: nothing of the plugin or the host runs after this.
    if (p.calls == p.exitAt)
        TerminateProcess(GetCurrentProcess(), kExitKilled);
    if (p.name != name) {
        p.name = name;
        p.itemPercent = -1;
    }
    if (size > 0)
        p.bytes += size;
    else if (size <= -1 && size >= -100)
        p.itemPercent = -size;
    else if (size <= -1000 && size >= -1100)
        p.wholePercent = -size - 1000;

    // Once the user has pressed Cancel, a file manager answers stop to every later call.
    const bool stop = p.firstStop != 0 || (p.cancelAt > 0 && p.calls >= p.cancelAt) ||
                      (p.cancelAfterMs >= 0 && now - p.start >= p.cancelAfterMs);
    if (stop && p.firstStop == 0) {
        p.firstStop = p.calls;
        p.firstStopMs = now;
    }
    if (p.trace) {
        std::printf("cb %d %s\n", size, name.c_str());
        std::fflush(stdout);
    }
    if (p.live && (!p.drawn || now - p.lastDraw >= kRedrawMs))
        DrawLine(now);
    return stop ? 0 : 1;
}

// The selection's bytes for the percentage: its files, SFV files left out, since they only
// list checksums and are not unpacked.
long long SelectionBytes(const std::string& srcPath, const std::vector<std::string>& entries)
{
    long long total = 0;
    for (const std::string& entry : entries) {
        if (entry.empty() || entry.back() == '\\')
            continue;
        if (entry.size() >= 4 && _stricmp(entry.c_str() + entry.size() - 4, ".sfv") == 0)
            continue;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(ToWide(srcPath + entry).c_str(), GetFileExInfoStandard, &data) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            total += (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return total;
}

// The name of a WCX result code, null for codes that have none.
const char* ResultName(int result)
{
    static const struct {
        int code;
        const char* name;
    } names[] = {
        {E_END_ARCHIVE, "E_END_ARCHIVE"},
        {E_NO_MEMORY, "E_NO_MEMORY"},
        {E_BAD_DATA, "E_BAD_DATA"},
        {E_BAD_ARCHIVE, "E_BAD_ARCHIVE"},
        {E_UNKNOWN_FORMAT, "E_UNKNOWN_FORMAT"},
        {E_EOPEN, "E_EOPEN"},
        {E_ECREATE, "E_ECREATE"},
        {E_ECLOSE, "E_ECLOSE"},
        {E_EREAD, "E_EREAD"},
        {E_EWRITE, "E_EWRITE"},
        {E_SMALL_BUF, "E_SMALL_BUF"},
        {E_EABORTED, "E_EABORTED"},
        {E_NO_FILES, "E_NO_FILES"},
        {E_TOO_MANY_FILES, "E_TOO_MANY_FILES"},
        {E_NOT_SUPPORTED, "E_NOT_SUPPORTED"},
    };
    for (const auto& entry : names)
        if (entry.code == result)
            return entry.name;
    return nullptr;
}

bool ParseNumber(const std::string& text, long minimum, long& value)
{
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && value >= minimum;
}

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
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
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(ToWide(srcPath + relative + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = FromWide(found.cFileName);
            if (name == "." || name == "..")
                continue;
            (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? directories : files).push_back(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(files.begin(), files.end(), NameLess);
    std::sort(directories.begin(), directories.end(), NameLess);
    for (const std::string& file : files)
        entries.push_back(relative + "\\" + file);
    for (const std::string& directory : directories)
        AddDirectory(srcPath, relative + "\\" + directory, entries);
}

// The host's selection: each name ended by a zero, and an empty name at the end.
template <typename Char> std::vector<Char> BuildAddList(const std::vector<std::basic_string<Char>>& entries)
{
    std::vector<Char> list;
    for (const auto& entry : entries) {
        list.insert(list.end(), entry.begin(), entry.end());
        list.push_back(0);
    }
    list.push_back(0);
    if (entries.empty())
        list.push_back(0);
    return list;
}

// The add list file holds one entry per line, in UTF-8.
bool ReadAddListFile(const std::string& path, std::vector<std::string>& entries)
{
    FILE* file = _wfopen(ToWide(path).c_str(), L"rb");
    if (!file) {
        std::fprintf(stderr, "wcxhost: cannot read add list %s\n", path.c_str());
        return false;
    }
    std::string text;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, got);
    std::fclose(file);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        entries.push_back(line);
        start = end + 1;
    }
    return true;
}

// The arguments after the leading options that every command takes (--ini PATH); false when
// an unknown option leads.
bool TakeCommonOptions(const std::vector<std::string>& args, std::vector<std::string>& rest)
{
    size_t i = 0;
    for (; i < args.size() && args[i].compare(0, 2, "--") == 0; ++i) {
        if (args[i] != "--ini" || i + 1 >= args.size()) {
            std::fprintf(stderr, "wcxhost: unknown or incomplete option %s\n", args[i].c_str());
            return false;
        }
        g_iniFile = args[++i];
    }
    rest.assign(args.begin() + static_cast<long>(i), args.end());
    return true;
}

int Caps(const std::vector<std::string>& options)
{
    std::vector<std::string> args;
    if (!TakeCommonOptions(options, args) || args.size() != 1)
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

int Open(const std::vector<std::string>& options)
{
    std::vector<std::string> args;
    if (!TakeCommonOptions(options, args) || args.size() != 2)
        return PrintUsage(), kExitUsage;
    Plugin plugin(args[0]);
    if (!plugin.loaded())
        return kExitUsage;
    int openResult = 0;
    HANDLE handle = nullptr;
    if (auto openArchiveW = plugin.Find<OpenArchiveWFn>("OpenArchiveW")) {
        std::wstring archive = ToWide(args[1]);
        tOpenArchiveDataW data = {};
        data.ArcName = &archive[0];
        handle = openArchiveW(&data);
        openResult = data.OpenResult;
    } else if (auto openArchive = plugin.Export<OpenArchiveFn>("OpenArchive")) {
        std::string archive = FromWide(ToWide(args[1]), CP_ACP);
        tOpenArchiveData data = {};
        data.ArcName = &archive[0];
        handle = openArchive(&data);
        openResult = data.OpenResult;
    } else {
        return kExitUsage;
    }
    std::printf("openresult %d\nhandle %s\n", openResult, handle ? "nonnull" : "null");
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

// What the pack command was asked to do, besides the progress settings it gives g_progress.
struct PackRequest {
    bool ansi = false;
    bool useCallback = true;
    bool peakMemory = false;
    bool timing = false;
    // --progress and --quiet: the later one given wins.
    bool forceLive = false, quiet = false;
    std::string addListFile;
    std::string pluginPath, packedFile, srcPath;
    std::vector<std::string> names;
};

// The number after an option, at least `minimum`; otherwise false, with the complaint.
bool ParseOptionNumber(const std::string& text, long minimum, long& value, const char* complaint)
{
    if (ParseNumber(text, minimum, value))
        return true;
    std::fprintf(stderr, "wcxhost: %s\n", complaint);
    return false;
}

// Takes the option at args[i] (and its values, moving `i` past them) into the request or the
// progress settings. False, with the reason on standard error, for a wrong or incomplete one.
bool TakePackOption(const std::vector<std::string>& args, size_t& i, PackRequest& request, Progress& progress)
{
    const std::string& option = args[i];
    const bool hasValue = i + 1 < args.size();
    if (option == "--ansi")
        request.ansi = true;
    else if (option == "--trace")
        progress.trace = true;
    else if (option == "--no-callback")
        request.useCallback = false;
    else if (option == "--peak-memory")
        request.peakMemory = true;
    else if (option == "--timing")
        request.timing = true;
    else if (option == "--progress" || option == "--quiet") {
        request.quiet = option == "--quiet";
        request.forceLive = !request.quiet;
    } else if (option == "--ini" && hasValue)
        g_iniFile = args[++i];
    else if (option == "--addlist" && hasValue)
        request.addListFile = args[++i];
    else if (option == "--cancel-at" && hasValue)
        return ParseOptionNumber(args[++i], 1, progress.cancelAt, "--cancel-at needs a call number from 1");
    else if (option == "--exit-at" && hasValue)
        return ParseOptionNumber(args[++i], 1, progress.exitAt, "--exit-at needs a call number from 1");
    else if (option == "--fill-disk-at" && i + 2 < args.size()) {
        if (!ParseOptionNumber(args[++i], 1, progress.fillDiskAt, "--fill-disk-at needs a call number from 1"))
            return false;
        progress.fillFile = args[++i];
    } else if (option == "--cancel-after-ms" && hasValue)
        return ParseOptionNumber(args[++i], 0, progress.cancelAfterMs, "--cancel-after-ms needs milliseconds from 0");
    else {
        std::fprintf(stderr, "wcxhost: unknown or incomplete option %s\n", option.c_str());
        PrintUsage();
        return false;
    }
    return true;
}

// The options, then PLUGIN PACKED_FILE SRC_PATH [NAME...]. False on a usage error (reported).
bool ParsePackArguments(const std::vector<std::string>& args, PackRequest& request, Progress& progress)
{
    size_t i = 0;
    for (; i < args.size() && args[i].compare(0, 2, "--") == 0; ++i)
        if (!TakePackOption(args, i, request, progress))
            return false;
    if (args.size() - i < 3)
        return PrintUsage(), false;
    request.pluginPath = args[i];
    request.packedFile = args[i + 1];
    request.srcPath = args[i + 2];
    request.names.assign(args.begin() + static_cast<long>(i) + 3, args.end());
    return true;
}

// The host's selection: from the add list file, or from the NAMEs with each directory
// expanded as the file manager does. False on a usage error (reported).
bool CollectSelection(const PackRequest& request, std::vector<std::string>& entries)
{
    if (!request.addListFile.empty()) {
        if (!request.names.empty()) {
            std::fprintf(stderr, "wcxhost: --addlist and NAMEs exclude each other\n");
            return false;
        }
        return ReadAddListFile(request.addListFile, entries);
    }
    for (std::string name : request.names) {
        while (!name.empty() && name.back() == '\\')
            name.pop_back();
        if (IsDirectory(request.srcPath + name))
            AddDirectory(request.srcPath, name, entries);
        else
            entries.push_back(name);
    }
    return true;
}

// Hands the progress callback to the plugin (the wide one when PackFilesW is used) and decides
// whether the live line is drawn. False when the plugin lacks the export (reported).
bool ConnectProgress(Plugin& plugin, bool wide, const PackRequest& request, const std::vector<std::string>& entries)
{
    Progress& progress = g_progress;
    auto setProcessDataProcW = wide ? plugin.Find<SetProcessDataProcWFn>("SetProcessDataProcW") : nullptr;
    auto setProcessDataProc = setProcessDataProcW ? nullptr : plugin.Export<SetProcessDataProcFn>("SetProcessDataProc");
    if (!setProcessDataProcW && !setProcessDataProc)
        return false;
    // On a console the live line is for the person watching; --trace owns the console then.
    const bool console = IsConsole(GetStdHandle(STD_ERROR_HANDLE));
    progress.live = !request.quiet && (request.forceLive || (console && !progress.trace));
    progress.total = SelectionBytes(request.srcPath, entries);
    if (setProcessDataProcW)
        setProcessDataProcW(INVALID_HANDLE_VALUE, ProcessDataW);
    else
        setProcessDataProc(INVALID_HANDLE_VALUE, ProcessData);
    return true;
}

// PackFilesW with the names and paths in UTF-16.
int PackWide(PackFilesWFn packFilesW, const PackRequest& request, const std::vector<std::string>& entries)
{
    std::vector<std::wstring> wideEntries;
    for (const std::string& entry : entries)
        wideEntries.push_back(ToWide(entry));
    std::vector<wchar_t> addList = BuildAddList(wideEntries);
    std::wstring packed = ToWide(request.packedFile), source = ToWide(request.srcPath);
    return packFilesW(&packed[0], nullptr, &source[0], addList.data(), 0);
}

// PackFiles with the names and paths in the ANSI code page.
int PackAnsi(PackFilesFn packFiles, const PackRequest& request, const std::vector<std::string>& entries)
{
    std::vector<std::string> ansiEntries;
    for (const std::string& entry : entries)
        ansiEntries.push_back(FromWide(ToWide(entry), CP_ACP));
    std::vector<char> addList = BuildAddList(ansiEntries);
    std::string packed = FromWide(ToWide(request.packedFile), CP_ACP);
    std::string source = FromWide(ToWide(request.srcPath), CP_ACP);
    return packFiles(&packed[0], nullptr, &source[0], addList.data(), 0);
}

// --timing: how long PackFiles ran and the longest time the plugin left the host without a
// call, the stretch up to the return counted too.
void PrintTiming(long long returned)
{
    Progress& progress = g_progress;
    if (returned - progress.lastCallMs > progress.longestSilence) {
        progress.longestSilence = returned - progress.lastCallMs;
        progress.silenceEndedBy = "the return of PackFiles";
    }
    std::fprintf(stderr, "wcxhost: PackFiles ran %lld ms; the longest time without a call was %lld ms, up to %s\n",
                 returned - progress.start, progress.longestSilence, progress.silenceEndedBy.c_str());
}

// The last drawing of a live line that was drawn at all, and the end of its line.
void FinishLiveLine()
{
    if (!g_progress.drawn)
        return;
    DrawLine(NowMs());
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
}

// After a stop: how many calls were answered stop, and how long PackFiles took to return.
void PrintStops()
{
    const Progress& progress = g_progress;
    if (progress.firstStop == 0)
        return;
    // Every call from the first stop on was answered stop.
    std::fprintf(stderr, "wcxhost: answered stop to %ld of %ld calls, from call %ld\n",
                 progress.calls - progress.firstStop + 1, progress.calls, progress.firstStop);
    // As the user sees it: from the moment Cancel was pressed, which with --cancel-after-ms
    // may come before the plugin's next call.
    long long asked = progress.firstStopMs;
    if (progress.cancelAfterMs >= 0)
        asked = std::min(asked, progress.start + progress.cancelAfterMs);
    std::fprintf(stderr, "wcxhost: PackFiles returned %lld ms after the stop was asked\n", NowMs() - asked);
}

// The last line of standard output: "result N", with the code's name when it has one and N is
// not 0.
void PrintResult(int result)
{
    if (const char* name = result != 0 ? ResultName(result) : nullptr)
        std::printf("result %d %s\n", result, name);
    else
        std::printf("result %d\n", result);
}

// wcxhost pack: builds the host's selection, loads the plugin, hands it the progress callback,
// calls PackFiles as the file manager does, and reports what came of it.
int Pack(const std::vector<std::string>& args)
{
    PackRequest request;
    std::vector<std::string> entries;
    if (!ParsePackArguments(args, request, g_progress) || !CollectSelection(request, entries))
        return kExitUsage;

    Plugin plugin(request.pluginPath);
    if (!plugin.loaded())
        return kExitUsage;
    // The file manager calls the wide entry points of a plugin that has them.
    auto packFilesW = request.ansi ? nullptr : plugin.Find<PackFilesWFn>("PackFilesW");
    auto packFiles = packFilesW ? nullptr : plugin.Export<PackFilesFn>("PackFiles");
    if (!packFilesW && !packFiles)
        return kExitUsage;
    if (request.useCallback && !ConnectProgress(plugin, packFilesW != nullptr, request, entries))
        return kExitUsage;

    g_progress.start = g_progress.lastCallMs = NowMs();
    const int result = packFilesW ? PackWide(packFilesW, request, entries) : PackAnsi(packFiles, request, entries);
    const long long returned = NowMs();
    if (request.timing)
        PrintTiming(returned);
    FinishLiveLine();
    PrintStops();
    PrintResult(result);
    if (request.peakMemory)
        PrintPeakMemory();
    return result == 0 ? kExitOk : kExitFailed;
}

int Configure(const std::vector<std::string>& options)
{
    std::vector<std::string> args;
    if (!TakeCommonOptions(options, args) || args.size() != 1)
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

int main()
{
    // The command line as wide text: names outside the ANSI code page reach the plugin intact.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2)
        return PrintUsage(), kExitUsage;
    const std::string command = FromWide(argv[1]);
    std::vector<std::string> args;
    for (int i = 2; i < argc; ++i)
        args.push_back(FromWide(argv[i]));
    LocalFree(argv);
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
