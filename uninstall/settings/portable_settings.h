#pragma once
// The portable settings file "Velnox.ini" and its in-memory image. While the
// file is loaded, the settings store keeps the archiver's own settings in the
// image instead of the registry; the image is written back at process exit.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "settings/portable_entries.h"

const size_t SettingsPathCapacity = 2048;

struct PortableSettings
{
    bool Attempted;
    bool Loaded;
    wchar_t Path[SettingsPathCapacity];
    PortableEntry* First;
    bool AppData;
    bool Integration;
    bool SaveSettings;
    // The file was read to its end; one cut short (out of memory, a failed
    // read) is never written back, or the rest of it would be lost.
    bool Whole;
    // The removal of the installation has begun: nothing is written back.
    bool Removing;
    // The file lies in the user's own folder, where any program of the user
    // writes: its switches do not bind an elevated removal.
    bool InUserFolder;
    // The removal acts on the registry whatever the Integration switch says.
    bool IntegrationForced;
};

// The one image of the process.
extern PortableSettings Portable;

// Looks for the file and loads it; only the first call of the process does
// anything (until FreePortableSettings).
void LoadPortableSettings();
// The place of the settings file for a program at programPath: beside it, or
// else in the per-user folder when that exists. False when neither holds one.
bool LocatePortableSettings(const wchar_t* programPath, wchar_t (&path)[SettingsPathCapacity]);
// Reads and parses one settings file into the image and marks it loaded.
// False when the file cannot be opened.
bool LoadPortableSettingsFile(const wchar_t* path);
// Writes the image back; false when nothing was written and the old file is
// left as it was.
bool SavePortableSettings();
void FreePortableSettings();
// Reads the settings file again and tells whether it holds every entry of
// the image whose name begins with prefix, with the same text: what the file
// on the disk says, not what this process meant to write.
bool PortableFileHolds(const wchar_t* prefix);
// Lets an elevated removal clean the registry although a settings file
// switched integration off: one in the user's own folder, or any when
// registeredHere (the machine's own records say a setup of this
// installation integrated it). False when the switch, if any, holds.
bool OverrideUserIntegrationSwitch(bool registeredHere);
// Called when the removal of the installation begins: a settings file beside
// the program may be one of the files to go, and is no longer written back;
// the one in the user's own folder still is, without the settings removed.
void StopPortableWriteBack();

// The full name of this program's module.
bool GetProgramPath(wchar_t (&path)[SettingsPathCapacity]);

// The store's side of the image.
// True when (root, subkey) is served by the image; loads the file on first use.
bool IsFileRouted(HKEY root, const wchar_t* subkey);
// False when the name does not fit: cut, it would be another entry's.
[[nodiscard]] bool ComposeEntryName(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                                    wchar_t (&name)[EntryNameCapacity]);
const wchar_t* FindPortableValue(const wchar_t* name);
const wchar_t* FindPortableValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName);
// A number as the file keeps it: its text read as a number and cut to 32
// bits; defaultValue only when the value is absent.
uint32_t GetPortableInt(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                        uint32_t defaultValue);
// False, and nothing stored, when the entry's name does not fit.
[[nodiscard]] bool SetPortableValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName,
                                    const wchar_t* value, PortableKind kind);
// With the empty value name, removes the key's values and all its subkeys'.
void RemovePortableValues(HKEY root, const wchar_t* subkey, const wchar_t* valueName);
bool AnyPortableValueUnder(HKEY root, const wchar_t* subkey);
