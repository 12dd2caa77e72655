#include "tests/support/download_folder.h"

#include "engine/pack_driver.h"
#include "host/progress.h"
#include "settings/unpack_settings.h"

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
    HostProgressSink storage(nullptr, nullptr);
    return WcxResultOf(RunPackFiles(packedFile.empty() ? out() + "new.zip" : packedFile, src(),
                                    names.empty() ? std::vector<std::string>{""} : names,
                                    HostProgressSink::Current(storage)));
}
