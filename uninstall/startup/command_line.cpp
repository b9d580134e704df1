#include "startup/command_line.h"

#include "common/strings.h"
#include "localization/messages.h"
#include "resources/resource.h"

namespace
{

const DWORD kWaitMilliseconds = 2000;
const size_t kWarningChars = 512;

enum class Option
{
    Silent,
    Log,
    Setup,
    Msi,
    Init,
    Wait,
    NoExplorer,
    Warning,
    Usage,
};

struct OptionRow
{
    const wchar_t* Name;
    size_t Compared; // a name must begin with this many of the row's letters
    Option Id;
    // A counted option turns the uninstall off: a command line without one
    // uninstalls. The silent token and the log go with either road.
    bool Counted;
    // The name is the row's one letter with no letter after it ("S", "S1",
    // not "Sx" or "setup").
    bool LetterAlone;
};

// Tested in this order; the first match applies.
const OptionRow kOptionTable[] = {
    {L"S", 1, Option::Silent, false, true},
    {L"log=", 4, Option::Log, false, false},
    {L"setup", 5, Option::Setup, true, false},
    {L"msi", 3, Option::Msi, true, false},
    {L"init", 4, Option::Init, true, false},
    {L"wait", 4, Option::Wait, true, false},
    {L"noexplorer", 4, Option::NoExplorer, true, false},
    {L"warning", 7, Option::Warning, true, false},
    {L"?", 1, Option::Usage, true, false},
};

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

void ApplyOption(const OptionRow& row, const wchar_t* name, bool& setupRequested)
{
    switch (row.Id)
    {
    case Option::Setup:
        setupRequested = true;
        break;
    case Option::Msi:
        RunState.MsiMode = true;
        break;
    case Option::Init:
        CopyStringCut(RunState.InitOptions, name + row.Compared);
        break;
    case Option::Wait:
        Sleep(kWaitMilliseconds);
        break;
    case Option::NoExplorer:
        RunState.NoExplorer = true;
        break;
    case Option::Warning:
        ShowWarning();
        break;
    case Option::Usage:
        RunState.UsageRequested = true;
        break;
    case Option::Silent:
    case Option::Log:
        // Taken as each token is read, before any other option applies.
        break;
    }
}

bool Matches(const OptionRow& row, const wchar_t* name)
{
    if (row.LetterAlone)
        return UpperChar(name[0]) == UpperChar(row.Name[0]) && !IsAsciiLetter(name[1]);
    return CompareNoCasePrefix(name, row.Name, row.Compared) == 0;
}

const OptionRow* FindOption(const wchar_t* name)
{
    for (const OptionRow& row : kOptionTable)
        if (Matches(row, name))
            return &row;
    return nullptr;
}

void TakeLogPath(const wchar_t* token)
{
    const wchar_t* path = token + 5;
    // A log asked for without a name is a command line the run does not know.
    if (*path == 0)
        RunState.Outcome.BadOption = true;
    // Relative to where the run was started: the roads change folders. A
    // name that does not resolve gives no log, and changes nothing else.
    const DWORD length = GetFullPathNameW(path, kPathChars, RunState.LogPath, nullptr);
    if (*path == 0 || length == 0 || length >= kPathChars)
        RunState.LogPath[0] = 0;
}

// The option tokens of a text: the silent token acts wherever it stands,
// the log only on the command line; fn gets each other name (the token
// without its lead character) with its row, or null for a name no row has.
template <class Fn> void ForEachOption(OptionSource source, const wchar_t* text, Fn fn)
{
    wchar_t token[kTokenChars];
    for (const wchar_t* next = NextToken(text, token, kTokenChars); next != nullptr;
         next = NextToken(next, token, kTokenChars))
    {
        if (token[0] != L'/' && token[0] != L'-')
            continue;
        const OptionRow* row = FindOption(token + 1);
        if (row != nullptr && row->Id == Option::Silent)
            RunState.Silent = true;
        else if (row != nullptr && row->Id == Option::Log && source == OptionSource::CommandLine)
            TakeLogPath(token);
        else
            fn(token + 1, row);
    }
}

} // namespace

const wchar_t* NextToken(const wchar_t* text, wchar_t* token, size_t capacity)
{
    while (IsBlank(*text))
        text++;
    if (capacity > 0)
        token[0] = 0;
    if (*text == 0)
        return nullptr;
    size_t length = 0;
    bool quoted = false;
    for (; *text != 0 && (quoted || !IsBlank(*text)); text++)
    {
        wchar_t c = *text;
        if (c == L'"')
        {
            if (text[1] != L'"')
            {
                quoted = !quoted;
                continue;
            }
            text++;
        }
        if (length + 1 < capacity)
            token[length++] = c;
    }
    if (capacity > 0)
        token[length] = 0;
    return text;
}

void ParseOptions(OptionSource source, const wchar_t* text, bool& setupRequested,
                  bool& uninstallRequested)
{
    uninstallRequested = false;
    // The installer's own options are ignored: only its silent token acts.
    if (source != OptionSource::CommandLine)
    {
        ForEachOption(source, text, [](const wchar_t*, const OptionRow*) {});
        return;
    }
    int counted = 0;
    // An option the program does not know may be meant for another one (a
    // silent switch, a log): the run does nothing rather than guess, and
    // applies none of the others either.
    ForEachOption(source, text, [&](const wchar_t*, const OptionRow* row) {
        if (row == nullptr || row->Counted)
            counted++;
        if (row == nullptr)
            RunState.Outcome.BadOption = true;
    });
    if (RunState.Outcome.BadOption)
        return;
    ForEachOption(source, text, [&](const wchar_t* name, const OptionRow* row) {
        ApplyOption(*row, name, setupRequested);
    });
    uninstallRequested = counted == 0;
}

void ComposeWarningText(const wchar_t* programPath, wchar_t* text, size_t capacity)
{
    if (capacity == 0)
        return;
    CopyStringCut(text, MessageText(MSG_NOT_REMOVED), capacity);
    AppendStringCut(text, L"\n", capacity);
    const size_t length = wcslen(text);
    MessageWithArgument(MSG_NOT_REMOVED_PATH, programPath, text + length, capacity - length);
}

void ShowUsage()
{
    ShowMessageBox(nullptr, MessageText(MSG_USAGE), MessageText(MSG_UNINSTALL_CAPTION),
                   MB_ICONINFORMATION | MB_SETFOREGROUND);
}

void ShowWarning()
{
    wchar_t programPath[kPathChars];
    DWORD length = GetModuleFileNameW(nullptr, programPath, kPathChars);
    if (length >= kPathChars)
        length = 0;
    programPath[length] = 0;
    wchar_t text[kWarningChars];
    ComposeWarningText(programPath, text, kWarningChars);
    ShowMessageBox(nullptr, text, MessageText(MSG_UNINSTALL_CAPTION),
                   MB_ICONINFORMATION | MB_SETFOREGROUND);
}
