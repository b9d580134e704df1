#include "localization/help.h"

#include "common/strings.h"
#include "localization/messages.h"
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
// language folder when it is there.
void ComposeHelpPath(wchar_t (&path)[kPathChars])
{
    SetName(path, L"velnox.chm");
    RedirectToLanguageFolder(path, path, kPathChars);
}

void ProgramFileName(wchar_t (&path)[kPathChars])
{
    DWORD length = GetModuleFileNameW(nullptr, path, kPathChars);
    if (length >= kPathChars)
        length = 0;
    path[length] = 0;
}

} // namespace

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

    HWND window;
    if (topic != nullptr)
    {
        wchar_t page[kTopicChars];
        FormatString(page, L"%s::/html/%s.htm", HelpFilePath, topic);
        window = HtmlHelp(GetDesktopWindow(), page, kDisplayTopic, 0);
    }
    else
        window = HtmlHelp(GetDesktopWindow(), HelpFilePath, kDisplayContents, 0);
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
    if (length == 0 || length >= kPathChars)
        shortPath[0] = 0;
    if (shortPath[0] != 0)
        CopyString(HelpFilePath, shortPath);
    ComposeHelpPath(HelpFilePath);
    return ShowHelp(topic);
}
