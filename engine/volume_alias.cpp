#include "engine/volume_alias.h"

#include <windows.h>

#include "base/files.h"
#include "base/handles.h"
#include "engine/journal.h"
#include "engine/release_names.h"
#include "base/text.h"

namespace {

bool Exists(const std::string& path)
{
    return GetFileAttributesW(PlatformPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// True when both names lead to one file: a hard link of the other.
bool SameFile(const std::string& a, const std::string& b)
{
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const FileHandle file(
            OpenToRead(*paths[i], FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
        if (!file.valid() || !GetFileInformationByHandle(file.get(), &info[i]))
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// `path` is a link to the volume of its name without the prefix.
bool IsLeftoverLink(const std::string& path)
{
    const std::string name = OwnName(path);
    if (name.size() <= 3 || _strnicmp(name.c_str(), "xxx", 3) != 0)
        return false;
    const std::string own = path.substr(0, path.size() - name.size()) + name.substr(3);
    return PrefixedVolumeName(own) == path && SameFile(path, own);
}

// A first volume that a dead run renamed, named by `source` under either name: its temporary
// name and its own.
bool RenamedVolume(const Journal& journal, const std::string& source, std::string& prefixed, std::string& own)
{
    prefixed = source;
    own = journal.RenamedFrom(prefixed);
    if (own.empty()) {
        prefixed = PrefixedVolumeName(source);
        own = journal.RenamedFrom(prefixed);
    }
    return !own.empty() && ClassifyName(own).kind == NameKind::FirstVolume &&
           FileIdentity(PrefixedVolumeName(own)) == FileIdentity(prefixed);
}

}  // namespace

void VolumeAlias::Make(const UnpackContext& context)
{
    const std::string prefixed = PrefixedVolumeName(own_);
    // The link goes beside the volume, in the folder the job found it in; a volume it never
    // looked at is read under its own name.
    root_ = context.seen->RootOf(own_);
    if (!root_)
        return;
    // A link that a dead run left goes first; a file of that name that is no link stays, and the
    // set is then read under its own name.
    if (Exists(prefixed) && SameFile(prefixed, own_))
        gate::Delete(*root_, prefixed);
    if (Exists(prefixed))
        return;
    linked_ = gate::Link(*root_, own_, prefixed);
    if (linked_) {
        onDisk_ = prefixed;
        return;
    }
    if (context.journal->Record([&](Journal& next) { next.AddRenamed(prefixed, own_); }) &&
        gate::Rename(*root_, own_, prefixed))
        onDisk_ = prefixed;
}

void VolumeAlias::Undo()
{
    // A link that cannot go is taken away by the next run; a volume that cannot be renamed back
    // is, too, since the journal recorded the rename before it was made.
    if (linked_)
        gate::Delete(*root_, onDisk_);
    else if (onDisk_ != own_ && Exists(onDisk_))
        gate::Rename(*root_, onDisk_, own_);
    linked_ = false;
    onDisk_ = own_;
}

FileList RestoreAliases(const UnpackContext& context, const FileList& sources)
{
    // Only a first volume of the selection (named by either name) gets its own name back,
    // whatever else a journal says. One that cannot be renamed back is missing under
    // its own name, and the group fails as it does for any missing volume, keeping everything.
    FileList restored;
    std::string prefixed, own;
    for (const std::string& source : sources) {
        if (RenamedVolume(*context.journal, source, prefixed, own)) {
            if (Exists(prefixed) && !Exists(own))
                gate::Rename(*context.source, prefixed, own);
            restored.Append(own);
        } else if (IsLeftoverLink(source)) {
            gate::Delete(*context.source, source);  // a link that stays is clutter, not data
        } else {
            restored.Append(source);
        }
    }
    return restored;
}
