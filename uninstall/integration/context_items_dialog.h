#pragma once
// The dialog "SETUPCONTEXTITEMS": which items the archiver's context menus
// show, kept per user under "Setup\MenuItems".
#include <windows.h>

#include <cstddef>
#include <cstdint>

struct ContextItem
{
    const wchar_t* ValueName; // DWORD under "Setup\MenuItems"
    int Control;              // its check box
    uint32_t Default;         // when the value is absent
};

const size_t kContextItems = 17;
extern const ContextItem ContextItemTable[kContextItems];

extern const wchar_t kMenuItemsKey[];     // "Setup\MenuItems"
extern const wchar_t kAlwaysArcValue[];   // "AlwaysArc": masks always opened as archives
extern const wchar_t kAlwaysArcDefault[]; // "*.iso"
const size_t kAlwaysArcChars = 1024;

// Ends with 1 after OK (every value written) and 0 after Cancel.
INT_PTR CALLBACK ContextItemsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
