#pragma once
// Registration of the Explorer extension libraries "vnxext.dll" (32-bit
// Explorer) and "vnxext64.dll" (64-bit Explorer, only under WOW64): their COM
// class keys, the shell handler keys and the approved list. The libraries are
// looked for beside the program.

struct IntegrationOptions;

extern const wchar_t kShellExtClsid32[]; // "{6F2C1A40-5A17-...}"
extern const wchar_t kShellExtClsid64[]; // "{6F2C1A40-3D7B-...}"

// Registers (or unregisters) one library. programPath is the full path of this
// program, whose folder holds the library; null means the running module.
void RegisterShellExtension(bool registerIt, const wchar_t* libraryName, const wchar_t* clsid,
                            const wchar_t* handlerName, bool is64Bit,
                            const wchar_t* programPath = nullptr);

// Both libraries by the record's ShellExt flag, then the application
// capabilities; with remove also the machine-wide settings key. The caller
// tells the shell (NotifyAssociationChange) once its changes are all made.
void UpdateShellExtensions(bool remove, const IntegrationOptions& options,
                           const wchar_t* programPath = nullptr);
