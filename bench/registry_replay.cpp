#include "registry_replay.h"

#include <cstdio>
#include <cwchar>

namespace
{

struct Root
{
    const wchar_t* Label;
    HKEY Handle;
};
const Root kRoots[] = {
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKCU", HKEY_CURRENT_USER},
};

// A full path cut into its root and the subkey below it.
bool SplitPath(const std::wstring& path, HKEY& root, std::wstring& subkey)
{
    for (const Root& candidate : kRoots)
    {
        const size_t length = std::wcslen(candidate.Label);
        if (path.compare(0, length, candidate.Label) == 0 &&
            (path.size() == length || path[length] == L'\\'))
        {
            root = candidate.Handle;
            subkey = path.size() == length ? std::wstring() : path.substr(length + 1);
            return true;
        }
    }
    return false;
}

// Small owner of one open key.
class OpenKey
{
public:
    OpenKey() = default;
    ~OpenKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Wine's own state, such as the volatile "Temporary System Parameters" that
// any program with windows makes: not the program's doing.
const wchar_t kSkippedTree[] = L"Software\\Wine";

void ReadTree(HKEY root, const std::wstring& label, const std::wstring& subkey, RegSnapshot& out)
{
    if (lstrcmpiW(subkey.c_str(), kSkippedTree) == 0)
        return;
    OpenKey key;
    // The link itself, not its target: the target is read where it lies.
    if (RegOpenKeyExW(root, subkey.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY,
                      key.Out()) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr,
                         &values, &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    RegKeyContents& contents = out[label + L"\\" + subkey];
    bool isLink = false;
    std::vector<wchar_t> name(maxName + 2);
    std::vector<BYTE> data(maxData + 2);
    for (DWORD i = 0;; i++)
    {
        DWORD nameLength = DWORD(name.size());
        DWORD dataSize = DWORD(data.size());
        DWORD type = 0;
        const LONG status = RegEnumValueW(key.Get(), i, name.data(), &nameLength, nullptr, &type,
                                          data.data(), &dataSize);
        if (status == ERROR_MORE_DATA)
        {
            // Changed since the key was measured: grow and read it again.
            name.resize(name.size() * 2 + 256);
            data.resize(data.size() * 2 + 4096);
            i--;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        RegValue& value = contents.Values[std::wstring(name.data(), nameLength)];
        value.Type = type;
        value.Data.assign(data.begin(), data.begin() + dataSize);
        if (type == REG_LINK)
            isLink = true;
    }
    std::vector<std::wstring> children;
    std::vector<wchar_t> child(maxSubkey + 2);
    for (DWORD i = 0;; i++)
    {
        DWORD length = DWORD(child.size());
        const LONG status =
            RegEnumKeyExW(key.Get(), i, child.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
        {
            child.resize(child.size() * 2 + 256);
            i--;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        children.emplace_back(child.data(), length);
    }
    if (isLink)
        return;
    for (const std::wstring& name : children)
        ReadTree(root, label, subkey + L"\\" + name, out);
}

typedef LONG(WINAPI* DeleteKeyExFunction)(HKEY, LPCWSTR, REGSAM, DWORD);

bool DeleteKeyTree(HKEY root, const std::wstring& subkey)
{
    // Newer than the headers the program builds with.
    static const DeleteKeyExFunction deleteKeyEx =
        reinterpret_cast<DeleteKeyExFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    std::vector<std::wstring> children;
    {
        OpenKey key;
        if (RegOpenKeyExW(root, subkey.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | KEY_WOW64_64KEY,
                          key.Out()) != ERROR_SUCCESS)
            return false;
        wchar_t name[512];
        for (DWORD i = 0;; i++)
        {
            DWORD length = 512;
            if (RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            children.emplace_back(name, length);
        }
    }
    for (const std::wstring& name : children)
        DeleteKeyTree(root, subkey + L"\\" + name);
    if (deleteKeyEx)
        return deleteKeyEx(root, subkey.c_str(), KEY_WOW64_64KEY, 0) == ERROR_SUCCESS;
    return RegDeleteKeyW(root, subkey.c_str()) == ERROR_SUCCESS;
}

bool SetOneValue(const std::wstring& path, const std::wstring& name, const RegValue& value)
{
    HKEY root;
    std::wstring subkey;
    OpenKey key;
    if (!SplitPath(path, root, subkey) ||
        RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                        key.Out(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.Get(), name.c_str(), 0, value.Type,
                          value.Data.empty() ? nullptr : value.Data.data(),
                          DWORD(value.Data.size())) == ERROR_SUCCESS;
}

bool DeleteOneValue(const std::wstring& path, const std::wstring& name)
{
    HKEY root;
    std::wstring subkey;
    OpenKey key;
    if (!SplitPath(path, root, subkey) ||
        RegOpenKeyExW(root, subkey.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.Out()) !=
            ERROR_SUCCESS)
        return false;
    return RegDeleteValueW(key.Get(), name.c_str()) == ERROR_SUCCESS;
}

bool CreateOneKey(const std::wstring& path)
{
    HKEY root;
    std::wstring subkey;
    OpenKey key;
    return SplitPath(path, root, subkey) &&
           RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                           nullptr, key.Out(), nullptr) == ERROR_SUCCESS;
}

bool IsBelow(const std::wstring& path, const std::wstring& parent)
{
    return path.size() > parent.size() + 1 && path.compare(0, parent.size(), parent) == 0 &&
           path[parent.size()] == L'\\';
}

bool HasChildIn(const RegSnapshot& snapshot, const std::wstring& path)
{
    const auto next = snapshot.lower_bound(path + L"\\");
    return next != snapshot.end() && IsBelow(next->first, path);
}

// The nearest enclosing key that the snapshot holds, if any.
bool ParentIn(const RegSnapshot& snapshot, const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash != std::wstring::npos && snapshot.count(path.substr(0, slash)) != 0;
}

const char kHex[] = "0123456789abcdef";

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return -1;
}

std::vector<std::wstring> SplitTabs(const std::wstring& line)
{
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;)
    {
        const size_t tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::wstring::npos)
            return fields;
        start = tab + 1;
    }
}

const wchar_t kKindLetters[] = L"KVDX";

} // namespace

RegSnapshot TakeSoftwareSnapshot()
{
    RegSnapshot snapshot;
    for (const Root& root : kRoots)
        ReadTree(root.Handle, root.Label, L"Software", snapshot);
    return snapshot;
}

std::vector<RegWrite> DeriveWrites(const RegSnapshot& before, const RegSnapshot& after)
{
    std::vector<RegWrite> writes;
    auto b = before.begin();
    auto a = after.begin();
    while (b != before.end() || a != after.end())
    {
        if (b == before.end() || (a != after.end() && a->first < b->first))
        {
            // New key: its values, or the key alone when nothing below makes it.
            for (const auto& value : a->second.Values)
                writes.push_back({RegWrite::SetValue, a->first, value.first, value.second});
            if (a->second.Values.empty() && !HasChildIn(after, a->first))
                writes.push_back({RegWrite::CreateKey, a->first, L"", RegValue()});
            ++a;
        }
        else if (a == after.end() || b->first < a->first)
        {
            if (!ParentIn(before, b->first) ||
                after.count(b->first.substr(0, b->first.find_last_of(L'\\'))) != 0)
                writes.push_back({RegWrite::DeleteKey, b->first, L"", RegValue()});
            ++b;
        }
        else
        {
            for (const auto& value : a->second.Values)
            {
                const auto old = b->second.Values.find(value.first);
                if (old == b->second.Values.end() || !(old->second == value.second))
                    writes.push_back({RegWrite::SetValue, a->first, value.first, value.second});
            }
            for (const auto& value : b->second.Values)
                if (a->second.Values.count(value.first) == 0)
                    writes.push_back({RegWrite::DeleteValue, a->first, value.first, RegValue()});
            ++a;
            ++b;
        }
    }
    return writes;
}

void UndoWrites(const RegSnapshot& before, const RegSnapshot& after)
{
    for (const auto& key : after)
    {
        const auto old = before.find(key.first);
        if (old == before.end())
        {
            // Only the topmost new key: its tree goes with it.
            if (ParentIn(before, key.first) || !ParentIn(after, key.first))
            {
                HKEY root;
                std::wstring subkey;
                if (SplitPath(key.first, root, subkey))
                    DeleteKeyTree(root, subkey);
            }
            continue;
        }
        for (const auto& value : key.second.Values)
            if (old->second.Values.count(value.first) == 0)
                DeleteOneValue(key.first, value.first);
    }
    for (const auto& key : before)
    {
        const auto now = after.find(key.first);
        for (const auto& value : key.second.Values)
            if (now == after.end() || now->second.Values.count(value.first) == 0 ||
                !(now->second.Values.at(value.first) == value.second))
                SetOneValue(key.first, value.first, value.second);
        if (now == after.end() && key.second.Values.empty())
            CreateOneKey(key.first);
    }
}

bool SaveWrites(const std::vector<RegWrite>& writes, const std::wstring& path)
{
    std::wstring text;
    for (const RegWrite& write : writes)
    {
        text += kKindLetters[write.What];
        text += L'\t' + write.Key + L'\t' + write.Name + L'\t';
        wchar_t type[16];
        std::swprintf(type, 16, L"%lu", static_cast<unsigned long>(write.Value.Type));
        text += type;
        text += L'\t';
        for (BYTE byte : write.Value.Data)
        {
            text += wchar_t(kHex[byte >> 4]);
            text += wchar_t(kHex[byte & 15]);
        }
        text += L'\n';
    }
    return SaveWideText(path, text);
}

bool LoadWrites(const std::wstring& path, std::vector<RegWrite>& writes)
{
    std::wstring text;
    if (!LoadWideText(path, text))
        return false;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::vector<std::wstring> fields = SplitTabs(text.substr(start, end - start));
        start = end + 1;
        if (fields.size() != 5 || fields[0].size() != 1)
            return false;
        const wchar_t* kind = std::wcschr(kKindLetters, fields[0][0]);
        if (kind == nullptr || *kind == 0 || fields[4].size() % 2 != 0)
            return false;
        RegWrite write = {RegWrite::Kind(kind - kKindLetters), fields[1], fields[2], RegValue()};
        write.Value.Type = DWORD(std::wcstoul(fields[3].c_str(), nullptr, 10));
        for (size_t i = 0; i < fields[4].size(); i += 2)
        {
            const int high = HexDigit(fields[4][i]);
            const int low = HexDigit(fields[4][i + 1]);
            if (high < 0 || low < 0)
                return false;
            write.Value.Data.push_back(BYTE(high * 16 + low));
        }
        writes.push_back(write);
    }
    return true;
}

bool ReplayWrite(const RegWrite& write)
{
    switch (write.What)
    {
    case RegWrite::CreateKey:
        return CreateOneKey(write.Key);
    case RegWrite::SetValue:
        return SetOneValue(write.Key, write.Name, write.Value);
    case RegWrite::DeleteValue:
        return DeleteOneValue(write.Key, write.Name);
    case RegWrite::DeleteKey:
    {
        HKEY root;
        std::wstring subkey;
        return SplitPath(write.Key, root, subkey) && DeleteKeyTree(root, subkey);
    }
    }
    return false;
}

std::wstring DescribeWrite(const RegWrite& write)
{
    static const wchar_t* const kKindNames[] = {L"create key", L"set value", L"delete value",
                                                L"delete key"};
    std::wstring line = kKindNames[write.What];
    line += L"  " + write.Key;
    if (write.What == RegWrite::SetValue || write.What == RegWrite::DeleteValue)
        line += L"  [" + write.Name + L"]";
    if (write.What == RegWrite::SetValue)
    {
        wchar_t detail[48];
        std::swprintf(detail, 48, L"  type %lu, %u bytes",
                      static_cast<unsigned long>(write.Value.Type),
                      unsigned(write.Value.Data.size()));
        line += detail;
    }
    return line;
}

bool SaveWideText(const std::wstring& path, const std::wstring& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = DWORD(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), size, &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

bool LoadWideText(const std::wstring& path, std::wstring& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = GetFileSize(file, nullptr);
    text.assign(size == INVALID_FILE_SIZE ? 0 : size / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    const bool ok = size != INVALID_FILE_SIZE &&
                    (size == 0 || (ReadFile(file, &text[0], size, &read, nullptr) && read == size));
    CloseHandle(file);
    return ok;
}
