// The part of the UnRAR library's published interface (unrar64.dll, interface version 8) that
// the RAR stage uses, declared here because the library is loaded at run time and its own
// header is not part of the build.
#pragma once

#include <windows.h>

// Results of the library's calls.
const int ERAR_SUCCESS = 0;
const int ERAR_END_ARCHIVE = 10;
const int ERAR_NO_MEMORY = 11;
const int ERAR_BAD_DATA = 12;
const int ERAR_BAD_ARCHIVE = 13;
const int ERAR_UNKNOWN_FORMAT = 14;
const int ERAR_EOPEN = 15;
const int ERAR_ECREATE = 16;
const int ERAR_ECLOSE = 17;
const int ERAR_EREAD = 18;
const int ERAR_EWRITE = 19;
const int ERAR_MISSING_PASSWORD = 22;
const int ERAR_BAD_PASSWORD = 24;

// RAROpenArchiveDataEx::OpenMode and the operation of RARProcessFile.
const unsigned RAR_OM_LIST = 0;
const unsigned RAR_OM_EXTRACT = 1;
const int RAR_SKIP = 0;
const int RAR_TEST = 1;
const int RAR_EXTRACT = 2;

// RARHeaderDataEx::Flags.
const unsigned RHDF_ENCRYPTED = 0x04;
const unsigned RHDF_DIRECTORY = 0x20;

// RAROpenArchiveDataEx::Flags after a successful open.
const unsigned ROADF_VOLUME = 0x0001;
const unsigned ROADF_NEWNUMBERING = 0x0010;
const unsigned ROADF_ENCHEADERS = 0x0080;
const unsigned ROADF_FIRSTVOLUME = 0x0100;

// Open flags: the library leaves an output that failed where it is (the caller decides).
const unsigned ROADOF_KEEPBROKEN = 0x0001;

// Callback messages, and the two meanings of P2 for the volume-change messages.
enum UNRARCALLBACK_MESSAGES {
    UCM_CHANGEVOLUME,
    UCM_PROCESSDATA,
    UCM_NEEDPASSWORD,
    UCM_CHANGEVOLUMEW,
    UCM_NEEDPASSWORDW,
};
const LPARAM RAR_VOL_ASK = 0;
const LPARAM RAR_VOL_NOTIFY = 1;

typedef int(CALLBACK* UNRARCALLBACK)(UINT msg, LPARAM UserData, LPARAM P1, LPARAM P2);

#pragma pack(push, 1)

struct RARHeaderDataEx {
    char ArcName[1024];
    wchar_t ArcNameW[1024];
    char FileName[1024];
    wchar_t FileNameW[1024];
    unsigned int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int DictSize;
    unsigned int HashType;
    char Hash[32];
    unsigned int RedirType;
    wchar_t* RedirName;
    unsigned int RedirNameSize;
    unsigned int DirTarget;
    unsigned int MtimeLow;
    unsigned int MtimeHigh;
    unsigned int CtimeLow;
    unsigned int CtimeHigh;
    unsigned int AtimeLow;
    unsigned int AtimeHigh;
    unsigned int Reserved[988];
};

struct RAROpenArchiveDataEx {
    char* ArcName;
    wchar_t* ArcNameW;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int Flags;
    UNRARCALLBACK Callback;
    LPARAM UserData;
    unsigned int OpFlags;
    wchar_t* CmtBufW;
    unsigned int Reserved[25];
};

#pragma pack(pop)

static_assert(sizeof(RARHeaderDataEx) == 10244, "RARHeaderDataEx must match the library's record");
static_assert(sizeof(RAROpenArchiveDataEx) == 176, "RAROpenArchiveDataEx must match the library's record");

typedef HANDLE(PASCAL* RAROpenArchiveExFn)(RAROpenArchiveDataEx* ArchiveData);
typedef int(PASCAL* RARCloseArchiveFn)(HANDLE hArcData);
typedef int(PASCAL* RARReadHeaderExFn)(HANDLE hArcData, RARHeaderDataEx* HeaderData);
typedef int(PASCAL* RARProcessFileWFn)(HANDLE hArcData, int Operation, wchar_t* DestPath, wchar_t* DestName);
