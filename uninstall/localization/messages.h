#pragma once
// localization/: messages, language module and file, dialog texts and layout, help.
//
// Texts by message number, and the module that supplies resources: the
// language module "vnxlng.dll" while one is loaded, else the program itself.
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Module of dialogs, icons and string tables; the program's own module when
// no language module is loaded.
extern HINSTANCE ResourceModule;
// The program's own module, as the entry point received it.
extern HINSTANCE ProgramModule;

class LanguageLibrary
{
public:
    // Loads "vnxlng.dll" beside the program (or from the language folder) as
    // resources only, held against writes while it is loaded.
    void Open(HINSTANCE instance);
    // The same, with the program's full file name given.
    void OpenBeside(HINSTANCE instance, const wchar_t* programPath);
    // Frees the language module so that it can be deleted; a second call
    // does nothing.
    void Release();
    bool IsLoaded() const { return Loaded; }

private:
    bool Loaded = false;
};
extern LanguageLibrary LanguageModule;

// The module that holds the dialog template name: the resource module, or
// the program itself when a language module lacks that dialog.
HINSTANCE DialogModule(const wchar_t* name);

const size_t kMessageChars = 512;
const size_t kMessageBuffers = 8;

// The text of a message number, in one of eight rotating buffers: it stays
// valid for eight further calls. An unknown number gives the empty text.
const wchar_t* MessageText(uint32_t number);

// The text of a message that takes one argument (5108, 5110), its "%s"
// filled with argument into buffer. The text may come from a translation, so
// it is never used as a printf format: nothing but argument is read.
wchar_t* MessageWithArgument(uint32_t number, const wchar_t* argument, wchar_t* buffer,
                             size_t capacity);
template <size_t N>
inline wchar_t* MessageWithArgument(uint32_t number, const wchar_t* argument, wchar_t (&buffer)[N])
{
    return MessageWithArgument(number, argument, buffer, N);
}

// The file of the same name in the user's language folder
// (HKCU "Software\Velnox\General" "LanguageFolder") when it exists there,
// else the source path. destination may be the source's own buffer. False
// when the name does not fit the destination: nothing is to be opened by it.
[[nodiscard]] bool RedirectToLanguageFolder(const wchar_t* source, wchar_t* destination,
                                            size_t capacity);

// The text of a message that becomes a file name, in the ring like
// MessageText: the translation when IsPlainFileName holds for it, else the
// program's own text untranslated, else the empty text. So setup and
// uninstall compute the same names, and none leads out of its folder.
const wchar_t* MessageFileName(uint32_t number);
// The same for a message that the shell opens as a web address: the
// translation only when it is an "http://" or "https://" address, since the
// shell would start a program or open a file that the text names.
const wchar_t* MessageWebAddress(uint32_t number);

// MessageBoxW, read right to left when the language file says so: the box
// every message of the program is shown in.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
