#pragma once
// Registry trees read whole (in the 64-bit view, so that both views' keys
// show under their real paths), the writes that turn one reading into
// another, and the undoing of them. The setup benchmark uses the writes of a
// real setup run as its floor and undoes them between runs.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct RegValue
{
    DWORD Type = 0;
    std::vector<BYTE> Data;
    bool operator==(const RegValue& other) const
    {
        return Type == other.Type && Data == other.Data;
    }
};

struct RegKeyContents
{
    std::map<std::wstring, RegValue> Values;
};

// Full key path ("HKLM\Software\...") to its values. Link keys are kept as
// they are (their one link value), never followed.
typedef std::map<std::wstring, RegKeyContents> RegSnapshot;

// Reads the trees below HKLM\Software and HKCU\Software.
RegSnapshot TakeSoftwareSnapshot();

struct RegWrite
{
    enum Kind
    {
        CreateKey, // a new key that gets no values of its own
        SetValue,
        DeleteValue,
        DeleteKey, // a key that was there before, with all below it
    } What;
    std::wstring Key; // full path
    std::wstring Name;
    RegValue Value;
};

// What turns before into after, parents before children.
std::vector<RegWrite> DeriveWrites(const RegSnapshot& before, const RegSnapshot& after);
// Puts back every key and value that the writes from before to after touched.
void UndoWrites(const RegSnapshot& before, const RegSnapshot& after);

// One write a line, tab-separated, UTF-16: what the replay program reads.
bool SaveWrites(const std::vector<RegWrite>& writes, const std::wstring& path);
bool LoadWrites(const std::wstring& path, std::vector<RegWrite>& writes);
// Each write with a key of its own opened and closed around it.
bool ReplayWrite(const RegWrite& write);
// A readable line for the list beside the benchmark's output.
std::wstring DescribeWrite(const RegWrite& write);

// A file of UTF-16 text without a mark, as the lists of writes and steps are kept.
bool SaveWideText(const std::wstring& path, const std::wstring& text);
bool LoadWideText(const std::wstring& path, std::wstring& text);
