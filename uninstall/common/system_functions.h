#pragma once
// Functions of the system libraries that every process has loaded, looked up
// by name because older systems lack them: null where the system has none.
// A library is only found among those loaded, never loaded by its name, so
// no file planted beside the program is ever asked.
#include <windows.h>

template <typename Function> Function SystemFunction(const wchar_t* library, const char* name)
{
    const HMODULE module = GetModuleHandleW(library);
    return module != nullptr
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

template <typename Function> Function Kernel32Function(const char* name)
{
    return SystemFunction<Function>(L"kernel32.dll", name);
}

template <typename Function> Function NtdllFunction(const char* name)
{
    return SystemFunction<Function>(L"ntdll.dll", name);
}
