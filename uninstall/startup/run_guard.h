#pragma once
// One setup or uninstall at a time: two runs at once would each undo what
// the other is writing.
#include <windows.h>

#include "common/handles.h"

// How long a second run waits for the first to end before it gives up.
const DWORD kGuardWaitMilliseconds = 15000;

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
