// The WCX packer-plugin interface as Total Commander publishes it: the records, callback
// types, result codes and capability flags that the host and a plugin exchange.
#pragma once

#include <windows.h>

enum WcxResult {
    E_SUCCESS = 0,
    E_END_ARCHIVE = 10,
    E_NO_MEMORY = 11,
    E_BAD_DATA = 12,
    E_BAD_ARCHIVE = 13,
    E_UNKNOWN_FORMAT = 14,
    E_EOPEN = 15,
    E_ECREATE = 16,
    E_ECLOSE = 17,
    E_EREAD = 18,
    E_EWRITE = 19,
    E_SMALL_BUF = 20,
    E_EABORTED = 21,
    E_NO_FILES = 22,
    E_TOO_MANY_FILES = 23,
    E_NOT_SUPPORTED = 24,
};

enum WcxPackerCaps {
    PK_CAPS_NEW = 1,
    PK_CAPS_MODIFY = 2,
    PK_CAPS_MULTIPLE = 4,
    PK_CAPS_DELETE = 8,
    PK_CAPS_OPTIONS = 16,
    PK_CAPS_MEMPACK = 32,
    PK_CAPS_BY_CONTENT = 64,
    PK_CAPS_SEARCHTEXT = 128,
    PK_CAPS_HIDE = 256,
    PK_CAPS_ENCRYPT = 512,
};

enum WcxBackgroundFlags {
    BACKGROUND_UNPACK = 1,
    BACKGROUND_PACK = 2,
    BACKGROUND_MEMPACK = 4,
};

struct tOpenArchiveData {
    char* ArcName;
    int OpenMode;
    int OpenResult;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

struct tHeaderData {
    char ArcName[260];
    char FileName[260];
    int Flags;
    int PackSize;
    int UnpSize;
    int HostOS;
    int FileCRC;
    int FileTime;
    int UnpVer;
    int Method;
    int FileAttr;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

struct tOpenArchiveDataW {
    wchar_t* ArcName;
    int OpenMode;
    int OpenResult;
    wchar_t* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

// The interface version that a host announces in PackSetDefaultParams.
enum : DWORD { PLUGIN_INTERFACE_VERSION_LOW = 21, PLUGIN_INTERFACE_VERSION_HI = 2 };

struct PackDefaultParamStruct {
    int size;
    DWORD PluginInterfaceVersionLow;
    DWORD PluginInterfaceVersionHi;
    char DefaultIniName[MAX_PATH];  // the suggested ini file, in the folder of the host's settings
};

typedef int(__stdcall* tChangeVolProc)(char* ArcName, int Mode);
typedef int(__stdcall* tProcessDataProc)(char* FileName, int Size);
typedef int(__stdcall* tProcessDataProcW)(wchar_t* FileName, int Size);

// Export signatures, for hosts that load a plugin by name.
typedef HANDLE(__stdcall* OpenArchiveFn)(tOpenArchiveData* ArchiveData);
typedef int(__stdcall* ReadHeaderFn)(HANDLE hArcData, tHeaderData* HeaderData);
typedef int(__stdcall* ProcessFileFn)(HANDLE hArcData, int Operation, char* DestPath, char* DestName);
typedef int(__stdcall* CloseArchiveFn)(HANDLE hArcData);
typedef void(__stdcall* SetChangeVolProcFn)(HANDLE hArcData, tChangeVolProc pChangeVolProc);
typedef void(__stdcall* SetProcessDataProcFn)(HANDLE hArcData, tProcessDataProc pProcessDataProc);
typedef int(__stdcall* GetPackerCapsFn)();
typedef int(__stdcall* GetBackgroundFlagsFn)();
typedef int(__stdcall* PackFilesFn)(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags);
typedef void(__stdcall* ConfigurePackerFn)(HWND Parent, HINSTANCE DllInstance);
typedef HANDLE(__stdcall* OpenArchiveWFn)(tOpenArchiveDataW* ArchiveData);
typedef void(__stdcall* SetProcessDataProcWFn)(HANDLE hArcData, tProcessDataProcW pProcessDataProc);
typedef int(__stdcall* PackFilesWFn)(wchar_t* PackedFile, wchar_t* SubPath, wchar_t* SrcPath, wchar_t* AddList,
                                     int Flags);
typedef void(__stdcall* PackSetDefaultParamsFn)(PackDefaultParamStruct* dps);
