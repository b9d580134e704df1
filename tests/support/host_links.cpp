#include "support/host_links.h"

#include "support/plain_files.h"
#include "support/program_under_test.h"

namespace
{

bool WaitFor(const std::wstring& path, bool present)
{
    return WaitUntil([&] { return Exists(path) == present; }, 10000);
}

// Wine starts Linux programs too; their exit codes do not come back, so the
// caller checks the result itself.
void RunLinux(const std::string& commandLine)
{
    std::wstring line(commandLine.begin(), commandLine.end());
    ChildProcess child;
    if (child.Start(line))
        child.Wait(10000);
}

} // namespace

std::string UnixName(const std::wstring& path)
{
    typedef char*(CDECL * UnixNameFn)(LPCWSTR);
    UnixNameFn toUnix = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return "";
    char* name = toUnix(path.c_str());
    if (!name)
        return "";
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool LinuxLinks::Make(const std::string& target, const std::string& link, const std::wstring& seen,
                      bool inside)
{
    made_.push_back({link, seen, inside});
    RunLinux("Z:\\bin\\ln -sfn \"" + target + "\" \"" + link + "\"");
    return WaitFor(seen, true);
}

void LinuxLinks::RemoveAll()
{
    for (const Link& link : made_)
    {
        RunLinux("Z:\\bin\\rm -f \"" + link.Unix + "\"");
        // A scratch folder's removal must not follow a link left in it.
        if (link.Inside)
            WaitFor(link.Seen, false);
    }
    made_.clear();
}
