#include "startup/later_steps.h"

#include "integration/settings_dialog.h"
#include "localization/language_file.h"
#include "localization/messages.h"
#include "removal/completion_dialog.h"
#include "startup/run_state.h"

void LoadLanguageFile()
{
    LanguageFile.Load(L"uninstall.lng");
}

INT_PTR RunIntegrationSettings()
{
    return DialogBoxParamW(DialogModule(L"SETUPDLG"), L"SETUPDLG", nullptr,
                           IntegrationSettingsDialog, 0);
}

void RunCompletionDialog()
{
    DialogBoxParamW(DialogModule(L"DONEDLG"), L"DONEDLG", nullptr, CompletionDialog, 0);
}
