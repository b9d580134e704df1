#pragma once
// The user's integration choices, the fixed table of archive extensions they
// refer to, and their persistent form under "Setup" in the per-user settings.
// An all-zero IntegrationOptions means nothing integrated: removal passes one.
#include <windows.h>

#include <cstddef>

// Flags 0 to 16 belong to the rows of AssociationTable; 17 to 19 are spare
// (only the "init" text can set them) and are never stored or applied.
const size_t kAssociateFlags = 20;
const size_t kAssociationRows = 17;
// Every extension of every row: what the capabilities list names.
const size_t kAssociationExtensions = 27;

struct IntegrationOptions
{
    bool Associate[kAssociateFlags];
    bool Desktop;   // desktop shortcut to the archiver
    bool StartMenu; // Start-menu shortcut to the archiver
    bool Programs;  // the program group
    bool ShellExt;  // shell extension registered, new-file templates offered
    bool CascadedMenu;
    bool MenuIcons;
};

// The classes the archiver's extensions point at.
extern const wchar_t kArchiverClass[];     // "Velnox"
extern const wchar_t kZipClass[];          // "Velnox.ZIP"
extern const wchar_t kRevisionClass[];     // "Velnox.REV", never counts as an association
extern const wchar_t kRevisionExtension[]; // ".rev"

struct AssociationRow
{
    const wchar_t* Group;            // extensions one after the other: ".gz.tgz"
    const wchar_t* PrimaryExtension; // the first of the group
    const wchar_t* OptionKey;        // "Setup\" + primary extension
    const wchar_t* ClassName;        // kZipClass for ".zip", kArchiverClass otherwise
};

// Row order is the order of the dialog's check boxes and of the apply steps.
extern const AssociationRow AssociationTable[kAssociationRows];

const size_t kAssociationRowZip = 1;
const size_t kAssociationRowJar = 11;
const size_t kAssociationRowIso = 12;

// A group string cut into its extensions; each keeps its leading ".".
const size_t kExtensionGroupChars = 50;
struct ExtensionList
{
    // Each extension with its own terminator: at most twice the group.
    wchar_t Text[2 * kExtensionGroupChars];
    const wchar_t* Items[kExtensionGroupChars];
    size_t Count;
};
// Each "." that is not the first character of the remaining text starts the
// next extension; the group is cut to 49 characters first.
void SplitExtensionGroup(const wchar_t* group, ExtensionList& list);

// Fills the 23 used flags from the settings; the spare flags are left as they
// are. ".jar" loads set only while it already opens in the archiver; ".iso"
// loads cleared while another program owns it.
void LoadIntegrationOptions(IntegrationOptions& options);
// Writes the 17 "Set" values, then "Setup\Links" and "Setup", as DWORD 0 or 1.
void StoreIntegrationOptions(const IntegrationOptions& options);

// True when the extension's class under HKEY_CLASSES_ROOT is "Velnox" or
// "Velnox.ZIP", in any letter case.
bool IsOwnAssociation(const wchar_t* extension);
// The same comparison for a class name already read.
bool IsArchiverClass(const wchar_t* className);
