// In-process tests of the pack command: a download folder src\ and a destination out\ in a
// fresh directory, with UnpackSettings reset around each test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_files.h"

class DownloadFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string src() const { return dir_ / "src\\"; }
    std::string out() const { return dir_ / "out\\"; }

    // Runs the pack command on these names of the download folder, packing to out\new.zip
    // unless another archive name is given.
    int Pack(const std::vector<std::string>& names, const std::string& packedFile = "");

    TempDir dir_;
};
