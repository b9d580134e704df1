#pragma once
// localization/: messages, language module and file, dialog texts and layout, help.
//
// Texts by message number: from the module that supplies resources, then
// translated by the language file while one is loaded.
#include <windows.h>

#include <cstddef>
#include <cstdint>

const size_t kMessageChars = 512;
const size_t kMessageBuffers = 8;

// The text of a message number, in one of eight rotating buffers: it stays
// valid for eight further calls. An unknown number gives the empty text.
const wchar_t* MessageText(uint32_t number);

// The same for a text written where every user of the machine reads it (the
// installed-programs entry, the classes, the shortcuts): in an elevated run
// a language file or module from the user's language folder translates
// nothing there, and the program's own text, or the translation beside the
// program, stands.
const wchar_t* SharedMessageText(uint32_t number);

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

// The text of a message that becomes a file name, in the ring like
// MessageText: the translation when IsPlainFileName holds for it, else the
// program's own text untranslated, else the empty text. So setup and
// uninstall compute the same names, and none leads out of its folder.
const wchar_t* MessageFileName(uint32_t number);
// The same for a message that the shell opens as a web address: the
// translation only when it is an "http://" or "https://" address, since the
// shell would start a program or open a file that the text names.
const wchar_t* MessageWebAddress(uint32_t number);
// Both for a text every user of the machine reads, as SharedMessageText.
const wchar_t* SharedMessageFileName(uint32_t number);
const wchar_t* SharedMessageWebAddress(uint32_t number);

// MessageBoxW, read right to left when the language file says so: the box
// every message of the program is shown in.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
