#include "support/throwaway_prefix.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace
{

// Kept in step with scripts/make-prefixes.sh, which writes it.
const wchar_t kMarkerPath[] = L"C:\\vnx-throwaway-prefix.txt";
const char kMarkerLine[] = "Throwaway Wine prefix of the uninstall tests: anything here may go.";

} // namespace

bool InsideThrowawayPrefix()
{
    HANDLE file = CreateFileW(kMarkerPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char head[sizeof(kMarkerLine)] = {};
    DWORD read = 0;
    const bool whole =
        ReadFile(file, head, sizeof(head) - 1, &read, nullptr) && read == sizeof(head) - 1;
    CloseHandle(file);
    return whole && std::memcmp(head, kMarkerLine, sizeof(head) - 1) == 0;
}

int RefuseOutsideThrowawayPrefix(const char* binary)
{
    std::fprintf(stderr,
                 "%s: not run: it deletes file associations and the archiver's settings, so it "
                 "runs only in a throwaway Wine prefix made by the test command "
                 "(scripts/test.sh, through scripts/make-prefixes.sh), which marks it with "
                 "%ls. There is no such mark here.\n",
                 binary, kMarkerPath);
    std::fflush(stderr);
    return 125;
}
