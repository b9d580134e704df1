#pragma once
// The steps of the setup and uninstall roads that other parts of the program
// carry out. Each does what exists of its part so far.
#include <windows.h>

#include "removal/completion_dialog.h"
#include "removal/uninstall_procedure.h"

// Loads the language file "uninstall.lng".
void LoadLanguageFile();
// The integration settings dialog "SETUPDLG": 1 when setup goes on, 0 when
// the user cancelled (ExitCode is then 1).
INT_PTR RunIntegrationSettings();
// The completion dialog "DONEDLG".
void RunCompletionDialog();
