// The WCX entry points. The module never opens an archive for browsing; the host's pack
// command is used to unpack the selection instead. No exception ever leaves an export.
#include <new>
#include <string>
#include <vector>

#include "engine/pack_driver.h"
#include "base/text.h"
#include "host/progress.h"
#include "host/wcx.h"
#include "settings/settings_file.h"
#include "settings/unpack_settings.h"
#include "ui/config_dialog.h"

extern "C" {

__declspec(dllexport) HANDLE __stdcall OpenArchive(tOpenArchiveData* ArchiveData)
{
    if (ArchiveData)
        ArchiveData->OpenResult = E_EOPEN;
    return nullptr;
}

__declspec(dllexport) HANDLE __stdcall OpenArchiveW(tOpenArchiveDataW* ArchiveData)
{
    if (ArchiveData)
        ArchiveData->OpenResult = E_EOPEN;
    return nullptr;
}

__declspec(dllexport) int __stdcall ReadHeader(HANDLE, tHeaderData*)
{
    return 0;
}

__declspec(dllexport) int __stdcall ProcessFile(HANDLE, int, char*, char*)
{
    return 0;
}

__declspec(dllexport) int __stdcall CloseArchive(HANDLE)
{
    return 0;
}

__declspec(dllexport) void __stdcall SetChangeVolProc(HANDLE, tChangeVolProc) {}

__declspec(dllexport) void __stdcall SetProcessDataProc(HANDLE, tProcessDataProc pProcessDataProc)
{
    ProcessDataProc.store(pProcessDataProc);
}

__declspec(dllexport) void __stdcall SetProcessDataProcW(HANDLE, tProcessDataProcW pProcessDataProc)
{
    ProcessDataProcW.store(pProcessDataProc);
}

__declspec(dllexport) int __stdcall GetPackerCaps()
{
    return PK_CAPS_NEW | PK_CAPS_MULTIPLE | PK_CAPS_OPTIONS;
}

__declspec(dllexport) int __stdcall GetBackgroundFlags()
{
    return BACKGROUND_PACK;
}

}  // extern "C"

namespace {

// The host's selection: names packed one after another, each ended by a zero, and an empty name
// at the end; the first name may itself be empty.
template <typename Char> std::vector<std::basic_string<Char>> SelectedNames(const Char* addList)
{
    std::vector<std::basic_string<Char>> names;
    const Char* name = addList;
    do {
        names.emplace_back(name);
        name += names.back().size() + 1;
    } while (*name != 0);
    return names;
}

// Takes the callback that the host set for this call: a later SetProcessDataProc for another
// background job does not redirect this one's progress or stop.
template <typename Char, typename ToUtf8>
int Pack(const Char* packedFile, const Char* srcPath, const Char* addList, ToUtf8 toUtf8)
{
    // Nothing to unpack or nowhere to: the host must not take that for a delivered selection.
    if (!packedFile || !srcPath || !addList)
        return E_NO_FILES;
    try {
        std::vector<std::string> names;
        for (const auto& name : SelectedNames(addList))
            names.push_back(toUtf8(name));
        HostProgressSink sink;
        return WcxResultOf(
            RunPackFiles(toUtf8(packedFile), toUtf8(srcPath), names, sink.Connected() ? &sink : nullptr));
    } catch (const std::bad_alloc&) {
        return E_NO_MEMORY;
    } catch (...) {
        return E_BAD_DATA;
    }
}

}  // namespace

extern "C" {

__declspec(dllexport) int __stdcall PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags)
{
    (void)SubPath;
    (void)Flags;
    return Pack(PackedFile, SrcPath, AddList, [](const std::string& ansi) { return Utf8FromCodePage(ansi, CP_ACP); });
}

__declspec(dllexport) int __stdcall PackFilesW(wchar_t* PackedFile, wchar_t* SubPath, wchar_t* SrcPath,
                                               wchar_t* AddList, int Flags)
{
    (void)SubPath;
    (void)Flags;
    return Pack(PackedFile, SrcPath, AddList, [](const std::wstring& wide) { return Utf8(wide); });
}

// The settings dialog over the host's window. It shows the settings that the engine uses and
// saves through the settings owner, which installs what OK accepted: it applies from the next
// PackFiles on, while a PackFiles running meanwhile keeps its own copy.
__declspec(dllexport) void __stdcall ConfigurePacker(HWND Parent, HINSTANCE)
{
    try {
        CConfigDlg dialog(SnapshotUnpackSettings(), SaveModuleSettings);
        dialog.Run(Parent);
    } catch (...) {
        // Out of memory while the dialog ran: the settings stay as they were.
    }
}

// Called by the host right after loading, before anything else: the ini file it suggests for
// plugin settings, whose folder takes the settings file when the module's folder cannot.
__declspec(dllexport) void __stdcall PackSetDefaultParams(PackDefaultParamStruct* dps)
{
    if (!dps || dps->size < static_cast<int>(sizeof(PackDefaultParamStruct)))
        return;
    char iniFile[MAX_PATH + 1] = "";
    lstrcpynA(iniFile, dps->DefaultIniName, MAX_PATH);
    SuggestSettingsIni(iniFile);
}

}  // extern "C"
