#include "localization/help.h"

#include "common/strings.h"
#include "localization/language_module.h"
#include "platform/platform_probes.h"

#include <cwchar>

wchar_t HelpFilePath[kPathChars];
HtmlHelpFunction HtmlHelpStandIn = nullptr;

namespace
{

const UINT kDisplayTopic = 0;    // HH_DISPLAY_TOPIC
const UINT kDisplayContents = 1; // HH_DISPLAY_TOC
const size_t kTopicChars = kPathChars + 50;

HMODULE HelpLibrary = nullptr;
HtmlHelpFunction HtmlHelp = nullptr;
// Set by the first display the engine refuses; never reset.
bool Retried = false;

// programPath with its name part replaced by the help file's name, from the
// language folder when it is there; empty when that name does not fit. A
// help file runs script in the process that shows it: an elevated run shows
// only the program folder's, which the user cannot replace.
void ComposeHelpPath(wchar_t (&path)[kPathChars])
{
    if (!SetName(path, L"velnox.chm") ||
        (!RunsElevated() && !RedirectToLanguageFolder(path, path, kPathChars)))
        path[0] = 0;
}

void ProgramFileName(wchar_t (&path)[kPathChars])
{
    DWORD length = GetModuleFileNameW(nullptr, path, kPathChars);
    if (length >= kPathChars)
        length = 0;
    path[length] = 0;
}

} // namespace

bool GetHelpFileName(wchar_t (&path)[kPathChars])
{
    ProgramFileName(path);
    // Without the program's own name a bare "velnox.chm" would be looked up
    // wherever the run stands.
    if (path[0] == 0)
        return false;
    ComposeHelpPath(path);
    return path[0] != 0;
}

void ResetHelp()
{
    HtmlHelp = nullptr;
    HelpFilePath[0] = 0;
    Retried = false;
}

HWND ShowHelp(const wchar_t* topic)
{
    if (HelpLibrary == nullptr)
        HelpLibrary = LoadSystemDll(L"hhctrl.ocx");
    if (HtmlHelp == nullptr)
    {
        if (HelpLibrary == nullptr && HtmlHelpStandIn == nullptr)
            return nullptr;
        HtmlHelp = HtmlHelpStandIn;
        if (HtmlHelp == nullptr)
            HtmlHelp = reinterpret_cast<HtmlHelpFunction>(
                reinterpret_cast<void*>(GetProcAddress(HelpLibrary, "HtmlHelpW")));
        ProgramFileName(HelpFilePath);
        ComposeHelpPath(HelpFilePath);
        if (HtmlHelp == nullptr)
            return nullptr;
    }
    // A cut name would show another file, or another page of it.
    wchar_t page[kTopicChars];
    if (HelpFilePath[0] == 0 ||
        (topic != nullptr && FormatString(page, L"%s::/html/%s.htm", HelpFilePath, topic) < 0))
        return nullptr;

    const HWND window = topic != nullptr
                            ? HtmlHelp(GetDesktopWindow(), page, kDisplayTopic, 0)
                            : HtmlHelp(GetDesktopWindow(), HelpFilePath, kDisplayContents, 0);
    if (window != nullptr || Retried)
        return window;

    Retried = true;
    // The engine takes 8-bit names inside: a path the ANSI code page cannot
    // hold is tried once more in its short form.
    char ansi[kPathChars];
    wchar_t back[kPathChars];
    WideToAnsi(HelpFilePath, ansi, kPathChars);
    AnsiToWide(ansi, back, kPathChars);
    if (std::wcscmp(back, HelpFilePath) == 0)
        return nullptr;
    ProgramFileName(HelpFilePath);
    wchar_t shortPath[kPathChars] = L"";
    DWORD length = GetShortPathNameW(HelpFilePath, shortPath, kPathChars);
    if (length > 0 && length < kPathChars && !CopyString(HelpFilePath, shortPath))
        return nullptr;
    ComposeHelpPath(HelpFilePath);
    return ShowHelp(topic);
}
