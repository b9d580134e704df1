#include "support/registry_snapshot.h"

#include <cstdio>

namespace
{

struct TypeName
{
    DWORD Type;
    const wchar_t* Name;
};

const TypeName TypeNames[] = {
    {REG_NONE, L"REG_NONE"},           {REG_SZ, L"REG_SZ"},
    {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}, {REG_BINARY, L"REG_BINARY"},
    {REG_DWORD, L"REG_DWORD"},         {REG_DWORD_BIG_ENDIAN, L"REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, L"REG_LINK"},           {REG_MULTI_SZ, L"REG_MULTI_SZ"},
    {REG_QWORD, L"REG_QWORD"},
};

std::wstring NameOfType(DWORD type)
{
    for (const TypeName& entry : TypeNames)
        if (entry.Type == type)
            return entry.Name;
    return L"type " + std::to_wstring(type);
}

std::wstring Folded(const std::wstring& text)
{
    std::wstring copy = text;
    if (!copy.empty())
        CharUpperBuffW(&copy[0], DWORD(copy.size()));
    return copy;
}

std::wstring HexBytes(const BYTE* data, size_t size)
{
    std::wstring text;
    wchar_t pair[4];
    for (size_t i = 0; i < size; ++i)
    {
        swprintf(pair, 4, L"%02x", data[i]);
        if (i != 0)
            text += L' ';
        text += pair;
    }
    return text;
}

// Text with its trailing terminators dropped and control characters escaped,
// so that "a" written with or without its terminator reads the same.
std::wstring QuotedText(const BYTE* data, size_t size)
{
    size_t count = size / sizeof(wchar_t);
    const wchar_t* chars = reinterpret_cast<const wchar_t*>(data);
    while (count > 0 && chars[count - 1] == 0)
        --count;
    std::wstring text = L"\"";
    wchar_t escape[8];
    for (size_t i = 0; i < count; ++i)
    {
        const wchar_t c = chars[i];
        if (c < 0x20 || c == L'"' || c == L'\\')
        {
            if (c == 0)
                text += L"\\0";
            else if (c == L'"' || c == L'\\')
                (text += L'\\') += c;
            else
            {
                swprintf(escape, 8, L"\\x%02x", unsigned(c));
                text += escape;
            }
        }
        else
            text += c;
    }
    text += L'"';
    if (size % sizeof(wchar_t) != 0)
        text += L" +" + HexBytes(data + size - 1, 1);
    return text;
}

std::wstring ReadableData(DWORD type, const BYTE* data, size_t size)
{
    wchar_t number[24];
    switch (type)
    {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
    case REG_LINK:
        return QuotedText(data, size);
    case REG_DWORD:
        if (size == 4)
        {
            DWORD value;
            memcpy(&value, data, 4);
            swprintf(number, 24, L"0x%08lx", static_cast<unsigned long>(value));
            return number;
        }
        break;
    case REG_QWORD:
        if (size == 8)
        {
            unsigned long long value;
            memcpy(&value, data, 8);
            swprintf(number, 24, L"0x%016llx", value);
            return number;
        }
        break;
    }
    return L"[" + HexBytes(data, size) + L"]";
}

class KeyHolder
{
public:
    KeyHolder() = default;
    ~KeyHolder()
    {
        if (Handle != nullptr)
            RegCloseKey(Handle);
    }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;
    HKEY Handle = nullptr;
};

// Reads one open key and, through handles opened relative to it, its subtree.
void ReadKey(HKEY key, const std::wstring& relative, REGSAM view, RegistrySnapshot& snapshot,
             const wchar_t* const* skip = nullptr)
{
    const std::wstring folded = Folded(relative);
    RegistryEntry self;
    self.Key = relative;
    snapshot.Entries.emplace_hint(snapshot.Entries.end(), folded, self);

    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, largestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                         &longestName, &largestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;

    std::vector<wchar_t> name(longestName + 2);
    std::vector<BYTE> data(largestData + 2);
    for (DWORD index = 0; index < values + 16; ++index)
    {
        DWORD nameLength = DWORD(name.size());
        DWORD dataSize = DWORD(data.size());
        DWORD type = 0;
        LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                    data.data(), &dataSize);
        if (status == ERROR_MORE_DATA)
        {
            // Grew since the count was taken: size up and read this one again.
            name.resize(name.size() * 2 + 256);
            data.resize(data.size() * 2 + 256);
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        RegistryEntry entry;
        entry.Key = relative;
        entry.IsValue = true;
        entry.Name.assign(name.data(), nameLength);
        entry.Type = type;
        entry.Data = ReadableData(type, data.data(), dataSize);
        snapshot.Entries[folded + L'\x01' + Folded(entry.Name)] = entry;
    }

    std::vector<std::wstring> children;
    std::vector<wchar_t> subkey(longestSubkey + 2 > 258 ? longestSubkey + 2 : 258);
    for (DWORD index = 0;; ++index)
    {
        DWORD length = DWORD(subkey.size());
        if (RegEnumKeyExW(key, index, subkey.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.emplace_back(subkey.data(), length);
    }
    for (const std::wstring& child : children)
    {
        bool skipped = false;
        for (const wchar_t* const* name = skip; name != nullptr && *name != nullptr; ++name)
            skipped = skipped || lstrcmpiW(child.c_str(), *name) == 0;
        if (skipped)
            continue;
        KeyHolder opened;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ | view, &opened.Handle) != ERROR_SUCCESS)
            continue;
        ReadKey(opened.Handle, relative.empty() ? child : relative + L"\\" + child, view, snapshot);
    }
}

std::wstring Line(const wchar_t* what, const RegistryEntry& entry, const std::wstring& label)
{
    return std::wstring(what) + entry.Describe(label);
}

} // namespace

std::wstring RegistryEntry::Describe(const std::wstring& rootLabel) const
{
    std::wstring text = rootLabel;
    if (!Key.empty())
        text += L"\\" + Key;
    if (!IsValue)
        return text + L" (key)";
    text += L" [" + (Name.empty() ? std::wstring(L"(default)") : Name) + L"] ";
    return text + NameOfType(Type) + L" " + Data;
}

RegistrySnapshot TakeRegistrySnapshot(HKEY root, const wchar_t* path, REGSAM view,
                                      const wchar_t* label, const wchar_t* const* skipTop)
{
    RegistrySnapshot snapshot;
    snapshot.Label = label != nullptr ? label : (path != nullptr ? path : L"");
    KeyHolder key;
    if (RegOpenKeyExW(root, path != nullptr ? path : L"", 0, KEY_READ | view, &key.Handle) ==
        ERROR_SUCCESS)
        ReadKey(key.Handle, L"", view, snapshot, skipTop);
    snapshot.Exists = !snapshot.Entries.empty();
    return snapshot;
}

std::vector<RegistryDifference> CompareRegistrySnapshots(const RegistrySnapshot& before,
                                                         const RegistrySnapshot& after)
{
    std::vector<RegistryDifference> differences;
    auto old = before.Entries.begin();
    auto now = after.Entries.begin();
    while (old != before.Entries.end() || now != after.Entries.end())
    {
        if (now == after.Entries.end() || (old != before.Entries.end() && old->first < now->first))
        {
            differences.push_back({RegistryDifference::Removed, old->second, RegistryEntry()});
            ++old;
        }
        else if (old == before.Entries.end() || now->first < old->first)
        {
            differences.push_back({RegistryDifference::Added, RegistryEntry(), now->second});
            ++now;
        }
        else
        {
            if (old->second.Type != now->second.Type || old->second.Data != now->second.Data)
                differences.push_back({RegistryDifference::Changed, old->second, now->second});
            ++old;
            ++now;
        }
    }
    return differences;
}

std::wstring DescribeDifference(const RegistryDifference& difference, const std::wstring& label)
{
    switch (difference.What)
    {
    case RegistryDifference::Added:
        return Line(L"added   ", difference.After, label);
    case RegistryDifference::Removed:
        return Line(L"removed ", difference.Before, label);
    default:
        return Line(L"changed ", difference.Before, label) + L" -> " +
               NameOfType(difference.After.Type) + L" " + difference.After.Data;
    }
}

std::vector<std::wstring> ListRegistryDifferences(const RegistrySnapshot& before,
                                                  const RegistrySnapshot& after)
{
    std::vector<std::wstring> lines;
    for (const RegistryDifference& difference : CompareRegistrySnapshots(before, after))
        lines.push_back(DescribeDifference(difference, before.Label));
    return lines;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &result[0], size, nullptr,
                            nullptr);
    return result;
}

std::string JoinLines(const std::vector<std::wstring>& lines)
{
    std::string text;
    for (const std::wstring& line : lines)
        text += WideToUtf8(line) + "\n";
    return text;
}
