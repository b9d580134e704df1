#pragma once
// The dialogs of a setup run, answered from here as a user would.
#include <windows.h>

#include <gtest/gtest.h>

#include "resources/resource.h"
#include "support/program_under_test.h"

// From the settings dialog: the context menu items dialog, "Test" turned on
// and masks typed there, OK in both; done gets the completion dialog.
inline void AcceptWithContextItems(ChildProcess& child, HWND settings, const wchar_t* masks,
                                   HWND& done)
{
    PostMessageW(settings, WM_COMMAND, IDC_CONTEXT_ITEMS, 0);
    HWND items = child.FindDialog(30000, settings);
    ASSERT_NE(nullptr, items);
    ASSERT_NE(nullptr, GetDlgItem(items, IDC_ALWAYS_ARC));
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
    EXPECT_EQ(program.Message(MSG_WOW64_CAPTION), WindowText(notice));
    PostMessageW(notice, WM_COMMAND, IDOK, 0);
}
