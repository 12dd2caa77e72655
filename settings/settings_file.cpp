#include "settings/settings_file.h"

#include <windows.h>
#include <ntsecapi.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <vector>

#include "base/disk_gate.h"
#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "settings/xml/xml_param.h"

namespace {

// The keys of the settings file.
const char kKeyDeleteTemp[] = "RavelpakSettings:General:DeleteTemp";
const char kKeyKeepOverwritten[] = "RavelpakSettings:General:KeepOverWritten";
const char kKeyFileToKeep[] = "RavelpakSettings:General:File-to-keep";
const char kKeyDeleteSrcDuring[] = "RavelpakSettings:General:Delete-src-during";
const char kKeyKeepSrcNoSfv[] = "RavelpakSettings:General:Keep-src-nosfv";
const char kKeyCheckCrc[] = "RavelpakSettings:General:Check-CRC";
const char kKeyDeleteSfv[] = "RavelpakSettings:General:Delete-sfv";

const char kSettingsName[] = "ravelpak.xml";
const char kKeyName[] = "ravelpak.key";
const DWORD kKeyBytes = 32;
// A settings file is a few hundred bytes; anything far larger is not one.
const DWORD kMaxSettingsBytes = 16 * 1024 * 1024;

std::atomic<HINSTANCE> g_module{nullptr};

// The suggested ini folder and the chosen path, both fixed by the first load.
std::mutex g_locationLock;
std::string g_iniFolder;
std::string g_settingsPath;
bool g_located = false;
// The key once it was read or made: it never changes while the module is loaded.
std::mutex g_keyLock;
std::string g_key;

// The flags in the file's order, with their place in the record.
const struct {
    const char* key;
    int32_t SettingsRecord::*flag;
} kFlagKeys[] = {
    {kKeyDeleteTemp, &SettingsRecord::deleteTemp},
    {kKeyKeepOverwritten, &SettingsRecord::keepOverwritten},
    {kKeyDeleteSrcDuring, &SettingsRecord::deleteSrcDuring},
    {kKeyKeepSrcNoSfv, &SettingsRecord::keepSrcNoSfv},
    {kKeyCheckCrc, &SettingsRecord::checkCrc},
    {kKeyDeleteSfv, &SettingsRecord::deleteSfv},
};

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ModuleDirectory()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(g_module.load(), path, MAX_PATH);
    return FolderOf(std::string(path, length < MAX_PATH ? length : 0));
}

// Whether the settings file can be written in the folder.
bool FolderWritable(const std::string& folder)
{
    return gate::MayCreateIn(DiskRoot(Utf8FromCodePage(folder, CP_ACP)));
}

// True when something (a file, or anything else) stands at the path.
bool SettingsFileExists(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

std::string ChooseSettingsPath(const std::string& moduleFolder, const std::string& iniFolder)
{
    const std::string beside = moduleFolder + kSettingsName;
    if (iniFolder.empty() || SettingsFileExists(beside))
        return beside;
    const std::string suggested = iniFolder + kSettingsName;
    if (SettingsFileExists(suggested))
        return suggested;
    return FolderWritable(moduleFolder) ? beside : suggested;
}

// The folder of the key, as UTF-8; empty when there is none to be had.
std::string KeyFolder()
{
    const std::string settings = Utf8FromCodePage(SettingsFilePath(), CP_ACP);
    const std::string module = Utf8FromCodePage(ModuleDirectory(), CP_ACP);
    if (!module.empty() && FileIdentity(FolderOf(settings)) == FileIdentity(module))
        return module;
    wchar_t local[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    std::string folder = Utf8(std::wstring(local, length));
    if (folder.back() != '\\')
        folder += '\\';
    return folder + "Ravelpak\\";
}

bool ReadKey(const std::string& path, std::string& key)
{
    FileHandle file(OpenToRead(path, GENERIC_READ, FILE_SHARE_READ));
    char bytes[kKeyBytes + 1];
    DWORD got = 0;
    if (!file.valid() || !ReadFile(file.get(), bytes, sizeof bytes, &got, nullptr) || got != kKeyBytes)
        return false;
    key.assign(bytes, kKeyBytes);
    return true;
}

// Makes the key at `path`, in a folder made for it where it is missing; false, leaving nothing,
// when that fails, and when a key stands there already (another process made it meanwhile).
bool MakeKey(const std::string& folder, const std::string& path)
{
    unsigned char bytes[kKeyBytes];
    if (!RtlGenRandom(bytes, kKeyBytes))
        return false;
    const DiskRoot root(folder, true);
    FileHandle file(gate::CreateNew(root, path, GENERIC_WRITE | DELETE, 0, FILE_ATTRIBUTE_NORMAL));
    if (!file.valid())
        return false;
    DWORD written = 0;
    if (WriteFile(file.get(), bytes, kKeyBytes, &written, nullptr) && written == kKeyBytes && FlushFileBuffers(file.get()))
        return true;
    gate::DeleteOpen(file.get());
    return false;
}

bool NamesUtf8(const std::string& encoding)
{
    return encoding.empty() ||
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, encoding.c_str(), -1, "UTF-8", -1) == CSTR_EQUAL;
}

void SetValue(XmlParamDocument& document, const char* key, const std::string& value)
{
    std::vector<std::string> path;
    splitParamPath(key, path);
    document.params.setParam(path, value);
}

// A flag is on for the number 1 and off for any other number; a value that is no number
// leaves the default.
void ReadFlag(const XmlParamDocument& document, const char* key, int32_t& flag)
{
    std::vector<std::string> path;
    splitParamPath(key, path);
    int32_t number = 0;
    if (document.params.getParam(path, number))
        flag = number == 1 ? 1 : 0;
}

SettingsFileResult Failure(const std::string& path, DWORD error)
{
    SettingsFileResult result;
    result.path = path;
    result.error = error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    return result;
}

SettingsFileResult Success(const std::string& path)
{
    SettingsFileResult result;
    result.ok = true;
    result.path = path;
    return result;
}

}  // namespace

std::string SettingsFileResult::Reason() const
{
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length > 0 && text ? std::string(text, length) : std::string();
    if (text)
        LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return reason.empty() ? "error " + std::to_string(error) : reason;
}

void KeepModuleInstance(HINSTANCE module)
{
    g_module.store(module);
    SetUnpackSettingsLoader(LoadModuleSettings);
}

void SuggestSettingsIni(const char* iniFile)
{
    std::lock_guard<std::mutex> guard(g_locationLock);
    if (!g_located)
        g_iniFolder = iniFile ? FolderOf(iniFile) : std::string();
}


std::string SettingsFilePath()
{
    std::lock_guard<std::mutex> guard(g_locationLock);
    if (!g_located) {
        g_settingsPath = ChooseSettingsPath(ModuleDirectory(), g_iniFolder);
        g_located = true;
    }
    return g_settingsPath;
}

JournalKey LoadJournalKey()
{
    std::lock_guard<std::mutex> guard(g_keyLock);
    const std::string folder = KeyFolder();
    JournalKey key{g_key, folder + kKeyName};
    if (!key.bytes.empty() || folder.empty())
        return key;
    if (ReadKey(key.path, key.bytes) || (MakeKey(folder, key.path) && ReadKey(key.path, key.bytes)) ||
        ReadKey(key.path, key.bytes))
        g_key = key.bytes;
    return key;
}

SettingsFileResult ReadSettingsFile(const std::string& path, SettingsRecord& record)
{
    FileHandle file(OpenToRead(Utf8FromCodePage(path, CP_ACP), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!file.valid())
        return Failure(path, GetLastError());
    std::string bytes;
    LARGE_INTEGER size = {};
    DWORD error = ERROR_SUCCESS;
    if (!GetFileSizeEx(file.get(), &size)) {
        error = GetLastError();
    } else if (size.QuadPart > kMaxSettingsBytes) {
        error = ERROR_FILE_TOO_LARGE;
    } else {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && !ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr))
            error = GetLastError();
        bytes.resize(got);
    }
    file.reset();
    if (error != ERROR_SUCCESS)
        return Failure(path, error);

    // The values of a UTF-8 file come out of the document in UTF-8, its character references
    // too; the record keeps them in the ANSI code page. A file that says it is UTF-8 but is not
    // is read as it stands, as files of earlier versions in the ANSI code page are.
    const bool utf8 = NamesUtf8(declaredXmlEncoding(bytes)) && IsValidUtf8(bytes);
    XmlParamDocument document;
    document.loadText(std::move(bytes));
    for (const auto& entry : kFlagKeys)
        ReadFlag(document, entry.key, record.*entry.flag);
    std::string patterns;
    if (document.getParamString(kKeyFileToKeep, patterns, std::string()))
        SetKeepPatternText(record, utf8 ? CodePageFromUtf8(patterns, CP_ACP) : patterns);

    return Success(path);
}

SettingsFileResult WriteSettingsFile(const std::string& path, const SettingsRecord& record)
{
    XmlParamDocument document;
    for (const auto& entry : kFlagKeys)
        SetValue(document, entry.key, record.*entry.flag == 1 ? "1" : "0");
    SetValue(document, kKeyFileToKeep, record.fileToKeep);
    std::ostringstream out;
    document.write(out);
    const std::string bytes = Utf8FromCodePage(out.str(), CP_ACP);

    // The folder is made when it is missing; the file is replaced as a whole, so that a crash or
    // a power cut while saving leaves the old settings or the new ones.
    const std::string utf8 = Utf8FromCodePage(path, CP_ACP);
    const DiskRoot folder(FolderOf(utf8), true);
    if (!folder.valid() || !gate::ReplaceOwn(folder, utf8, bytes, FILE_ATTRIBUTE_NORMAL))
        return Failure(path, GetLastError());
    return Success(path);
}

void LoadModuleSettings()
{
    const std::string path = SettingsFilePath();
    SettingsRecord record;
    const SettingsFileResult read = ReadSettingsFile(path, record);
    // Only where nothing stands: a file that cannot be read is left for the user to mend.
    if (!read.ok && !SettingsFileExists(path))
        WriteSettingsFile(path, record);
    InstallUnpackSettings(record);
}

SettingsFileResult SaveModuleSettings(const SettingsRecord& record)
{
    SettingsFileResult result = WriteSettingsFile(SettingsFilePath(), record);
    if (result.ok)
        InstallUnpackSettings(record);
    return result;
}
