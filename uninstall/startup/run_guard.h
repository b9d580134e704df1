#pragma once
// One setup or uninstall at a time: two runs at once would each undo what
// the other is writing.
#include <windows.h>

#include "common/handles.h"

// How long a second run waits for the first to end before it gives up.
const DWORD kGuardWaitMilliseconds = 15000;

// Where a run meets the others at the guard.
enum class GuardPlace
{
    Namespace,     // inside the namespace bound to Administrators
    GlobalName,    // the plain global name
    HeldByAnother, // nowhere: the run counts the guard as held
};

// An elevated run names the guard inside the namespace; error is 0 when the
// namespace and the guard in it were made or opened, else the error of the
// step that failed. Only a system without private namespaces sends an
// elevated run to the global name, where a standard process could squat or
// share it; any other failure counts as the guard held by another run.
GuardPlace ChooseGuardPlace(bool elevated, DWORD error);

// The guard's access list: every right for Administrators and LocalSystem,
// so that an elevated run opens what a LocalSystem run made, and the
// reverse; nobody else is named.
extern const wchar_t kGuardSecurity[];

// A named guard that only this program takes. An elevated run on a system
// with private namespaces names it inside a namespace bound to
// Administrators, which a standard process cannot create or enter; elsewhere
// it is a plain global name, which a squatter can at most hold, so that the
// run waits and ends without acting.
class RunGuard
{
public:
    RunGuard() = default;
    ~RunGuard();
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

    // True once this run holds the guard, after waiting up to milliseconds
    // for another run to let go of it.
    bool Acquire(DWORD milliseconds);
    void Release();

private:
    void CloseNamespace();

    HANDLE namespace_ = nullptr;
    KernelHandle mutex_;
    bool held_ = false;
};
