#include "integration/integration_options.h"

#include "common/strings.h"
#include "settings/settings_store.h"

const wchar_t kArchiverClass[] = L"Velnox";
const wchar_t kZipClass[] = L"Velnox.ZIP";
const wchar_t kRevisionClass[] = L"Velnox.REV";
const wchar_t kRevisionExtension[] = L".rev";

const wchar_t* ClassOf(const AssociationRow& row)
{
    return row.Zip ? kZipClass : kArchiverClass;
}

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

bool PrimaryExtension(const AssociationRow& row, wchar_t (&extension)[kExtensionGroupChars])
{
    ExtensionList list;
    SplitExtensionGroup(row.Group, list);
    return list.Count > 0 && CopyString(extension, list.Items[0]);
}

bool OptionKeyOf(const AssociationRow& row, wchar_t (&key)[kExtensionGroupChars])
{
    wchar_t primary[kExtensionGroupChars];
    return PrimaryExtension(row, primary) && FormatString(key, L"Setup\\%s", primary) >= 0;
}

void LoadIntegrationOptions(IntegrationOptions& options)
{
    for (size_t index = 0; index < kAssociationRows; index++)
    {
        const AssociationRow& row = AssociationTable[index];
        wchar_t primary[kExtensionGroupChars];
        wchar_t key[kExtensionGroupChars];
        // A key cut to the buffer would be another row's: its default holds.
        options.Associate[index] = !PrimaryExtension(row, primary) || !OptionKeyOf(row, key) ||
                                   GetUserInt(key, L"Set", 1) != 0;
        if (row.Loading != RowLoading::AsStored && !IsOwnAssociation(primary))
        {
            // ".jar" is offered only while it already opens in the archiver;
            // ".iso" is left to another program that owns it, also one whose
            // class is too long or of a type this program cannot read.
            wchar_t className[kClassChars];
            const TextValue found =
                ReadTextValue(HKEY_CLASSES_ROOT, primary, nullptr, className, kClassChars, nullptr);
            if (found == TextValue::Unusable || className[0] != 0 ||
                row.Loading == RowLoading::OnlyWhileOurs)
                options.Associate[index] = false;
        }
    }
    for (const SingleFlag& flag : kSingleFlags)
        options.*flag.Field = GetUserInt(flag.Key, flag.Name, flag.Default) != 0;
}

void StoreIntegrationOptions(const IntegrationOptions& options)
{
    for (size_t row = 0; row < kAssociationRows; row++)
    {
        wchar_t key[kExtensionGroupChars];
        if (OptionKeyOf(AssociationTable[row], key))
            SetUserInt(key, L"Set", options.Associate[row] ? 1 : 0);
    }
    for (const SingleFlag& flag : kSingleFlags)
        SetUserInt(flag.Key, flag.Name, options.*flag.Field ? 1 : 0);
}
