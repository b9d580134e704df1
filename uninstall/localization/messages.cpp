#include "localization/messages.h"

#include "common/strings.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "localization/language_file.h"
#include "localization/language_module.h"
#include "platform/platform_probes.h"
#include "platform/visual_styles.h"

#include <cwchar>

namespace
{

wchar_t MessageRing[kMessageBuffers][kMessageChars];
unsigned MessageIndex = 0;

// What translates a text: the language file and module, or for a text every
// user reads in an elevated run only those beside the program.
const wchar_t* TextFrom(uint32_t number, bool shared)
{
    const bool untrusted = shared && RunsElevated();
    const bool useFile = !(untrusted && LanguageFile.FromLanguageFolder);
    const bool useModule = !(untrusted && LanguageModule.FromLanguageFolder());
    MessageIndex = (MessageIndex + 1) % kMessageBuffers;
    wchar_t* text = MessageRing[MessageIndex];
    text[0] = 0;
    // A language file translates the program's own texts, never a language
    // module's, so with one loaded the program's table is the source.
    if ((LanguageFile.IsLoaded() && useFile) || !useModule ||
        LoadStringW(ResourceModule, number, text, kMessageChars) == 0)
        LoadStringW(ProgramModule, number, text, kMessageChars);
    if (useFile)
        LanguageFile.Translate(text, kMessageChars, TextKind::Message, nullptr);
    return text;
}

} // namespace

const wchar_t* MessageText(uint32_t number)
{
    return TextFrom(number, false);
}

const wchar_t* SharedMessageText(uint32_t number)
{
    return TextFrom(number, true);
}

namespace
{

// The message as the program's own text, untranslated, when the translation
// does not pass the check; the empty text when neither does.
const wchar_t* CheckedMessageText(uint32_t number, bool shared, bool (*acceptable)(const wchar_t*))
{
    const wchar_t* translated = TextFrom(number, shared);
    if (acceptable(translated))
        return translated;
    MessageIndex = (MessageIndex + 1) % kMessageBuffers;
    wchar_t* text = MessageRing[MessageIndex];
    text[0] = 0;
    LoadStringW(ProgramModule, number, text, kMessageChars);
    if (!acceptable(text))
        text[0] = 0;
    return text;
}

// "http://" or "https://" and a host, nothing the shell would take for a
// program, its arguments or a local file.
bool IsWebAddress(const wchar_t* text)
{
    const wchar_t* rest = nullptr;
    if (CompareNoCasePrefix(text, L"https://", 8) == 0)
        rest = text + 8;
    else if (CompareNoCasePrefix(text, L"http://", 7) == 0)
        rest = text + 7;
    if (rest == nullptr || *rest == 0 || *rest == L'/')
        return false;
    for (const wchar_t* c = rest; *c != 0; ++c)
        if (*c <= 0x20 || *c == 0x7F || *c == L'"' || *c == L'\\')
            return false;
    return true;
}

} // namespace

const wchar_t* MessageFileName(uint32_t number)
{
    return CheckedMessageText(number, false, IsPlainFileName);
}

const wchar_t* MessageWebAddress(uint32_t number)
{
    return CheckedMessageText(number, false, IsWebAddress);
}

const wchar_t* SharedMessageFileName(uint32_t number)
{
    return CheckedMessageText(number, true, IsPlainFileName);
}

const wchar_t* SharedMessageWebAddress(uint32_t number)
{
    return CheckedMessageText(number, true, IsWebAddress);
}

wchar_t* MessageWithArgument(uint32_t number, const wchar_t* argument, wchar_t* buffer,
                             size_t capacity)
{
    return FillArgument(buffer, capacity, MessageText(number), argument);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style)
{
    if (LanguageFile.RightToLeft)
        style |= MB_RIGHT | MB_RTLREADING;
    // A message box is always seen, in a silent run too.
    VisualStyles styles;
    styles.Activate(ProgramModule);
    return MessageBoxW(owner, text, caption, style);
}
