#pragma once
// The common controls' visual styles for the windows a user sees.
//
// The program's own manifest leaves the common controls version 6 out, so
// that a silent run's dialogs, which accept themselves before they are drawn,
// are not themed control by control. A run that shows windows makes them
// while a VisualStyles object is active: it activates the context of the
// program's second manifest, which asks for version 6.
#include <windows.h>

class VisualStyles
{
public:
    VisualStyles() = default;
    ~VisualStyles() { Deactivate(); }
    VisualStyles(const VisualStyles&) = delete;
    VisualStyles& operator=(const VisualStyles&) = delete;

    // Windows made on this thread from now on are styled. False, and nothing
    // changes, when module holds no such manifest or the system refuses it.
    bool Activate(HMODULE module);
    // Also takes off what another module activated above and left there.
    void Deactivate();
    bool IsActive() const { return Active; }

private:
    HANDLE Context = INVALID_HANDLE_VALUE;
    ULONG_PTR Cookie = 0;
    bool Active = false;
};
