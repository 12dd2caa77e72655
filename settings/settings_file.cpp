#include "settings/settings_file.h"

#include <atomic>

#include "settings/unpack_settings.h"
#include "settings/xml/xml_param.h"

const char kKeyDeleteTemp[] = "RavelpakSettings:General:DeleteTemp";
const char kKeyKeepOverwritten[] = "RavelpakSettings:General:KeepOverWritten";
const char kKeyFileToKeep[] = "RavelpakSettings:General:File-to-keep";
const char kKeyDeleteSrcDuring[] = "RavelpakSettings:General:Delete-src-during";
const char kKeyKeepSrcNoSfv[] = "RavelpakSettings:General:Keep-src-nosfv";
const char kKeyCheckCrc[] = "RavelpakSettings:General:Check-CRC";
const char kKeyDeleteSfv[] = "RavelpakSettings:General:Delete-sfv";

namespace {

std::atomic<HINSTANCE> g_resourceModule{nullptr};
HMODULE g_languageModule = nullptr;

std::string ModuleDirectory(HINSTANCE module)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    size_t slash = name.rfind('\\');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

}  // namespace

bool SettingsFileExists(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

std::string SettingsFilePath(HINSTANCE module)
{
    return ModuleDirectory(module) + "ravelpak.xml";
}

HINSTANCE ResourceModule()
{
    return g_resourceModule.load();
}

void SetValue(XmlParamDocument& document, const char* key, const char* value)
{
    std::vector<std::string> path;
    splitParamPath(key, path);
    document.params.setParam(path, value);
}

void ReadFlag(const XmlParamDocument& document, const char* key, int32_t& flag)
{
    std::vector<std::string> path;
    splitParamPath(key, path);
    int32_t number = 0;
    if (document.params.getParam(path, number))
        flag = number == 1 ? 1 : 0;
}

void LoadUnpackSettings(HINSTANCE module)
{
    g_resourceModule.store(module);
    const std::string directory = ModuleDirectory(module);

    // The language module holds resources only: it is mapped as data, so none of its code
    // ever runs inside the host.
    const std::string language = directory + "ravelpak_chs.dll";
    g_languageModule = LoadLibraryExA(language.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (g_languageModule)
        g_resourceModule.exchange(g_languageModule);

    const std::string settingsPath = directory + "ravelpak.xml";
    XmlParamDocument document;
    if (!SettingsFileExists(settingsPath)) {
        SetValue(document, kKeyDeleteTemp, "0");
        SetValue(document, kKeyKeepOverwritten, "1");
        document.save(settingsPath.c_str());
    }
    document.load(settingsPath.c_str());

    SettingsRecord record;
    ReadFlag(document, kKeyDeleteTemp, record.deleteTemp);
    ReadFlag(document, kKeyKeepOverwritten, record.keepOverwritten);
    document.getParamString(kKeyFileToKeep, record.fileToKeep, std::string());
    ReadFlag(document, kKeyDeleteSrcDuring, record.deleteSrcDuring);
    ReadFlag(document, kKeyKeepSrcNoSfv, record.keepSrcNoSfv);
    ReadFlag(document, kKeyCheckCrc, record.checkCrc);
    ReadFlag(document, kKeyDeleteSfv, record.deleteSfv);
    ParseKeepPatterns(record.fileToKeep, record.keepPatterns);
    BuildKeepExtensions(record.keepPatterns, record.keepExtensions);
    UnpackSettings = record;
}

void UnloadUnpackSettings(bool processEnding)
{
    if (g_languageModule) {
        g_resourceModule.store(nullptr);
        if (!processEnding)
            FreeLibrary(g_languageModule);
        g_languageModule = nullptr;
    }
    UnpackSettings.keepExtensions.clear();
}
