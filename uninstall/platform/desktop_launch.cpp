#include "platform/desktop_launch.h"

#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "common/handles.h"
#include "platform/platform_probes.h"

namespace
{

// A text or value handed to automation, freed when the call is done.
struct Argument
{
    VARIANT Value;
    Argument() { VariantInit(&Value); }
    explicit Argument(const wchar_t* text) : Argument()
    {
        Value.bstrVal = SysAllocString(text);
        if (Value.bstrVal != nullptr)
            Value.vt = VT_BSTR;
    }
    explicit Argument(long number) : Argument()
    {
        Value.vt = VT_I4;
        Value.lVal = number;
    }
    ~Argument() { VariantClear(&Value); }
    Argument(const Argument&) = delete;
    Argument& operator=(const Argument&) = delete;
};

// The automation object of the shell that draws the desktop, reached through
// its view of the desktop folder, so that it runs in that shell's process.
bool FindDesktopShell(ComPointer<IShellDispatch2>& shell)
{
    ComPointer<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.Out())))
        return false;
    Argument none;
    long window = 0;
    ComPointer<IDispatch> desktop;
    if (windows->FindWindowSW(&none.Value, &none.Value, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              reinterpret_cast<IDispatch**>(desktop.Out())) != S_OK ||
        desktop.Get() == nullptr)
        return false;
    ComPointer<IServiceProvider> services;
    ComPointer<IShellBrowser> browser;
    ComPointer<IShellView> view;
    ComPointer<IDispatch> background;
    ComPointer<IShellFolderViewDual> folderView;
    ComPointer<IDispatch> application;
    return SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, services.Out())) &&
           SUCCEEDED(
               services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out())) &&
           SUCCEEDED(browser->QueryActiveShellView(reinterpret_cast<IShellView**>(view.Out()))) &&
           view.Get() != nullptr &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out())) &&
           background.Get() != nullptr &&
           SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, folderView.Out())) &&
           SUCCEEDED(
               folderView->get_Application(reinterpret_cast<IDispatch**>(application.Out()))) &&
           application.Get() != nullptr &&
           SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, shell.Out()));
}

} // namespace

bool OpenThroughDesktopShell(const wchar_t* target)
{
    if (target == nullptr || *target == 0)
        return false;
    // Each successful start, S_FALSE included, is balanced; a thread already
    // in another apartment keeps it.
    const bool started = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    bool handed = false;
    {
        ComPointer<IShellDispatch2> shell;
        BSTR file = SysAllocString(target);
        if (file != nullptr && FindDesktopShell(shell))
        {
            // The window it opens may come to the front.
            DWORD process = 0;
            if (GetWindowThreadProcessId(GetShellWindow(), &process) != 0)
                AllowSetForegroundWindow(process);
            Argument none, verb(L"open"), show(long(SW_SHOWNORMAL));
            handed = verb.Value.vt == VT_BSTR &&
                     SUCCEEDED(
                         shell->ShellExecute(file, none.Value, none.Value, verb.Value, show.Value));
        }
        SysFreeString(file);
    }
    if (started)
        CoUninitialize();
    return handed;
}

bool OpenForUser(const wchar_t* target)
{
    if (RunsElevated())
        return OpenThroughDesktopShell(target);
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", target, nullptr, L"", SW_SHOWNORMAL)) > 32;
}
