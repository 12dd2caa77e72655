// The gate through which every change to the disk goes, through its public calls with real
// files: nothing outside a root changes, by "..", by a link, or from a root nested in another;
// a name that is taken (by a file, a read-only one, one whose deletion is pending) is never
// written over or renamed over.
#include "base/disk_gate.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/archive_fixtures.h"
#include "tests/support/test_files.h"

namespace {

typedef std::vector<std::string> Names;

// Each change is refused and leaves the link fixtures as they were: links/root/out is a link to
// the folder links/outside, links/root/inner/evil.bin one to the file in it.
TEST(DiskGate, NothingOutsideTheRootChanges)
{
    const std::string root = FixturePath("links") + "\\root\\";
    const std::string outside = FixturePath("links") + "\\outside\\";
    const DiskRoot gate(root), inner(root + "inner\\");
    ASSERT_TRUE(gate.valid());
    const auto create = [](const DiskRoot& in, const std::string& path) {
        HANDLE file = gate::CreateNew(in, path, GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        gate::DeleteOpen(file);
        CloseHandle(file);
        return true;
    };
    const std::vector<std::pair<const char*, std::function<bool()>>> changes = {
        {"a name that climbs out", [&] { return create(gate, root + "..\\outside\\made.txt"); }},
        {"a name that climbs out from a folder", [&] { return create(gate, root + "inner\\..\\..\\made.txt"); }},
        {"a file in a linked folder", [&] { return create(gate, root + "out\\made.txt"); }},
        {"a folder in a linked folder", [&] { return gate::CreateFolder(gate, root + "out\\made"); }},
        {"a linked file deleted", [&] { return gate::Delete(gate, root + "inner\\evil.bin"); }},
        {"a linked file renamed", [&] { return gate::Rename(gate, root + "inner\\evil.bin", root + "moved.bin"); }},
        {"a file renamed into a linked folder", [&] { return gate::Rename(gate, root + "own.txt", root + "out\\own.txt"); }},
        {"a file linked into a linked folder", [&] { return gate::Link(gate, root + "own.txt", root + "out\\own.txt"); }},
        {"a file of the outer root from the inner one", [&] { return gate::Delete(inner, root + "own.txt"); }},
        {"a step of dots", [&] { return create(gate, root + "...\\made.txt"); }},
    };
    for (const auto& change : changes) {
        EXPECT_FALSE(change.second()) << change.first;
        EXPECT_EQ(ListTree(outside), Names{"evil.bin"}) << change.first;
        EXPECT_EQ(ReadFileBytes(outside + "evil.bin"), "the user's own") << change.first;
        EXPECT_EQ(ReadFileBytes(root + "own.txt"), "own") << change.first;
    }
    EXPECT_FALSE(FileExists(FixturePath("links") + "\\made.txt"));
}

TEST(DiskGate, TakenNamesAreNeverWrittenOver)
{
    TempDir dir;
    const DiskRoot root(dir / "");
    WriteFileBytes(dir / "kept.txt", "kept");
    SetFileAttributesA((dir / "kept.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(dir / "other.txt", "other");
    EXPECT_EQ(gate::CreateNew(root, dir / "kept.txt", GENERIC_WRITE, 0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_FALSE(gate::Rename(root, dir / "other.txt", dir / "kept.txt"));
    EXPECT_FALSE(gate::Delete(root, dir / "kept.txt"));
    EXPECT_EQ(ReadFileBytes(dir / "kept.txt"), "kept");
    EXPECT_EQ(ReadFileBytes(dir / "other.txt"), "other");
    SetFileAttributesA((dir / "kept.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    // A file whose deletion is pending is neither free nor gone until its last handle closes.
    HANDLE pending = gate::CreateNew(root, dir / "pending.txt", GENERIC_WRITE, FILE_SHARE_DELETE, 0);
    ASSERT_NE(pending, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(gate::DeleteOpen(pending));
    EXPECT_EQ(gate::CreateNew(root, dir / "pending.txt", GENERIC_WRITE, 0, 0), INVALID_HANDLE_VALUE);
    CloseHandle(pending);
    EXPECT_FALSE(FileExists(dir / "pending.txt"));

    // A folder goes only empty; a name with trailing dots and spaces is the name Windows reads.
    ASSERT_TRUE(gate::CreateFolder(root, dir / "folder"));
    WriteFileBytes(dir / "folder\\in.txt", "in");
    EXPECT_FALSE(gate::RemoveFolder(root, dir / "folder"));
    EXPECT_TRUE(gate::Delete(root, dir / "folder\\in.txt"));
    EXPECT_TRUE(gate::RemoveFolder(root, dir / "folder"));
    EXPECT_EQ(NormalisedPath(dir / "a\\b.txt. ."), NormalisedPath(dir / "A\\.\\B.TXT"));
    // The folders the gate made go again when left empty.
    gate::CreateFolders(root, dir / "made\\deeper\\");
    ASSERT_TRUE(DirectoryExists(dir / "made\\deeper"));
    root.RemoveCreatedIfEmpty();
    EXPECT_EQ(ListTree(dir.path()), (Names{"kept.txt", "other.txt"}));
}

// A file goes only while it is the one the job saw, and only below the folder it was found in:
// not once written to, put in its place by another file of its name, or held open by a writer;
// nor one it never looked at, nor one it found in a folder that its spelling leads out of.
TEST(DiskGate, ASeenFileGoesOnlyAsItWasSeen)
{
    TempDir dir;
    const DiskRoot root(dir / "");
    ASSERT_TRUE(CreateDirectoryA((dir / "sub").c_str(), nullptr));
    const DiskRoot sub(dir / "sub\\");
    SeenFiles seen;
    for (const char* name : {"written.txt", "replaced.txt", "held.txt", "renamed.txt", "climbed.txt"}) {
        WriteFileBytes(dir / name, name);
        seen.Look(std::string(name) == "climbed.txt" ? sub : root, dir / name);
    }
    WriteFileBytes(dir / "unseen.txt", "unseen");
    WriteFileBytes(dir / "written.txt", "written.txt, and more");
    DeleteFileA((dir / "replaced.txt").c_str());
    WriteFileBytes(dir / "replaced.txt", "replaced.txt");
    seen.Look(root, dir / "replaced.txt");  // the first look counts
    EXPECT_FALSE(seen.Delete(dir / "sub\\..\\climbed.txt"));
    for (const char* name : {"written.txt", "replaced.txt", "unseen.txt"}) {
        EXPECT_FALSE(seen.Unchanged(dir / name)) << name;
        EXPECT_FALSE(seen.Delete(dir / name)) << name;
        EXPECT_TRUE(FileExists(dir / name)) << name;
    }
    HANDLE writer = CreateFileA((dir / "held.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(seen.Delete(dir / "held.txt"));
    CloseHandle(writer);
    EXPECT_TRUE(seen.Delete(dir / "held.txt"));
    ASSERT_TRUE(gate::Rename(root, dir / "renamed.txt", dir / "moved.txt"));
    seen.Moved(dir / "renamed.txt", dir / "moved.txt");
    EXPECT_TRUE(seen.Delete(dir / "moved.txt"));
    EXPECT_TRUE(seen.Unchanged(dir / "moved.txt"));  // gone
    EXPECT_EQ(ListTree(dir.path()), (Names{"climbed.txt", "replaced.txt", "sub\\", "unseen.txt", "written.txt"}));
}

}  // namespace
