#pragma once
// A scratch folder under the temporary folder, emptied before and after each
// test. Removal goes through "\\?\" names so that entries longer than
// MAX_PATH and read-only files go too.
#include "common/strings.h"
#include "files/path_names.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace scratch
{

inline void RemoveTree(const std::wstring& longFolder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((longFolder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = longFolder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(longFolder.c_str());
}

// Writes a file with the given bytes through its exact name.
inline bool WriteBytes(const std::wstring& name, const std::string& bytes)
{
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    return CloseHandle(file) && ok;
}

} // namespace scratch

class ScratchFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
        folder_ = std::wstring(temp) + L"vnx_files_test";
        longFolder_ = L"\\\\?\\" + folder_;
        scratch::RemoveTree(longFolder_);
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        GetCurrentDirectoryW(MAX_PATH + 1, savedCurrent_);
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(savedCurrent_);
        scratch::RemoveTree(longFolder_);
    }

    // A name inside the scratch folder, plain and long.
    std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }
    std::wstring LongPath(const std::wstring& name) const { return longFolder_ + L"\\" + name; }

    std::wstring folder_;
    std::wstring longFolder_;
    wchar_t savedCurrent_[MAX_PATH + 1];
};
