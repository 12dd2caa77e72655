// The WCX entry points. The module never opens an archive for browsing; the host's pack
// command is used to unpack the selection instead. No exception ever leaves an export.
#include "engine/pack_driver.h"
#include "host/progress.h"
#include "host/wcx.h"
#include "settings/unpack_settings.h"
#include "ui/config_dialog.h"

extern "C" {

__declspec(dllexport) HANDLE __stdcall OpenArchive(tOpenArchiveData* ArchiveData)
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

__declspec(dllexport) int __stdcall GetPackerCaps()
{
    return PK_CAPS_NEW | PK_CAPS_MULTIPLE | PK_CAPS_OPTIONS;
}

__declspec(dllexport) int __stdcall GetBackgroundFlags()
{
    return BACKGROUND_PACK;
}

__declspec(dllexport) int __stdcall PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags)
{
    (void)SubPath;
    (void)Flags;
    try {
        return RunPackFiles(PackedFile, SrcPath, AddList);
    } catch (...) {
        // Out of memory is the only failure that can be thrown; the host gets no other code
        // than 0 or 21, and a stop is the honest answer for work that was cut short.
        return E_EABORTED;
    }
}

// The settings dialog, owned by the window that is active now. Accepted settings apply from
// the next PackFiles on; a PackFiles running meanwhile keeps its own copy.
__declspec(dllexport) void __stdcall ConfigurePacker(HWND, HINSTANCE)
{
    try {
        CConfigDlg dialog;
        if (dialog.Run(GetActiveWindow()) == IDOK)
            ReplaceUnpackSettings(dialog.flags(), dialog.keepExtensions());
    } catch (...) {
        // Out of memory while the dialog ran: the settings stay as they were.
    }
}

}  // extern "C"
