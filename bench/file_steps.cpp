#include "file_steps.h"
#include "registry_replay.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>

namespace
{

const wchar_t kKindLetters[] = L"DLFXRCNWYS";

bool SaveLink(const std::wstring& path, const std::wstring& target)
{
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    bool saved = SUCCEEDED(link->SetPath(target.c_str())) &&
                 SUCCEEDED(link->QueryInterface(IID_IPersistFile,
                                                reinterpret_cast<void**>(&file))) &&
                 SUCCEEDED(file->Save(path.c_str(), TRUE));
    if (file)
        file->Release();
    link->Release();
    return saved;
}

bool StartCommandProcessor()
{
    wchar_t command[] = L"cmd.exe /c exit 0";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

bool SaveFileSteps(const std::vector<FileStep>& steps, const std::wstring& path)
{
    std::wstring text;
    for (const FileStep& step : steps)
        text += std::wstring(1, kKindLetters[step.What]) + L'\t' + step.Path + L'\t' + step.Source +
                L'\n';
    return SaveWideText(path, text);
}

bool LoadFileSteps(const std::wstring& path, std::vector<FileStep>& steps)
{
    std::wstring text;
    if (!LoadWideText(path, text))
        return false;
    for (size_t start = 0; start < text.size();)
    {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(start, end - start);
        start = end + 1;
        const size_t tab1 = line.find(L'\t');
        const size_t tab2 = tab1 == std::wstring::npos ? tab1 : line.find(L'\t', tab1 + 1);
        const wchar_t* kind = line.empty() ? nullptr : std::wcschr(kKindLetters, line[0]);
        if (tab1 != 1 || tab2 == std::wstring::npos || kind == nullptr || *kind == 0)
            return false;
        steps.push_back({FileStep::Kind(kind - kKindLetters), line.substr(2, tab2 - 2),
                         line.substr(tab2 + 1)});
    }
    return true;
}

bool ReplayFileStep(const FileStep& step)
{
    switch (step.What)
    {
    case FileStep::MakeFolder:
        return CreateDirectoryW(step.Path.c_str(), nullptr) ||
               GetLastError() == ERROR_ALREADY_EXISTS;
    case FileStep::MakeLink:
        return SaveLink(step.Path, step.Source);
    case FileStep::CopyBytes:
        return CopyFileW(step.Source.c_str(), step.Path.c_str(), FALSE) != 0;
    case FileStep::DeleteEntry:
        SetFileAttributesW(step.Path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(step.Path.c_str()) != 0;
    case FileStep::RemoveFolder:
        return RemoveDirectoryW(step.Path.c_str()) != 0;
    case FileStep::StartCommandProcessor:
        return StartCommandProcessor();
    case FileStep::NotifyShell:
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
        return true;
    case FileStep::NotifyShellAndWait:
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
        return true;
    case FileStep::ShellDeleteFolder:
    {
        // The same call and flags as removal's: no progress, no question,
        // no Recycle Bin.
        std::wstring source = step.Path;
        source.push_back(0);
        SHFILEOPSTRUCTW operation = {};
        operation.wFunc = FO_DELETE;
        operation.pFrom = source.c_str();
        operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
        return SHFileOperationW(&operation) == 0;
    }
    case FileStep::LoadSystemLibrary:
    {
        // Kept to the end, as the run keeps it.
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        return length > 0 && length < MAX_PATH &&
               LoadLibraryW((std::wstring(folder) + L"\\" + step.Path).c_str()) != nullptr;
    }
    }
    return false;
}
