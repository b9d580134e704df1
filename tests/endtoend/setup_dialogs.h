#pragma once
// The dialogs of a setup run, answered from here as a user would.
#include <windows.h>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "support/program_under_test.h"

// The control of the dialog's process that has the keyboard focus.
inline HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// A dialog's first focus is its default button, so that Enter does what the
// dialog is for.
inline void ExpectFocusOnDefault(HWND dialog, const char* name)
{
    HWND button = GetDlgItem(dialog, IDOK);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(dialog) == button; }, 10000))
        << name << ": the first focus is not on its default button";
}

// A key as the user presses it on the control that has the focus.
inline void PressKey(HWND dialog, WPARAM key)
{
    WaitUntil([&] { return IsChild(dialog, FocusOf(dialog)) != FALSE; }, 10000);
    HWND focus = FocusOf(dialog);
    PostMessageW(IsChild(dialog, focus) ? focus : dialog, WM_KEYDOWN, key, 0);
}

// From the settings dialog: the context menu items dialog, "Test" turned on
// and masks typed there, OK in both; done gets the completion dialog.
inline void AcceptWithContextItems(ChildProcess& child, HWND settings, const wchar_t* masks,
                                   HWND& done)
{
    PostMessageW(settings, WM_COMMAND, IDC_CONTEXT_ITEMS, 0);
    HWND items = child.FindDialog(30000, settings);
    ASSERT_NE(nullptr, items);
    ASSERT_NE(nullptr, GetDlgItem(items, IDC_ALWAYS_ARC));
    ExpectFocusOnDefault(items, "SETUPCONTEXTITEMS");
    SendDlgItemMessageW(items, IDC_ITEM_TEST, BM_CLICK, 0, 0);
    SetDlgItemTextW(items, IDC_ALWAYS_ARC, masks);
    PostMessageW(items, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(items); }, 10000);

    PostMessageW(settings, WM_COMMAND, IDOK, 0);
    done = child.FindDialog(30000, settings);
    ASSERT_NE(nullptr, done);
    ASSERT_NE(nullptr, GetDlgItem(done, IDC_DONE_HEADING));
}

// The 64-bit notice after the completion dialog, on 64-bit Windows only.
inline void AnswerNotice(const ProgramCopy& program, ChildProcess& child, HWND done)
{
    if (!IsWin64Prefix())
        return;
    HWND notice = child.FindDialog(30000, done);
    ASSERT_NE(nullptr, notice) << "no 64-bit notice";
    EXPECT_EQ(program.Message(MSG_SETUP_CAPTION), WindowText(notice));
    // The message box's text; true whatever was chosen.
    EXPECT_EQ(program.Message(MSG_WOW64_INFO), WindowText(GetDlgItem(notice, 0xFFFF)));
    PostMessageW(notice, WM_COMMAND, IDOK, 0);
}
