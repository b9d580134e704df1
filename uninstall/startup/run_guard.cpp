#include "startup/run_guard.h"

#include <sddl.h>

#include "common/system_functions.h"
#include "platform/platform_probes.h"

namespace
{

const wchar_t kNamespaceName[] = L"Velnox";
const wchar_t kGuardInNamespace[] = L"Velnox\\RunGuard";
const wchar_t kGlobalGuard[] = L"Global\\Velnox.RunGuard";

typedef HANDLE(WINAPI* CreateBoundaryFunction)(LPCWSTR, ULONG);
typedef BOOL(WINAPI* AddSidFunction)(HANDLE*, PSID);
typedef void(WINAPI* DeleteBoundaryFunction)(HANDLE);
typedef HANDLE(WINAPI* CreateNamespaceFunction)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
typedef HANDLE(WINAPI* OpenNamespaceFunction)(LPVOID, LPCWSTR);
typedef BOOLEAN(WINAPI* CloseNamespaceFunction)(HANDLE, ULONG);

// A namespace only Administrators can create or open, shared by every
// elevated run of this program; null with the error of the step that failed.
HANDLE OpenAdministratorsNamespace(DWORD& error)
{
    const auto createBoundary =
        Kernel32Function<CreateBoundaryFunction>("CreateBoundaryDescriptorW");
    const auto addSid = Kernel32Function<AddSidFunction>("AddSIDToBoundaryDescriptor");
    const auto deleteBoundary =
        Kernel32Function<DeleteBoundaryFunction>("DeleteBoundaryDescriptor");
    const auto createNamespace =
        Kernel32Function<CreateNamespaceFunction>("CreatePrivateNamespaceW");
    const auto openNamespace = Kernel32Function<OpenNamespaceFunction>("OpenPrivateNamespaceW");
    error = ERROR_PROC_NOT_FOUND;
    if (!createBoundary || !addSid || !deleteBoundary || !createNamespace || !openNamespace)
        return nullptr;
    HANDLE boundary = createBoundary(kNamespaceName, 0);
    if (!boundary)
    {
        error = GetLastError();
        return nullptr;
    }
    HANDLE opened = nullptr;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    LocalMemory descriptor;
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) &&
        addSid(&boundary, sid) &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1, descriptor.Receive(), nullptr))
    {
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
        opened = createNamespace(&attributes, boundary, kNamespaceName);
        if (!opened && GetLastError() == ERROR_ALREADY_EXISTS)
            opened = openNamespace(boundary, kNamespaceName);
    }
    error = opened ? 0 : GetLastError();
    // A failure that left no error is still a failure.
    if (!opened && error == 0)
        error = ERROR_ACCESS_DENIED;
    deleteBoundary(boundary);
    return opened;
}

// The guard made with its access list, or opened with every right.
HANDLE CreateGuard(const wchar_t* name, DWORD& error)
{
    LocalMemory descriptor;
    HANDLE guard = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kGuardSecurity, SDDL_REVISION_1,
                                                             descriptor.Receive(), nullptr))
    {
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
        guard = CreateMutexW(&attributes, FALSE, name);
    }
    error = guard ? 0 : GetLastError();
    if (!guard && error == 0)
        error = ERROR_ACCESS_DENIED;
    return guard;
}

} // namespace

const wchar_t kGuardSecurity[] = L"D:P(A;;0x1f0001;;;BA)(A;;0x1f0001;;;SY)";

RunGuard::~RunGuard()
{
    Release();
}

GuardPlace ChooseGuardPlace(bool elevated, DWORD error)
{
    if (!elevated)
        return GuardPlace::GlobalName;
    if (error == 0)
        return GuardPlace::Namespace;
    switch (error)
    {
    // The system has no private namespaces: no run of it has, and all of
    // them meet at the global name.
    case ERROR_PROC_NOT_FOUND:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return GuardPlace::GlobalName;
    default:
        return GuardPlace::HeldByAnother;
    }
}

bool RunGuard::Acquire(DWORD milliseconds)
{
    if (held_)
        return true;
    const bool elevated = RunsElevated();
    DWORD error = ERROR_PROC_NOT_FOUND;
    if (elevated)
        namespace_ = OpenAdministratorsNamespace(error);
    if (namespace_)
        mutex_.Reset(CreateGuard(kGuardInNamespace, error));
    switch (ChooseGuardPlace(elevated, error))
    {
    case GuardPlace::Namespace:
        break;
    case GuardPlace::GlobalName:
        CloseNamespace();
        // A standard run gets the system's default access: another
        // standard run of the same user must open it too.
        mutex_.Reset(elevated ? CreateGuard(kGlobalGuard, error)
                              : CreateMutexW(nullptr, FALSE, kGlobalGuard));
        break;
    case GuardPlace::HeldByAnother:
        CloseNamespace();
        return false;
    }
    // A name taken by an object this run may not use counts as held by
    // another run.
    if (!mutex_.Valid())
        return false;
    const DWORD waited = WaitForSingleObject(mutex_.Get(), milliseconds);
    // An abandoned guard: the run before was ended, and what it left is
    // this run's to finish.
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    return held_;
}

void RunGuard::Release()
{
    if (held_)
        ReleaseMutex(mutex_.Get());
    held_ = false;
    mutex_.Close();
    CloseNamespace();
}

void RunGuard::CloseNamespace()
{
    if (!namespace_)
        return;
    const auto closeNamespace = Kernel32Function<CloseNamespaceFunction>("ClosePrivateNamespace");
    if (closeNamespace)
        closeNamespace(namespace_, 0);
    namespace_ = nullptr;
}
