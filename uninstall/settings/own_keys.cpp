#include "settings/own_keys.h"

#include "common/handles.h"
#include "common/system_functions.h"

bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    LONG status = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    return (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && type == REG_LINK;
}

LONG OpenOwnKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* opened)
{
    *opened = nullptr;
    LONG status = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, opened);
    if (status != ERROR_SUCCESS)
        *opened = nullptr;
    return status;
}

LONG OpenOrCreateOwnKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* opened,
                        bool parentCreated, bool& created)
{
    created = false;
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        LONG status = ERROR_FILE_NOT_FOUND;
        if (!parentCreated || attempt > 0)
            status = OpenOwnKey(parent, name, access, opened);
        if (status != ERROR_FILE_NOT_FOUND)
            return status;
        DWORD disposition = 0;
        status = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                 nullptr, opened, &disposition);
        if (status != ERROR_SUCCESS)
        {
            *opened = nullptr;
            return status;
        }
        created = disposition == REG_CREATED_NEW_KEY;
        if (created)
            return ERROR_SUCCESS;
        // Someone else's key, opened following links: drop it and look again.
        RegistryKey(*opened).Close();
        *opened = nullptr;
    }
    return kRefusedLink;
}

bool NextKeyName(const wchar_t*& rest, wchar_t (&name)[kKeyNameCapacity])
{
    size_t length = 0;
    while (rest[length] && rest[length] != L'\\')
        ++length;
    if (length == 0 || length >= kKeyNameCapacity)
        return false;
    for (size_t i = 0; i < length; ++i)
        name[i] = rest[i];
    name[length] = 0;
    rest += rest[length] ? length + 1 : length;
    return true;
}

namespace
{
typedef LONG(NTAPI* DeleteOpenedKeyFunction)(HANDLE);
} // namespace

bool DeleteOpenedKey(HKEY key)
{
    static const DeleteOpenedKeyFunction deleteKey =
        NtdllFunction<DeleteOpenedKeyFunction>("NtDeleteKey");
    return deleteKey && deleteKey(key) >= 0;
}
