#pragma once
// What the shell opened, for real: while a ShellRecorder lives, ".txt" and
// ".chm" documents, folders and web addresses open with vnx_record, which writes the
// path or address it was given to a file of this prefix. Every class key it
// changes is put back when it ends.
#include <windows.h>

#include <exdisp.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings_fixtures.h"
#include "support/program_under_test.h"

class ShellRecorder
{
public:
    ShellRecorder()
    {
        const std::wstring command =
            L"\"" + BesideTestBinary(L"tools\\vnx_record.exe") + L"\" \"" + Record + L"\" \"%1\"";
        for (const wchar_t* key :
             {L"VnxRecorded\\shell\\open\\command", L"Folder\\shell\\open\\command",
              L"http\\shell\\open\\command", L"https\\shell\\open\\command"})
            Swap(key, command);
        Swap(L".txt", L"VnxRecorded");
        Swap(L".chm", L"VnxRecorded");
        WaitForDesktopShell();
    }
    ~ShellRecorder()
    {
        for (auto undo = Undo.rbegin(); undo != Undo.rend(); ++undo)
            if (undo->Created.empty())
                RestoreDefault(undo->Path, undo->Had, undo->Old);
            else
                RemoveRegistryTree(HKEY_CLASSES_ROOT, undo->Created.c_str());
        DeleteFileW(Record.c_str());
    }
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;

    // The openings so far, one line each; waits up to the time for at least
    // count of them, since the recorder runs as its own process (slow to
    // start on a busy machine).
    std::vector<std::wstring> Opened(size_t count = 0, DWORD milliseconds = 60000) const
    {
        std::vector<std::wstring> lines;
        const DWORD start = GetTickCount();
        for (;;)
        {
            lines = ReadLines();
            if (lines.size() >= count || GetTickCount() - start > milliseconds)
                return lines;
            Sleep(100);
        }
    }
    void Forget() const { DeleteFileW(Record.c_str()); }

private:
    // The desktop's shell, which opens for an elevated run, is found through
    // the shell windows: a prefix that has just started registers it a little
    // later, and a shell still busy with the change notices of earlier tests
    // answers late. Asked until it answers, for up to half a minute.
    static void WaitForDesktopShell()
    {
        const bool started = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        for (const DWORD found = GetTickCount(); GetTickCount() - found < 30000; Sleep(100))
        {
            IShellWindows* windows = nullptr;
            if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID_IShellWindows, reinterpret_cast<void**>(&windows))))
                continue;
            VARIANT none;
            VariantInit(&none);
            long window = 0;
            IDispatch* shell = nullptr;
            const HRESULT result = windows->FindWindowSW(&none, &none, SWC_DESKTOP, &window,
                                                         SWFO_NEEDDISPATCH, &shell);
            if (shell != nullptr)
                shell->Release();
            windows->Release();
            if (result == S_OK && shell != nullptr)
                break;
        }
        if (started)
            CoUninitialize();
    }

    struct Change
    {
        std::wstring Path;
        std::wstring Created; // the topmost key it made, removed at the end
        bool Had = false;     // the key's default value before
        std::wstring Old;
    };

    void Swap(const std::wstring& path, const std::wstring& value)
    {
        Change change;
        change.Path = path;
        for (size_t end = path.find(L'\\');; end = path.find(L'\\', end + 1))
        {
            const std::wstring part = path.substr(0, end);
            if (!RawKeyExists(HKEY_CLASSES_ROOT, part))
            {
                change.Created = part;
                break;
            }
            if (end == std::wstring::npos)
                break;
        }
        if (change.Created.empty())
        {
            change.Old = RawValue(HKEY_CLASSES_ROOT, path, nullptr);
            change.Had = change.Old != kMissing;
        }
        Undo.push_back(change);
        RawSetString(HKEY_CLASSES_ROOT, path, nullptr, value);
    }
    static void RestoreDefault(const std::wstring& path, bool had, const std::wstring& old)
    {
        if (had)
            RawSetString(HKEY_CLASSES_ROOT, path, nullptr, old);
        else
            RawDeleteValue(HKEY_CLASSES_ROOT, path, nullptr);
    }
    std::vector<std::wstring> ReadLines() const
    {
        std::vector<std::wstring> lines;
        const std::string bytes = ReadBytes(Record);
        size_t begin = 0;
        for (size_t end; (end = bytes.find("\r\n", begin)) != std::string::npos; begin = end + 2)
        {
            const std::string line = bytes.substr(begin, end - begin);
            std::wstring wide(line.size(), L'\0');
            const int length =
                MultiByteToWideChar(CP_UTF8, 0, line.data(), int(line.size()),
                                    line.empty() ? nullptr : &wide[0], int(wide.size()));
            wide.resize(length > 0 ? size_t(length) : 0);
            lines.push_back(wide);
        }
        return lines;
    }

    ScratchDir Folder{L"opened"};
    std::wstring Record = Folder / L"record.txt";
    std::vector<Change> Undo;
};
