#include "engine/temp_file_cleanup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace {

typedef std::vector<std::string> Paths;

FileList ListOf(const Paths& paths)
{
    FileList list;
    for (const std::string& path : paths)
        list.Append(path);
    return list;
}

Paths PathsOf(const FileList& list)
{
    return Paths(list.begin(), list.end());
}

KeepExtensionMap KeepMap(const Paths& keys)
{
    KeepExtensionMap map;
    for (const std::string& key : keys)
        map.emplace(key, static_cast<int32_t>(map.size()));
    return map;
}

// Two spellings of one file are one path: ZIP entries keep the stored "/", RAR entries use
// "\", and Windows ignores letter case. Every duplicate of an overwritten path goes.
TEST(RemoveOverwritten, TakesOutEveryPathThatTheSecondPassWroteAgain)
{
    const struct {
        Paths first;
        Paths second;
        Paths left;
    } cases[] = {
        {{"D:\\o\\a.rar", "D:\\o\\film.mkv", "D:\\o\\a.rar"}, {"D:\\o\\a.rar"}, {"D:\\o\\film.mkv"}},
        {{"D:\\o\\sub/film.mkv", "D:\\o\\x.nfo"}, {"D:\\o\\sub\\film.mkv"}, {"D:\\o\\x.nfo"}},
        {{"D:\\o\\SUB\\Film.MKV", "D:\\o\\y"}, {"d:\\o\\sub/film.mkv"}, {"D:\\o\\y"}},
        {{"D:\\o\\caf\xE9.txt"}, {"D:\\o\\CAF\xC9.TXT"}, {}},
        {{"D:\\o\\a.rar"}, {"D:\\o\\b.rar"}, {"D:\\o\\a.rar"}},
        {{"D:\\o\\a.rar"}, {}, {"D:\\o\\a.rar"}},
    };
    for (const auto& c : cases) {
        FileList first = ListOf(c.first);
        RemoveOverwritten(first, ListOf(c.second));
        EXPECT_EQ(PathsOf(first), c.left) << c.first[0];
    }
}

TEST(RemoveKeptFiles, KeepsByTheTextAfterTheLastDotCaseSensitively)
{
    const struct {
        Paths keys;
        Paths first;
        Paths left;
    } cases[] = {
        {{"nfo"}, {"D:\\o\\x.nfo", "D:\\o\\Y.NFO", "D:\\o\\y.rar"}, {"D:\\o\\Y.NFO", "D:\\o\\y.rar"}},
        // The whole path is the key of a path without a dot.
        {{"D:\\o\\README"}, {"D:\\o\\README", "D:\\o\\LICENSE"}, {"D:\\o\\LICENSE"}},
        // The last dot of the whole path counts, also in a directory name.
        {{"d\\film"}, {"D:\\o\\x.d\\film", "D:\\o\\x.d\\film.mkv"}, {"D:\\o\\x.d\\film.mkv"}},
        // Another spelling of a kept file is that same file.
        {{"nfo"}, {"D:\\o\\sub/x.nfo", "D:\\o\\sub\\x.nfo", "D:\\o\\Sub\\X.nfo"}, {}},
        {{"mkv", "nfo"}, {"D:\\o\\a.mkv", "D:\\o\\b.nfo", "D:\\o\\c.rar"}, {"D:\\o\\c.rar"}},
    };
    for (const auto& c : cases) {
        FileList first = ListOf(c.first);
        RemoveKeptFiles(first, KeepMap(c.keys));
        EXPECT_EQ(PathsOf(first), c.left) << c.first[0];
    }
}

// Clean-up lists of a release with tens of thousands of files give the same results as
// short ones.
TEST(TempFileCleanupFilters, LargeListsKeepTheirMeaning)
{
    const size_t count = 40000;
    FileList first, second;
    for (size_t i = 0; i < count; ++i) {
        const std::string name = "D:\\o\\dir" + std::to_string(i % 100) + "\\file" + std::to_string(i);
        first.Append(name + (i % 4 == 0 ? ".nfo" : ".bin"));
        if (i % 2 == 0)
            second.Append(name + ".BIN");
    }
    RemoveOverwritten(first, second);
    RemoveKeptFiles(first, KeepMap({"nfo"}));
    EXPECT_EQ(first.Size(), count / 2);
    for (const std::string& path : first)
        ASSERT_NE(path.find(".bin"), std::string::npos) << path;
    EXPECT_EQ(first[0], "D:\\o\\dir1\\file1.bin");
}

class TempFileCleanupTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name)
    {
        WriteFileBytes(dir_ / name, name);
        return dir_ / name;
    }
    TempDir dir_;
    UnpackContext context_;
};

// Only intermediate archives and volumes are deleted; of those, the filters keep the ones the
// second pass wrote again (keepOverwritten) and the kept extensions. Results always stay.
TEST_F(TempFileCleanupTest, DeletesTheArchivesThatNoFilterKeeps)
{
    MakeDirectories(dir_ / "sub");
    const FileList second = ListOf({Write("c.zip"), Write("film.mkv"), dir_ / "sub/"});
    const struct {
        int keepOverwritten;
        Paths keys;
        Paths left;
    } cases[] = {
        {1, {"rar"}, {"a.rar", "c.zip", "film.mkv", "release.nfo", "sub\\"}},
        {0, {"rar"}, {"a.rar", "film.mkv", "release.nfo", "sub\\"}},
        {1, {}, {"c.zip", "film.mkv", "release.nfo", "sub\\"}},
        {0, {}, {"film.mkv", "release.nfo", "sub\\"}},
    };
    for (const auto& c : cases) {
        FileList first = ListOf(
            {Write("a.rar"), Write("b.r00"), Write("c.zip"), Write("release.nfo"), Write("film.mkv"), dir_ / "sub/"});
        context_.settings.keepOverwritten = c.keepOverwritten;
        context_.settings.keepExtensions = KeepMap(c.keys);
        TempFileCleanup(context_, first, second);
        EXPECT_EQ(ListTree(dir_.path()), c.left) << c.keepOverwritten << " " << c.keys.size();
    }
}

}  // namespace
