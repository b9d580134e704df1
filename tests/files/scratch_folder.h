#pragma once
// A scratch folder under the temporary folder, emptied before and after each
// test. Removal goes through "\\?\" names so that entries longer than
// MAX_PATH and read-only files go too.
#include "common/strings.h"
#include "files/path_names.h"
#include "support/plain_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

class ScratchFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
        folder_ = std::wstring(temp) + L"vnx_files_test";
        longFolder_ = L"\\\\?\\" + folder_;
        RemoveTree(longFolder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        GetCurrentDirectoryW(MAX_PATH + 1, savedCurrent_);
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(savedCurrent_);
        RemoveTree(longFolder_);
    }

    // A name inside the scratch folder, plain and long.
    std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }
    std::wstring LongPath(const std::wstring& name) const { return longFolder_ + L"\\" + name; }

    std::wstring folder_;
    std::wstring longFolder_;
    wchar_t savedCurrent_[MAX_PATH + 1];
};
