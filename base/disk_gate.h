// The one gate through which a job changes the disk: every file or folder that it creates,
// writes, renames, links, deletes or changes the attributes of goes through the calls below.
// Each names a root (a folder the job works in: a group's source folder or destination, the
// settings folder) and a path below it. The gate opens what it changes by handle, without
// following a final link, and checks that the handle's final path lies below the root's final
// path (for a name it makes, the final path of its folder), so that neither "..", nor another
// spelling, nor a link leads a change out of its folder.
// A name is created only where it is free, and nothing is renamed over a file but the job's
// own, where the caller says so. Reads are not gated.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// A path in the one form that names are compared in: "\\?\" and "/" as Windows reads them, "."
// and ".." taken, letter case folded as Windows folds it, each step ending with a backslash.
// Empty for a path that Windows would read otherwise than it stands (a step of dots and spaces
// only), a device path, or one that climbs above its drive or share.
std::wstring NormalisedPath(const std::string& path);

// A folder that a job changes things in, known by its final path on the disk.
class DiskRoot {
public:
    DiskRoot() = default;
    // The folder `path` (ends with a backslash). With `create`, it and its missing parents are
    // made first (see RemoveCreatedIfEmpty). Not valid when it is not there: then nothing
    // can be changed below it.
    explicit DiskRoot(const std::string& path, bool create = false);

    bool valid() const { return !final_.empty(); }
    const std::string& path() const { return path_; }
    // The folder's final path on the disk, normalised: the same for every spelling of it.
    const std::wstring& finalPath() const { return final_; }
    // How deep the root lies: of two roots that hold a path, the deeper one is its folder.
    size_t depth() const { return spelt_.size(); }
    // Whether `path`, as it is spelt, names something below the root.
    bool Holds(const std::string& path) const;
    // Whether the file or folder open as `handle` lies below the root's final path (its links
    // resolved), or with `orIsIt` is the root itself.
    bool HoldsOpen(HANDLE handle, bool orIsIt = false) const;
    // The folders that making the root created, and those that the gate made below it since,
    // that are empty: they go, innermost first.
    void RemoveCreatedIfEmpty() const;

    // The folders, as they were spelt, whose spelling and final path were found below the
    // root's (by the gate's threads as well): names are made in them without another look.
    bool Checked(const std::string& folder) const;
    void Remember(const std::string& folder) const;
    // The gate made `folder` below the root.
    void Made(const std::string& folder) const;

private:
    struct Folders {
        std::mutex mutex;
        std::set<std::string> checked;
        std::vector<std::string> made;  // in the order they were made
    };

    std::string path_;
    std::wstring spelt_;  // NormalisedPath(path_)
    std::wstring final_;  // the folder's final path, normalised
    std::vector<std::string> created_;
    std::shared_ptr<Folders> folders_ = std::make_shared<Folders>();
};

// What tells whether a file changed since the job looked at it: its size and last write time,
// which a write changes, and its id on its file system, which another file of its name has not.
struct FileStamp {
    uint64_t size = 0;
    uint64_t writeTime = 0;  // FILETIME count
    uint64_t volume = 0;     // serial number of the file system
    std::array<uint8_t, 16> id = {};  // of the file on that file system
    // The file system keeps ids for good (NTFS, ReFS): no other file takes one later, so the
    // stamp tells the file in a later run too. FAT and exFAT reuse them; some shares make them up.
    bool lasting = false;

    bool operator==(const FileStamp& other) const
    {
        return size == other.size && writeTime == other.writeTime && volume == other.volume && id == other.id;
    }
};
// The stamp of the file open as `file`, or of the file at `path` (a link itself, not what it
// leads to); false when the system tells none.
bool StampOf(HANDLE file, FileStamp& stamp);
bool StampOf(const std::string& path, FileStamp& stamp);

// The files of a group that the job may delete, each with its stamp from when the job first
// looked at it, before it checked or read it, and the folder it found it in: a file is deleted
// only while it is still the one the job saw, never one written to, or put in its place, since,
// and only below the folder it was found in, whatever else its spelling lies below. Used by the
// job's own thread.
class SeenFiles {
public:
    // Takes the stamp of the file at `path`, found below `root` (which outlives this), unless it
    // has one: what the job saw first counts.
    void Look(const DiskRoot& root, const std::string& path);
    // The job renamed the file it saw at `from` to `to`.
    void Moved(const std::string& from, const std::string& to);
    // Whether the file at `path` is the one the job saw there, or gone: false for one it never
    // looked at, or that changed since.
    bool Unchanged(const std::string& path) const;
    const FileStamp* Of(const std::string& path) const;
    // The folder the job found the file at `path` in; null for one it never looked at.
    const DiskRoot* RootOf(const std::string& path) const;
    // Deletes the file at `path` when it is the one the job saw there, held open against
    // writers from the comparison to the deletion; false, deleting nothing, otherwise.
    bool Delete(const std::string& path) const;

private:
    struct Seen {
        FileStamp stamp;
        const DiskRoot* root;
    };
    std::unordered_map<std::wstring, Seen> seen_;  // by NormalisedPath
};

namespace gate {

// Creates the file `path` below `root` where its name is free (never opening a file that stands
// there), in a folder whose final path lies below the root's; INVALID_HANDLE_VALUE otherwise,
// with the reason in GetLastError (ERROR_FILE_EXISTS for a name in use).
HANDLE CreateNew(const DiskRoot& root, const std::string& path, DWORD access, DWORD share, DWORD attributes);
// Whether a file can be created in `root`: tried with a file of a free name that vanishes when
// it is closed. The read-only attribute of a folder says nothing about this on Windows.
bool MayCreateIn(const DiskRoot& root);
// Opens the file `path` below `root` that the job made itself to write or delete it: a
// temporary file to continue, its journal.
HANDLE OpenOwn(const DiskRoot& root, const std::string& path, DWORD access, DWORD share);
// Writes `path` below `root` afresh with `data`, replacing a file the job made itself (its
// journal, its settings file) by way of a temporary file `path` + ".new", which is put on the
// disk first: a crash leaves the old file or the new one.
bool ReplaceOwn(const DiskRoot& root, const std::string& path, const std::string& data, DWORD attributes);

// Deletes the file `path` below `root`.
bool Delete(const DiskRoot& root, const std::string& path);
// Deletes the file open as `file` (opened with DELETE access) when it is closed.
bool DeleteOpen(HANDLE file);
// Renames the file `from` below `root` to the free name `to` below it, or with `replaceOwn` to
// a file of the job's own that it takes the place of.
bool Rename(const DiskRoot& root, const std::string& from, const std::string& to, bool replaceOwn = false);
// Renames the file open as `file` (opened through the gate below `root`, with DELETE access)
// to `to` below `root`: a free name, or with `replaceOwn` a file of the job's own that it takes
// the place of.
bool RenameOpen(const DiskRoot& root, HANDLE file, const std::string& to, bool replaceOwn);
// Gives the file `existing` below `root` the second, free name `link` below it.
bool Link(const DiskRoot& root, const std::string& existing, const std::string& link);

// Creates the folder `path` below `root`; true also when a folder stands there.
bool CreateFolder(const DiskRoot& root, const std::string& path);
// Creates every missing folder of the folder `path` below `root` (spelt from the root's path
// on), one level after another, up to the first level that cannot be made: a name of thousands
// of levels costs no stack.
void CreateFolders(const DiskRoot& root, const std::string& path);
// Removes the empty folder `path` below `root`.
bool RemoveFolder(const DiskRoot& root, const std::string& path);

// Gives the file open as `file` these attributes (FILE_BASIC_INFO; times of zero stay).
bool SetAttributesOpen(HANDLE file, DWORD attributes);

}  // namespace gate
