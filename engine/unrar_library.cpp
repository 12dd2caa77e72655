#include "engine/unrar_library.h"

#include <string>

namespace {

const wchar_t kLibraryName[] = L"unrar64.dll";

// The directory (with its trailing backslash) of the file a module was loaded from; empty when
// the name does not fit the buffer.
std::wstring DirectoryOfModule(HMODULE module)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return std::wstring();
    std::wstring full(path, length);
    return full.substr(0, full.rfind(L'\\') + 1);
}

// The module that contains this code: the plugin in the host, the program in a test.
HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

template <typename Function> bool Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

}  // namespace

UnrarModule::UnrarModule()
{
    const std::wstring own = DirectoryOfModule(ThisModule());
    const std::wstring host = DirectoryOfModule(nullptr);
    if (!Load(own) && host != own)
        Load(host);
}

UnrarModule::~UnrarModule()
{
    if (module_)
        FreeLibrary(module_);
}

bool UnrarModule::Load(const std::wstring& directory)
{
    if (directory.empty())
        return false;
    // The library's own imports come from its directory or the system directory only.
    HMODULE module = LoadLibraryExW((directory + kLibraryName).c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module)
        return false;
    UnrarLibrary library;
    if (!Resolve(module, "RAROpenArchiveEx", library.RAROpenArchiveEx) ||
        !Resolve(module, "RARCloseArchive", library.RARCloseArchive) ||
        !Resolve(module, "RARReadHeaderEx", library.RARReadHeaderEx) ||
        !Resolve(module, "RARProcessFileW", library.RARProcessFileW)) {
        FreeLibrary(module);
        return false;
    }
    module_ = module;
    library_ = library;
    return true;
}
