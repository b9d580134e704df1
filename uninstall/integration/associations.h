#pragma once
// The archive extensions taken over by the archiver's classes and given back
// to their previous owners, and the classes themselves.
#include <cstddef>
#include <cstdint>

struct IntegrationOptions;

// Who owned an extension before the archiver took it over, saved once under
// "Setup\" + extension in the per-user settings.
const size_t kPreviousTypeChars = 512;
const size_t kPreviousShellNewChars = 2048;
struct PreviousAssociation
{
    uint32_t Exist;                           // "Exist": the extension's key was there
    wchar_t Type[kPreviousTypeChars];         // "Type": its class, may be empty
    wchar_t ShellNew[kPreviousShellNewChars]; // "ShellNew": template file, "*" for a null file
};

// Every extension of every row: associated when the row's flag is set, given
// back when it is clear.
void AssociateExtensions(const IntegrationOptions& options);

// Associates one extension (saving its previous owner unless it is already
// ours) or, with associate clear, gives it back when it is still ours. The
// own-format flag adds the old-style volume extensions, and with shellExt
// the own-format and ZIP flags add the new-file template.
void SetExtensionAssociation(const wchar_t* extension, bool associate, bool shellExt,
                             bool ownFormat, bool zip);

// The classes "Velnox", "Velnox.ZIP" and "Velnox.REV" and the extension
// ".rev"; an icon already set is kept. False only when the first class write
// is refused with access denied, and then nothing else is written.
bool RegisterProgIds();
