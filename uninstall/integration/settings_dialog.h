#pragma once
// The integration settings dialog "SETUPDLG" of the setup road. Its check
// boxes are its only state: every step that needs the options fills a fresh
// record from the settings or from the boxes.
#include <windows.h>

struct IntegrationOptions;

// Changes the flags the codes of the init text name: "A" and up to 20 digits
// for the associations, "C", "D", "I", "M", "P", "S" and one character for
// the other flags; any other character is skipped with the one after it.
void ApplyInitString(const wchar_t* text, IntegrationOptions& options);
// Sets the 23 check boxes and enables the two menu boxes only while the
// shell extension is chosen.
void ShowOptionsInDialog(HWND dialog, const IntegrationOptions& options);
// Each flag set while its check box is not unchecked.
void ReadOptionsFromDialog(HWND dialog, IntegrationOptions& options);
// Checks every association box when one is unchecked, else clears them all.
void ToggleAllAssociations(HWND dialog);

// Ends with 1 after OK (options stored and applied) and 0 after Cancel. Its
// parameter, when not null, points to the IntegrationOptions that receive the
// accepted choice. OK has the first focus.
INT_PTR CALLBACK IntegrationSettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
