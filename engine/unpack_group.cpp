#include "engine/unpack_group.h"

#include <windows.h>

#include "host/progress.h"

namespace {

const DWORD kProgressReadSize = 4096;

enum class SourceAccess { Read, Gone, Locked };

// Reads a source file once, reporting each read to the host, so that the host's progress
// display covers the whole group. A file that is gone was already consumed by this run (the
// later volumes of a set whose volumes were deleted while it was unpacked).
SourceAccess ReadForProgress(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        bool gone = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) &&
                    GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
        return gone ? SourceAccess::Gone : SourceAccess::Locked;
    }
    if (HostCallbackSet()) {
        char buffer[kProgressReadSize];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file, buffer, kProgressReadSize, &got, nullptr))
                break;
            if (ReportProgress(path, static_cast<int>(got)) == 0 || got == 0)
                break;
        }
    }
    CloseHandle(file);
    return SourceAccess::Read;
}

}  // namespace

void UnpackGroup(const UnpackContext& context, const FileList& sources, const std::string& destination)
{
    (void)context;
    (void)destination;
    for (const std::string& source : sources) {
        SourceAccess access = ReadForProgress(source);
        if (access == SourceAccess::Locked)
            return;
        if (access == SourceAccess::Gone)
            continue;
    }
}
