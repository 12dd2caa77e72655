// The module as the host sees it: loaded by file name, every export found by name.
#include <windows.h>

#include <gtest/gtest.h>

#include "host/wcx.h"
#include "tests/support/test_files.h"

namespace {

class LoadedModule : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module_ = LoadLibraryA((BinaryDirectory() + "ravelpak.wcx64").c_str());
        ASSERT_NE(module_, nullptr);
    }
    static void TearDownTestSuite() { FreeLibrary(module_); }

    template <typename Function> static Function Export(const char* name)
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    static HMODULE module_;
};
HMODULE LoadedModule::module_ = nullptr;

TEST_F(LoadedModule, ConstantAnswers)
{
    auto caps = Export<GetPackerCapsFn>("GetPackerCaps");
    auto background = Export<GetBackgroundFlagsFn>("GetBackgroundFlags");
    ASSERT_TRUE(caps && background);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(caps(), PK_CAPS_NEW | PK_CAPS_MULTIPLE | PK_CAPS_OPTIONS);
        EXPECT_EQ(caps(), 21);
        EXPECT_EQ(background(), 2);
    }
}

TEST_F(LoadedModule, OpenArchiveRefusesEveryArchiveAndTouchesOnlyOpenResult)
{
    TempDir dir;
    WriteFileBytes(dir / "real.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    auto open = Export<OpenArchiveFn>("OpenArchive");
    ASSERT_TRUE(open);
    for (const std::string& name : {dir / "real.zip", dir / "missing.rar", std::string()}) {
        std::string mutableName = name;
        char comment[4] = "abc";
        tOpenArchiveData data = {&mutableName[0], 1, -7, comment, 4, 9, 8};
        EXPECT_EQ(open(&data), nullptr);
        EXPECT_EQ(data.OpenResult, E_EOPEN);
        EXPECT_EQ(data.OpenMode, 1);
        EXPECT_EQ(data.CmtSize, 9);
        EXPECT_EQ(data.CmtState, 8);
        EXPECT_STREQ(comment, "abc");
    }
}

TEST_F(LoadedModule, ArchiveStubsAnswerZeroToAnything)
{
    auto readHeader = Export<ReadHeaderFn>("ReadHeader");
    auto processFile = Export<ProcessFileFn>("ProcessFile");
    auto closeArchive = Export<CloseArchiveFn>("CloseArchive");
    auto setChangeVolProc = Export<SetChangeVolProcFn>("SetChangeVolProc");
    ASSERT_TRUE(readHeader && processFile && closeArchive && setChangeVolProc);
    EXPECT_EQ(readHeader(nullptr, nullptr), 0);
    EXPECT_EQ(processFile(nullptr, 2, nullptr, nullptr), 0);
    EXPECT_EQ(closeArchive(nullptr), 0);
    setChangeVolProc(nullptr, nullptr);
}

// The host's record is taken only when it is whole; a missing or short one changes nothing.
TEST_F(LoadedModule, PackSetDefaultParamsIgnoresIncompleteRecords)
{
    auto suggest = Export<PackSetDefaultParamsFn>("PackSetDefaultParams");
    ASSERT_TRUE(suggest);
    suggest(nullptr);
    PackDefaultParamStruct shortRecord = {8, PLUGIN_INTERFACE_VERSION_LOW, PLUGIN_INTERFACE_VERSION_HI, "Q:\\x.ini"};
    suggest(&shortRecord);
    EXPECT_EQ(Export<GetPackerCapsFn>("GetPackerCaps")(), 21);
}

TEST_F(LoadedModule, PackFilesWithNullArgumentsReturnsZero)
{
    auto pack = Export<PackFilesFn>("PackFiles");
    ASSERT_TRUE(pack);
    char list[] = "a\\\0";
    char path[] = "C:\\nowhere\\x.zip";
    EXPECT_EQ(pack(nullptr, nullptr, path, list, 0), 0);
    EXPECT_EQ(pack(path, nullptr, nullptr, list, 0), 0);
    EXPECT_EQ(pack(path, nullptr, path, nullptr, 0), 0);
}

}  // namespace
