#pragma once
// A list of installed files read as the program reads it, without the file
// calls of its removal.
#include <windows.h>

#include <functional>
#include <string>

// Every line of the list through the uninstall procedure's own reader,
// checked and joined to folder (which ends with a backslash) as its passes
// do; each gets the full names and says whether it removed one. Stops after
// `passes` passes or, with 0, after a pass that removed nothing, as the
// program's passes do. Returns how many names were handed over.
size_t ForEachListedName(const std::wstring& listPath, const std::wstring& folder, int passes,
                         const std::function<bool(const wchar_t*)>& each);
