#pragma once
// Files and folders made, read and removed with plain Windows calls rather
// than the code under test.
#include <windows.h>

#include <string>
#include <vector>

bool Exists(const std::wstring& path);
// Makes or replaces the file with exactly these bytes.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// The whole file; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
// A folder with all it holds, read-only entries too; a "\\?\" name goes
// below MAX_PATH's reach.
void RemoveTree(const std::wstring& folder);
// The names of the files (not folders) in a folder, sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
// The prefix's temporary folder, with its end slash.
std::wstring TempFolder();
// "Z:\..." for a Linux path, as Wine sees it.
std::wstring FromLinuxPath(const char* path);
