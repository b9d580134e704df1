#include "localization/language_module.h"

#include "common/handles.h"
#include "common/strings.h"
#include "files/disk_file.h"
#include "files/file_system.h"
#include "files/path_names.h"
#include "platform/platform_probes.h"

#include <cwchar>

HINSTANCE ResourceModule = nullptr;
HINSTANCE ProgramModule = nullptr;
LanguageLibrary LanguageModule;

namespace
{

// Loading a language module as data keeps its code from running, where the
// system supports that for resources (Windows XP SP2 and later).
bool CanLoadAsDataFile()
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)))
        return false;
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT)
        return false;
    return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.wServicePackMajor >= 2);
}

template <typename Record> bool ReadRecord(DiskFile& file, int64_t offset, Record& record)
{
    file.Seek(offset, FILE_BEGIN);
    return file.Tell() == offset && file.Read(&record, sizeof(record)) == int64_t(sizeof(record));
}

// A language module cut short (an interrupted copy) still loads, but its
// resources then point past the end of the file and the first lookup
// faults. Only a file that holds the whole of every section is used.
bool IsWholeImage(const wchar_t* path)
{
    DiskFile file;
    if (!file.Open(path))
        return false;
    file.Seek(0, FILE_END);
    const int64_t size = file.Tell();
    IMAGE_DOS_HEADER dos;
    if (size <= 0 || !ReadRecord(file, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0)
        return false;
    struct
    {
        DWORD Signature;
        IMAGE_FILE_HEADER Header;
    } nt;
    if (!ReadRecord(file, dos.e_lfanew, nt) || nt.Signature != IMAGE_NT_SIGNATURE)
        return false;
    const int64_t sections = int64_t(dos.e_lfanew) + sizeof(nt) + nt.Header.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt.Header.NumberOfSections; i++)
    {
        IMAGE_SECTION_HEADER section;
        if (!ReadRecord(file, sections + int64_t(i) * sizeof(section), section))
            return false;
        if (int64_t(section.PointerToRawData) + section.SizeOfRawData > size)
            return false;
    }
    return true;
}

// The module mapped as an image of resources and held against writes while
// it is loaded: cut short under the running program, a resource lookup would
// fault. Systems that know neither flag refuse them as a bad parameter; only
// there is it mapped as a plain data file.
HMODULE LoadHeldResourceModule(const wchar_t* path)
{
    HMODULE library = LoadLibraryExW(
        path, nullptr, LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (library == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        library = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    // Checked after loading: held, the file can no longer be cut short.
    if (library != nullptr && !IsWholeImage(path))
    {
        FreeLibrary(library);
        library = nullptr;
    }
    return library;
}

} // namespace

HINSTANCE DialogModule(const wchar_t* name)
{
    if (ResourceModule != ProgramModule &&
        FindResourceW(ResourceModule, name, RT_DIALOG) == nullptr)
        return ProgramModule;
    return ResourceModule;
}

bool RedirectToLanguageFolder(const wchar_t* source, wchar_t* destination, size_t capacity)
{
    if (destination != source && !CopyString(destination, source, capacity))
        return false;

    RegistryKey key;
    if (!key.Open(HKEY_CURRENT_USER, L"Software\\Velnox\\General", KEY_QUERY_VALUE))
        return true;

    // The folder may take only the room the source path leaves.
    size_t sourceLength = wcslen(destination);
    if (sourceLength >= kPathChars - 1)
        return true;
    wchar_t folder[kPathChars];
    DWORD size = static_cast<DWORD>(2 * (kPathChars - 1 - sourceLength));
    DWORD type = 0;
    if (RegQueryValueExW(key.Get(), L"LanguageFolder", nullptr, &type,
                         reinterpret_cast<BYTE*>(folder), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size % sizeof(wchar_t) != 0)
        return true;
    // Registry strings need not be terminated; one that ends early at a NUL
    // (or holds several) would name another folder.
    size_t length = size / sizeof(wchar_t);
    while (length > 0 && folder[length - 1] == 0)
        --length;
    if (length >= kPathChars || wmemchr(folder, 0, length) != nullptr)
        return true;
    folder[length] = 0;

    wchar_t redirected[kPathChars];
    DWORD expanded = ExpandEnvironmentStringsW(folder, redirected, kPathChars);
    if (expanded == 0 || expanded > kPathChars)
        return true;
    // Cut, the name would be another file in that folder.
    if (!AddEndSlash(redirected) || !AppendString(redirected, PointToName(destination)) ||
        !FileExists(redirected))
        return true;
    return CopyString(destination, redirected, capacity);
}

void LanguageLibrary::Open(HINSTANCE instance)
{
    wchar_t programPath[kPathChars];
    DWORD length = GetModuleFileNameW(nullptr, programPath, kPathChars);
    if (length == 0 || length >= kPathChars)
        programPath[0] = 0;
    OpenBeside(instance, programPath);
}

void LanguageLibrary::OpenBeside(HINSTANCE instance, const wchar_t* programPath)
{
    Release();
    HMODULE library = nullptr;
    // The module's name must fit whole beside the program: cut, it would be
    // another file.
    wchar_t path[kPathChars];
    wchar_t beside[kPathChars];
    const bool asData = CanLoadAsDataFile();
    FromFolder = false;
    // Where the module would be loaded as code, an elevated run takes none
    // from the user's language folder.
    if (programPath[0] != 0 && CopyString(path, programPath) && SetName(path, L"vnxlng.dll") &&
        CopyString(beside, path) &&
        ((!asData && RunsElevated()) || RedirectToLanguageFolder(path, path, kPathChars)))
    {
        FromFolder = wcscmp(path, beside) != 0;
        if (!asData)
            library = IsWholeImage(path) ? LoadLibraryW(path) : nullptr;
        else
            library = LoadHeldResourceModule(path);
    }
    Loaded = library != nullptr;
    ResourceModule = Loaded ? library : instance;
    ProgramModule = instance;
}

void LanguageLibrary::Release()
{
    if (!Loaded)
        return;
    FreeLibrary(ResourceModule);
    ResourceModule = ProgramModule;
    Loaded = false;
}

