// The first volume of a set under another name that the library reads the set by, so that it
// asks for every next volume instead of opening a name it derived itself (a RAR 5 set with
// old-style names, which the library counts up wrongly): "xxx" + its name, beside it. It is a
// hard link, which leaves the download's own names as they are whenever the process dies; a
// run of the same job finds a link that a dead run left and takes it away. Where the file
// system has no hard links, the volume itself is renamed for the while, recorded in the group's
// journal first, and a run that died meanwhile leaves it to the next one, which renames it back
// before anything else.
#pragma once

#include <string>

#include "engine/file_list.h"
#include "engine/unpack_context.h"

class VolumeAlias {
public:
    explicit VolumeAlias(const std::string& own) : own_(own), onDisk_(own) {}
    ~VolumeAlias() { Undo(); }
    VolumeAlias(const VolumeAlias&) = delete;
    VolumeAlias& operator=(const VolumeAlias&) = delete;

    // Makes the alias; the volume stays readable under its own name when neither way works.
    void Make(const UnpackContext& context);
    // The volume has its own name only again: a link would keep its data on the disk after the
    // volume is deleted.
    void Undo();
    const std::string& onDisk() const { return onDisk_; }

private:
    std::string own_;
    std::string onDisk_;
    const DiskRoot* root_ = nullptr;  // the folder of the volume, once the alias is made
    bool linked_ = false;
};

// The group's selection as a dead run left it: a volume it renamed is given its own name back
// and stands under it, a link it left is taken away and goes from the list.
FileList RestoreAliases(const UnpackContext& context, const FileList& sources);
