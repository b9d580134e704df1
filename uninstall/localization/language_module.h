#pragma once
// The module that supplies dialogs, icons and string tables: the language
// module "vnxlng.dll" while one is loaded, else the program itself; and the
// user's language folder, where a language module, file or help may be
// found instead of beside the program.
#include <windows.h>

#include <cstddef>

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
    // The module loaded came from the user's language folder.
    bool FromLanguageFolder() const { return Loaded && FromFolder; }

private:
    bool Loaded = false;
    bool FromFolder = false;
};
extern LanguageLibrary LanguageModule;

// The module that holds the dialog template name: the resource module, or
// the program itself when a language module lacks that dialog.
HINSTANCE DialogModule(const wchar_t* name);

// The file of the same name in the user's language folder
// (HKCU "Software\Velnox\General" "LanguageFolder") when it exists there,
// else the source path. destination may be the source's own buffer. False
// when the name does not fit the destination: nothing is to be opened by it.
[[nodiscard]] bool RedirectToLanguageFolder(const wchar_t* source, wchar_t* destination,
                                            size_t capacity);
