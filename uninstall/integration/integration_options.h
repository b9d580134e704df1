#pragma once
// The user's integration choices, the fixed table of archive extensions they
// refer to, and their persistent form under "Setup" in the per-user settings.
// An all-zero IntegrationOptions means nothing integrated: removal passes one.
#include <windows.h>

#include <cstddef>

// The first flags belong to the rows of AssociationTable; the rest are spare
// (only the "init" text can set them) and are never stored or applied.
const size_t kAssociateFlags = 20;

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

// How a row's stored choice is loaded.
enum class RowLoading
{
    AsStored,
    OnlyWhileOurs, // offered only while its extension already opens in the archiver
    LeftToAnOwner, // cleared while another program owns its extension
};

struct AssociationRow
{
    const wchar_t* Group; // extensions one after the other: ".gz.tgz"; the first names the row
    bool OwnFormat;       // the archiver's own format: the old-style volume extensions follow it
    bool Zip;             // class "Velnox.ZIP"; with OwnFormat, the rows that get a template
    RowLoading Loading;
};

// Row order is the order of the dialog's check boxes and of the apply steps.
inline constexpr AssociationRow AssociationTable[] = {
    {L".vnx", true, false, RowLoading::AsStored},
    {L".zip", false, true, RowLoading::AsStored},
    {L".cab", false, false, RowLoading::AsStored},
    {L".arj", false, false, RowLoading::AsStored},
    {L".lz.tlz", false, false, RowLoading::AsStored},
    {L".lzh.lha", false, false, RowLoading::AsStored},
    {L".7z", false, false, RowLoading::AsStored},
    {L".tar", false, false, RowLoading::AsStored},
    {L".gz.tgz", false, false, RowLoading::AsStored},
    {L".uue.xxe.uu", false, false, RowLoading::AsStored},
    {L".bz2.tbz2.bz.tbz", false, false, RowLoading::AsStored},
    {L".jar", false, false, RowLoading::OnlyWhileOurs},
    {L".iso", false, false, RowLoading::LeftToAnOwner},
    {L".z.taz", false, false, RowLoading::AsStored},
    {L".xz.txz", false, false, RowLoading::AsStored},
    {L".zipx", false, false, RowLoading::AsStored},
    {L".001", false, false, RowLoading::AsStored},
};
const size_t kAssociationRows = sizeof(AssociationTable) / sizeof(AssociationTable[0]);
static_assert(kAssociationRows <= kAssociateFlags, "a flag for every row");

// Every extension of every row: what the capabilities list names.
constexpr size_t CountTableExtensions()
{
    size_t count = 0;
    for (const AssociationRow& row : AssociationTable)
        for (const wchar_t* c = row.Group; *c; ++c)
            count += *c == L'.' ? 1 : 0;
    return count;
}
const size_t kAssociationExtensions = CountTableExtensions();

// The row whose group begins with the extension (".jar" finds ".jar", ".gz"
// finds ".gz.tgz"); kAssociationRows when none does.
constexpr size_t RowNamed(const wchar_t* first)
{
    for (size_t row = 0; row < kAssociationRows; ++row)
    {
        const wchar_t* group = AssociationTable[row].Group;
        size_t i = 0;
        while (first[i] != 0 && group[i] == first[i])
            ++i;
        if (first[i] == 0 && (group[i] == 0 || group[i] == L'.'))
            return row;
    }
    return kAssociationRows;
}

// A legacy extension no row offers any more, given back like a row's.
inline constexpr AssociationRow kAceRow = {L".ace", false, false, RowLoading::AsStored};

// The class a row's extensions point at.
const wchar_t* ClassOf(const AssociationRow& row);

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

// The row's first extension, and its key in the settings ("Setup\" and the
// first extension); false when it does not fit.
bool PrimaryExtension(const AssociationRow& row, wchar_t (&extension)[kExtensionGroupChars]);
bool OptionKeyOf(const AssociationRow& row, wchar_t (&key)[kExtensionGroupChars]);

// Fills the flags of the rows and the single flags from the settings; the
// spare flags are left as they are. Each row loads as its Loading says.
void LoadIntegrationOptions(IntegrationOptions& options);
// Writes the rows' "Set" values, then "Setup\Links" and "Setup", as DWORD 0
// or 1.
void StoreIntegrationOptions(const IntegrationOptions& options);

// True when the extension's class under HKEY_CLASSES_ROOT is "Velnox" or
// "Velnox.ZIP", in any letter case.
bool IsOwnAssociation(const wchar_t* extension);
// The same comparison for a class name already read.
bool IsArchiverClass(const wchar_t* className);
