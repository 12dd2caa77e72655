// unrar64.dll, the UnRAR library, loaded at run time for one pack command.
#pragma once

#include <string>

#include "engine/unrar_api.h"

// The library's calls that the RAR stage makes.
struct UnrarLibrary {
    RAROpenArchiveExFn RAROpenArchiveEx;
    RARCloseArchiveFn RARCloseArchive;
    RARReadHeaderExFn RARReadHeaderEx;
    RARProcessFileWFn RARProcessFileW;
};

// Loads unrar64.dll by its full path only: from the directory of the module that holds this
// code, else from the directory of the process's executable, where the file manager keeps its
// own copy. Never through the default search, which includes the current directory: that is
// often the download folder, and a DLL planted there would run inside the host.
class UnrarModule {
public:
    UnrarModule();
    ~UnrarModule();
    UnrarModule(const UnrarModule&) = delete;
    UnrarModule& operator=(const UnrarModule&) = delete;

    // Null when neither directory holds a library with every call the stage needs.
    const UnrarLibrary* library() const { return module_ ? &library_ : nullptr; }

private:
    bool Load(const std::wstring& directory);

    HMODULE module_ = nullptr;
    UnrarLibrary library_ = {};
};
