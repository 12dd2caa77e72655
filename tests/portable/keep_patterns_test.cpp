#include "settings/unpack_settings.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

typedef std::vector<std::string> Patterns;

TEST(KeepPatterns, Parsing)
{
    struct Case {
        const char* text;
        Patterns patterns;
    } cases[] = {
        {"", {}},
        {"*.nfo", {"*.nfo"}},
        {"*.nfo,*.txt", {"*.nfo", "*.txt"}},
        {"*.nfo, *.txt", {"*.nfo", "*.txt"}},
        {" * . n f o ", {"*.nfo"}},
        {"a,*.nfo,b", {"*.nfo"}},
        {",,*.nfo,,", {"*.nfo"}},
        {"x", {}},
        {"*.nfo,*.nfo", {"*.nfo", "*.nfo"}},
        {"\t*.nfo", {"\t*.nfo"}},
        {"ab", {"ab"}},
        {" a ,b c", {"bc"}},
    };
    for (const Case& c : cases) {
        Patterns patterns = {"stale"};
        ParseKeepPatterns(c.text, patterns);
        EXPECT_EQ(patterns, c.patterns) << '"' << c.text << '"';
    }
}

TEST(KeepPatterns, ExtensionMap)
{
    struct Case {
        Patterns patterns;
        KeepExtensionMap expected;
    } cases[] = {
        {{}, {}},
        {{"*.nfo"}, {{"nfo", 0}}},
        {{"*.nfo", "*.txt", "*.nfo"}, {{"nfo", 0}, {"txt", 1}}},
        {{"*.tar.gz"}, {{"gz", 0}}},
        {{"README"}, {{"README", 0}}},
        {{"name."}, {{"", 0}}},
        {{"*.NFO", "*.nfo"}, {{"NFO", 0}, {"nfo", 1}}},
    };
    for (const Case& c : cases) {
        KeepExtensionMap map = {{"stale", 9}};
        BuildKeepExtensions(c.patterns, map);
        EXPECT_EQ(map, c.expected);
    }
}

TEST(KeepPatterns, KeysAreOrderedBytewise)
{
    KeepExtensionMap map;
    BuildKeepExtensions({"*.nfo", "*.NFO", "*.nf", "*.b"}, map);
    std::vector<std::string> keys;
    for (const auto& entry : map)
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"NFO", "b", "nf", "nfo"}));
}

// A PackFiles run works on a copy; settings accepted meanwhile reach only later copies.
TEST(SettingsRecord, SnapshotIsUnaffectedByLaterReplacement)
{
    ReplaceUnpackSettings({0, 1, 0, 1, 0, 0}, {{"nfo", 0}});
    SettingsRecord before = SnapshotUnpackSettings();
    std::thread writer([] { ReplaceUnpackSettings({1, 0, 1, 0, 1, 1}, {{"txt", 0}, {"sfv", 1}}); });
    writer.join();
    EXPECT_EQ(before.checkCrc, 0);
    EXPECT_EQ(before.keepExtensions, (KeepExtensionMap{{"nfo", 0}}));
    SettingsRecord after = SnapshotUnpackSettings();
    EXPECT_EQ(after.deleteTemp, 1);
    EXPECT_EQ(after.keepOverwritten, 0);
    EXPECT_EQ(after.deleteSrcDuring, 1);
    EXPECT_EQ(after.keepSrcNoSfv, 0);
    EXPECT_EQ(after.checkCrc, 1);
    EXPECT_EQ(after.deleteSfv, 1);
    EXPECT_EQ(after.keepExtensions, (KeepExtensionMap{{"sfv", 1}, {"txt", 0}}));
    UnpackSettings = SettingsRecord();
}

}  // namespace
