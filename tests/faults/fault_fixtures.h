#pragma once
// What the fault scenarios share: an installation folder holding a copy of
// the program, environment changes for a child, and small file helpers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"

// The drive T: of the prefix when it is the tiny volume the bench mounts.
inline bool HaveTinyVolume()
{
    ULARGE_INTEGER available, total, free;
    return GetDiskFreeSpaceExW(L"T:\\", &available, &total, &free) && total.QuadPart < (1u << 20);
}

// Fills the tiny volume to its last byte; the file goes away with the object.
class VolumeFiller
{
public:
    explicit VolumeFiller(const wchar_t* path) : Path(path)
    {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        static char block[4096];
        DWORD written = 0;
        for (DWORD size = sizeof(block); size > 0; size /= 2)
            while (WriteFile(file, block, size, &written, nullptr) && written == size)
            {
            }
        CloseHandle(file);
    }
    ~VolumeFiller() { DeleteFileW(Path.c_str()); }
    VolumeFiller(const VolumeFiller&) = delete;
    VolumeFiller& operator=(const VolumeFiller&) = delete;

private:
    std::wstring Path;
};

// Sets (or, with null, removes) an environment variable of this process for
// the children it starts meanwhile, and puts the old value back.
class EnvironmentChange
{
public:
    EnvironmentChange(const wchar_t* name, const wchar_t* value) : Name(name)
    {
        wchar_t old[4096];
        const DWORD length = GetEnvironmentVariableW(name, old, ARRAYSIZE(old));
        Had = length > 0 && length < ARRAYSIZE(old);
        if (Had)
            Old = old;
        SetEnvironmentVariableW(name, value);
    }
    ~EnvironmentChange() { SetEnvironmentVariableW(Name.c_str(), Had ? Old.c_str() : nullptr); }
    EnvironmentChange(const EnvironmentChange&) = delete;
    EnvironmentChange& operator=(const EnvironmentChange&) = delete;

private:
    std::wstring Name;
    std::wstring Old;
    bool Had = false;
};

// A scratch installation folder "inst" holding a copy of the program, with
// room beside it in the scratch folder.
class InstalledCopy : public testing::Test, public ProgramCopy
{
protected:
    explicit InstalledCopy(const wchar_t* tag) : ProgramCopy(tag, L"inst") {}
    void SetUp() override { ASSERT_TRUE(Ready()); }
};
