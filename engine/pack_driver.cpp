#include "engine/pack_driver.h"

#include <windows.h>
#include <imagehlp.h>

#include <cstring>
#include <mutex>
#include <string>

#include "engine/file_list.h"
#include "engine/paths.h"
#include "engine/sfv.h"
#include "engine/unpack_group.h"
#include "engine/unrar_library.h"
#include "host/progress.h"
#include "host/wcx.h"

namespace {

std::mutex& PackLock()
{
    static std::mutex lock;
    return lock;
}

bool IsDirectoryEntry(const std::string& name, bool firstName)
{
    return (!name.empty() && name.back() == '\\') || (name.empty() && firstName);
}

bool IsSfvEntry(const std::string& name)
{
    return name.find(".sfv") != std::string::npos;
}

void CreateDestination(const std::string& directory)
{
    if (directory.empty() || !FitsMaxPath(directory))
        return;
    char path[MAX_PATH];
    std::memcpy(path, directory.c_str(), directory.size() + 1);
    MakeSureDirectoryPathExists(path);
}

// The walk over one selection. Paths that do not fit MAX_PATH are never handed to the
// platform: such a source file is passed over, and a group whose destination does not fit is
// not unpacked.
class PackWalk {
public:
    PackWalk(const char* packedFile, const char* srcPath) : sourceDirectory_(srcPath)
    {
        context_.settings = SnapshotUnpackSettings();
        context_.unrar = unrar_.library();
        destinationDirectory_ = DirectoryOf(packedFile);
        currentDestination_ = destinationDirectory_;
    }

    void HandleName(const std::string& name, bool firstName)
    {
        if (IsDirectoryEntry(name, firstName)) {
            std::string next = destinationDirectory_ + name;
            if (firstName)
                CreateDestination(next);
            else
                CloseGroup(&next);
            currentDestination_ = next;
        } else if (IsSfvEntry(name)) {
            sfvPath_ = sourceDirectory_ + name;
            context_.sfvPresent = true;
        } else {
            std::string path = sourceDirectory_ + name;
            if (FitsMaxPath(path))
                sources_.Append(path);
            ++sourceCount_;
        }
    }

    void Finish()
    {
        if (sourceCount_ != 0)
            CloseGroup(nullptr);
    }

private:
    // Closes the gathered group; `nextDirectory` is the directory entry that ends it, if any.
    void CloseGroup(const std::string* nextDirectory)
    {
        bool verified = FitsMaxPath(currentDestination_);
        if (verified && !sfvPath_.empty() && context_.settings.checkCrc)
            verified = VerifySfv(sfvPath_) == SfvVerified;
        if (nextDirectory)
            CreateDestination(*nextDirectory);
        // The SFV file stays with a group that was not unpacked completely: its sources, or
        // what is left of them, can still be checked against it.
        if (verified && UnpackGroup(context_, sources_, currentDestination_) && !sfvPath_.empty() &&
            context_.settings.deleteSfv && FitsMaxPath(sfvPath_))
            DeleteFileA(sfvPath_.c_str());
        sources_.Clear();
        sourceCount_ = 0;
        sfvPath_.clear();
        context_.sfvPresent = false;
    }

    UnrarModule unrar_;
    UnpackContext context_;
    std::string destinationDirectory_;
    std::string sourceDirectory_;
    std::string currentDestination_;
    FileList sources_;
    unsigned sourceCount_ = 0;
    std::string sfvPath_;
};

}  // namespace

int RunPackFiles(const char* packedFile, const char* srcPath, const char* addList)
{
    if (!packedFile || !srcPath || !addList)
        return E_SUCCESS;
    std::lock_guard<std::mutex> serialised(PackLock());

    ContinueFlag = 1;
    PackWalk walk(packedFile, srcPath);
    // AddList: names packed one after another, each ended by a zero; an empty name ends it.
    // The first name may itself be empty (a directory entry for the destination itself).
    size_t position = std::strlen(addList);
    walk.HandleName(std::string(addList, position), true);
    while (addList[position + 1] != '\0') {
        const char* name = addList + position + 1;
        size_t length = std::strlen(name);
        walk.HandleName(std::string(name, length), false);
        position += length + 1;
        // The stop takes effect before the next name; the group being gathered is dropped.
        if (ContinueFlag == 0)
            return E_EABORTED;
    }
    walk.Finish();
    return E_SUCCESS;
}
