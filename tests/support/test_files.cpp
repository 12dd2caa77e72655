#include "tests/support/test_files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <stdexcept>

#include <zlib.h>

#include "base/text.h"

namespace {

void AppendTree(const std::string& root, const std::string& relative, std::vector<std::string>& out)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(PlatformPath(root + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = Utf8(found.cFileName);
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(relative + name + "\\");
            AppendTree(root, relative + name + "\\", out);
        } else {
            out.push_back(relative + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::string ReadPipe(HANDLE pipe)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

// Appends what a pipe holds without waiting for more; false once no writing end is left.
bool DrainPipe(HANDLE pipe, std::string& text)
{
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
        return false;
    char buffer[4096];
    DWORD got = 0;
    while (available > 0 && ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr)) {
        text.append(buffer, got);
        available -= got;
    }
    return true;
}

}  // namespace

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "ravelpak-%lu-%u\\", GetCurrentProcessId(), counter++);
        path_ = std::string(base) + name;
        if (CreateDirectoryA(path_.c_str(), nullptr))
            return;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create " + path_);
    }
}

TempDir::~TempDir()
{
    RemoveTree(path_);
}

void WriteFileBytes(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileW(PlatformPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create " + path);
    size_t done = 0;
    while (done < content.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(file, content.data() + done, chunk, &written, nullptr) || written == 0) {
            CloseHandle(file);
            throw std::runtime_error("cannot write " + path);
        }
        done += written;
    }
    CloseHandle(file);
}

std::string ReadFileBytes(const std::string& path)
{
    HANDLE file = CreateFileW(PlatformPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path);
    std::string content = ReadPipe(file);
    CloseHandle(file);
    return content;
}

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(PlatformPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesW(PlatformPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeDirectories(const std::string& path)
{
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            std::string prefix = path.substr(0, i);
            if (!prefix.empty() && prefix.back() != ':')
                CreateDirectoryW(PlatformPath(prefix).c_str(), nullptr);
        }
    }
}

void RemoveTree(const std::string& path)
{
    std::string root = path;
    if (!root.empty() && root.back() != '\\')
        root += '\\';
    std::vector<std::string> entries;
    AppendTree(root, "", entries);
    std::sort(entries.rbegin(), entries.rend());  // children before their directories
    for (const std::string& entry : entries) {
        std::string full = root + entry;
        if (full.back() == '\\') {
            RemoveDirectoryW(PlatformPath(full).c_str());
        } else {
            SetFileAttributesW(PlatformPath(full).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(PlatformPath(full).c_str());
        }
    }
    RemoveDirectoryW(PlatformPath(root).c_str());
}

std::vector<std::string> ListTree(const std::string& root)
{
    std::vector<std::string> entries;
    AppendTree(root, "", entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string PatternBytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = static_cast<char>(state);
    }
    return bytes;
}

std::string CrcHex(const std::string& content)
{
    char text[16];
    // zlib's, not the engine's: the SFV files that the tests write check the engine's CRC-32.
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
    std::snprintf(text, sizeof text, "%08lX", crc);
    return text;
}

std::string SfvBody(const std::vector<std::pair<std::string, std::string>>& lines)
{
    std::string body = "; generated by the tests\r\n";
    for (const auto& line : lines)
        body += line.first + " " + line.second + "\r\n";
    return body;
}

std::string BinaryDirectory()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path, length);
    return full.substr(0, full.rfind('\\') + 1);
}

std::string MountedFolder(const std::string& name)
{
    char full[MAX_PATH];
    GetFullPathNameA((BinaryDirectory() + "..\\" + name + "\\").c_str(), MAX_PATH, full, nullptr);
    return FileExists(std::string(full) + "mounted") ? std::string(full) : std::string();
}

ProcessResult RunWcxhostPack(const std::string& options, const std::string& plugin, const std::string& packedFile,
                             const std::string& srcPath, const std::string& names, const std::string& errorsTo)
{
    return RunProcess(Quote(BinaryDirectory() + "wcxhost.exe") + " pack " + options + " " + Quote(plugin) + " " +
                          Quote(packedFile) + " " + Quote(srcPath) + " " + names,
                      errorsTo);
}

ProcessResult RunProcess(const std::string& commandLine, const std::string& errorsTo)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    const DWORD kPipeSize = 1 << 20;
    CreatePipe(&outRead, &outWrite, &inherit, kPipeSize);
    CreatePipe(&errRead, &errWrite, &inherit, kPipeSize);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    if (!errorsTo.empty()) {
        CloseHandle(errWrite);
        errWrite = CreateFileW(PlatformPath(errorsTo).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inherit, errorsTo == "NUL" ? OPEN_EXISTING : CREATE_ALWAYS, 0, nullptr);
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process = {};
    std::wstring mutableLine = Widen(commandLine);
    ProcessResult result;
    BOOL started =
        CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (started) {
        // Read until the program has ended and its output is drained, not until every writing
        // end is closed: a process that it started may hold them on (Wine starts its desktop
        // process on demand, and that one inherits the program's standard handles).
        for (;;) {
            const bool ended = WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0;
            const bool outOpen = DrainPipe(outRead, result.output);
            const bool errOpen = DrainPipe(errRead, result.errors);
            if (ended || (!outOpen && !errOpen))
                break;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        result.errors = "cannot start " + commandLine + ": error " + std::to_string(startError);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return result;
}

std::string Quote(const std::string& text)
{
    const bool trailingBackslash = !text.empty() && text.back() == '\\';
    return "\"" + text + (trailingBackslash ? "\\" : "") + "\"";
}

std::string SettingsFileText(const std::string& elements)
{
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<RavelpakSettings>\r\n\t<General>\r\n" + elements +
           "\t</General>\r\n</RavelpakSettings>\r\n";
}

std::string InstallModuleCopy(const std::string& directory, const std::string& elements)
{
    MakeDirectories(directory);
    const std::string module = directory + "\\ravelpak.wcx64";
    CopyFileW(PlatformPath(BinaryDirectory() + "ravelpak.wcx64").c_str(), PlatformPath(module).c_str(), FALSE);
    WriteFileBytes(directory + "\\ravelpak.xml", SettingsFileText(elements));
    return module;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::string LastLine(const std::string& output)
{
    const std::vector<std::string> lines = Lines(output);
    return lines.empty() ? std::string() : lines.back();
}
