#include "tests/support/download_folder.h"

#include "engine/pack_driver.h"
#include "host/progress.h"
#include "settings/unpack_settings.h"

std::string AddList(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names)
        list += name + '\0';
    list += '\0';
    if (names.empty())
        list += '\0';
    return list;
}

void DownloadFolderTest::SetUp()
{
    MakeDirectories(src());
    UnpackSettings = SettingsRecord();
}

void DownloadFolderTest::TearDown()
{
    UnpackSettings = SettingsRecord();
}

int DownloadFolderTest::Pack(const std::vector<std::string>& names, const std::string& packedFile)
{
    const std::string list = AddList(names);
    const tProcessDataProc proc = ProcessDataProc.load();
    HostProgressSink sink(proc);
    return WcxResultOf(RunPackFiles((packedFile.empty() ? out() + "new.zip" : packedFile).c_str(), src().c_str(),
                                    list.data(), proc ? &sink : nullptr));
}
