#pragma once
// An access-denied answer from the registry for chosen keys, made inside this
// test binary: Wine lets an administrator write everywhere, so while a
// DenyRegistryAccess lives, the binary's own imports of the registry calls
// that create, open for writing or delete keys are patched to refuse every key
// path containing the given text (case-insensitive) with ERROR_ACCESS_DENIED.
// Reads and all other keys pass through. One denial at a time.
#include <windows.h>

class DenyRegistryAccess
{
public:
    // root null: any root.
    explicit DenyRegistryAccess(const wchar_t* pathPart, HKEY root = nullptr);
    ~DenyRegistryAccess();
    DenyRegistryAccess(const DenyRegistryAccess&) = delete;
    DenyRegistryAccess& operator=(const DenyRegistryAccess&) = delete;

    // False when the imports could not be patched: the denial is not in force.
    bool Active() const;
    // How many calls were refused so far.
    int Refusals() const;

private:
    bool Owner = false;
};
