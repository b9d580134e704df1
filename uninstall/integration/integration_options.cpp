#include "integration/integration_options.h"

#include "common/strings.h"
#include "settings/settings_store.h"

const wchar_t kArchiverClass[] = L"Velnox";
const wchar_t kZipClass[] = L"Velnox.ZIP";
const wchar_t kRevisionClass[] = L"Velnox.REV";
const wchar_t kRevisionExtension[] = L".rev";

const AssociationRow AssociationTable[kAssociationRows] = {
    {L".vnx", L".vnx", L"Setup\\.vnx", kArchiverClass},
    {L".zip", L".zip", L"Setup\\.zip", kZipClass},
    {L".cab", L".cab", L"Setup\\.cab", kArchiverClass},
    {L".arj", L".arj", L"Setup\\.arj", kArchiverClass},
    {L".lz.tlz", L".lz", L"Setup\\.lz", kArchiverClass},
    {L".lzh.lha", L".lzh", L"Setup\\.lzh", kArchiverClass},
    {L".7z", L".7z", L"Setup\\.7z", kArchiverClass},
    {L".tar", L".tar", L"Setup\\.tar", kArchiverClass},
    {L".gz.tgz", L".gz", L"Setup\\.gz", kArchiverClass},
    {L".uue.xxe.uu", L".uue", L"Setup\\.uue", kArchiverClass},
    {L".bz2.tbz2.bz.tbz", L".bz2", L"Setup\\.bz2", kArchiverClass},
    {L".jar", L".jar", L"Setup\\.jar", kArchiverClass},
    {L".iso", L".iso", L"Setup\\.iso", kArchiverClass},
    {L".z.taz", L".z", L"Setup\\.z", kArchiverClass},
    {L".xz.txz", L".xz", L"Setup\\.xz", kArchiverClass},
    {L".zipx", L".zipx", L"Setup\\.zipx", kArchiverClass},
    {L".001", L".001", L"Setup\\.001", kArchiverClass},
};

namespace
{
const size_t kClassChars = 80;

const wchar_t kLinksKey[] = L"Setup\\Links";
const wchar_t kSetupKey[] = L"Setup";

struct SingleFlag
{
    const wchar_t* Key;
    const wchar_t* Name;
    uint32_t Default;
    bool IntegrationOptions::*Field;
};

// In the order they are stored.
const SingleFlag kSingleFlags[] = {
    {kLinksKey, L"Desktop", 0, &IntegrationOptions::Desktop},
    {kLinksKey, L"StartMenu", 0, &IntegrationOptions::StartMenu},
    {kLinksKey, L"Programs", 1, &IntegrationOptions::Programs},
    {kSetupKey, L"ShellExt", 1, &IntegrationOptions::ShellExt},
    {kSetupKey, L"CascadedMenu", 0, &IntegrationOptions::CascadedMenu},
    {kSetupKey, L"MenuIcons", 1, &IntegrationOptions::MenuIcons},
};

} // namespace

void SplitExtensionGroup(const wchar_t* group, ExtensionList& list)
{
    wchar_t copy[kExtensionGroupChars];
    list.Count = 0;
    // Cut, the last extension would be another one.
    if (!CopyString(copy, group))
        return;
    size_t out = 0;
    bool itemStart = true;
    for (size_t i = 0; copy[i] != 0; i++)
    {
        if (copy[i] == L'.' && !itemStart)
        {
            list.Text[out++] = 0;
            itemStart = true;
        }
        if (itemStart)
        {
            list.Items[list.Count++] = list.Text + out;
            itemStart = false;
        }
        list.Text[out++] = copy[i];
    }
    list.Text[out] = 0;
}

bool IsArchiverClass(const wchar_t* className)
{
    return CompareNoCase(className, kArchiverClass) == 0 ||
           CompareNoCase(className, kZipClass) == 0;
}

bool IsOwnAssociation(const wchar_t* extension)
{
    wchar_t className[kClassChars];
    GetString(HKEY_CLASSES_ROOT, extension, nullptr, className, L"");
    return IsArchiverClass(className);
}

void LoadIntegrationOptions(IntegrationOptions& options)
{
    for (size_t row = 0; row < kAssociationRows; row++)
    {
        const wchar_t* primary = AssociationTable[row].PrimaryExtension;
        // A key cut to the buffer would be another row's: its default holds.
        wchar_t key[kExtensionGroupChars];
        options.Associate[row] =
            FormatString(key, L"Setup\\%s", primary) < 0 || GetUserInt(key, L"Set", 1) != 0;
        if ((row == kAssociationRowJar || row == kAssociationRowIso) && !IsOwnAssociation(primary))
        {
            // ".jar" is offered only while it already opens in the archiver;
            // ".iso" is left to another program that owns it, also one whose
            // class is too long or of a type this program cannot read.
            wchar_t className[kClassChars];
            const TextValue found =
                ReadTextValue(HKEY_CLASSES_ROOT, primary, nullptr, className, kClassChars, nullptr);
            if (found == TextValue::Unusable || className[0] != 0 || row == kAssociationRowJar)
                options.Associate[row] = false;
        }
    }
    for (const SingleFlag& flag : kSingleFlags)
        options.*flag.Field = GetUserInt(flag.Key, flag.Name, flag.Default) != 0;
}

void StoreIntegrationOptions(const IntegrationOptions& options)
{
    for (size_t row = 0; row < kAssociationRows; row++)
        SetUserInt(AssociationTable[row].OptionKey, L"Set", options.Associate[row] ? 1 : 0);
    for (const SingleFlag& flag : kSingleFlags)
        SetUserInt(flag.Key, flag.Name, options.*flag.Field ? 1 : 0);
}
