// vnx_record RECORD ARGUMENT...: appends each argument as one UTF-8 line to
// the file RECORD. Registered by the tests as the open command of a class so
// that what the shell opened can be read back.
#include <windows.h>

#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 2)
        return 2;
    std::string lines;
    for (int i = 2; i < count; ++i)
    {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, arguments[i], -1, nullptr, 0, nullptr, nullptr);
        std::string line(size > 0 ? size - 1 : 0, '\0');
        if (size > 1)
            WideCharToMultiByte(CP_UTF8, 0, arguments[i], -1, &line[0], size, nullptr, nullptr);
        lines += line + "\r\n";
    }
    // Appending: a test may see several openings, one after the other or
    // two at once. Neither a second recorder nor the test's reader, which
    // shares reading only, may hold the file while one appends: two appends
    // at once could land at the same end, and one line would be lost. An
    // open that meets either is tried again, for up to a minute on a busy
    // machine.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 2400 && file == INVALID_HANDLE_VALUE; ++attempt)
    {
        file = CreateFileW(arguments[1], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        if (file == INVALID_HANDLE_VALUE)
            Sleep(25);
    }
    LocalFree(arguments);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == lines.size() ? 0 : 1;
}
