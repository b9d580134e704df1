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
// elevated run of this program; null where the system has none or refuses.
HANDLE OpenAdministratorsNamespace()
{
    const auto createBoundary =
        Kernel32Function<CreateBoundaryFunction>("CreateBoundaryDescriptorW");
    const auto addSid = Kernel32Function<AddSidFunction>("AddSIDToBoundaryDescriptor");
    const auto deleteBoundary =
        Kernel32Function<DeleteBoundaryFunction>("DeleteBoundaryDescriptor");
    const auto createNamespace =
        Kernel32Function<CreateNamespaceFunction>("CreatePrivateNamespaceW");
    const auto openNamespace = Kernel32Function<OpenNamespaceFunction>("OpenPrivateNamespaceW");
    if (!createBoundary || !addSid || !deleteBoundary || !createNamespace || !openNamespace)
        return nullptr;
    HANDLE boundary = createBoundary(kNamespaceName, 0);
    if (!boundary)
        return nullptr;
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
    deleteBoundary(boundary);
    return opened;
}

} // namespace

RunGuard::~RunGuard()
{
    Release();
}

bool RunGuard::Acquire(DWORD milliseconds)
{
    if (held_)
        return true;
    if (RunsElevated())
        namespace_ = OpenAdministratorsNamespace();
    if (namespace_)
        mutex_.Reset(CreateMutexW(nullptr, FALSE, kGuardInNamespace));
    // A system that hands out a namespace it cannot name objects in has no
    // working namespaces for any run: all of them meet at the global name.
    if (!mutex_.Valid())
    {
        CloseNamespace();
        mutex_.Reset(CreateMutexW(nullptr, FALSE, kGlobalGuard));
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
