#pragma once
// Symbolic links made on the Linux side of the prefix, which Wine cannot make
// itself: Wine shows a folder link with the reparse attribute but a file link
// as a plain file.
#include <windows.h>

#include <string>
#include <vector>

// The Linux name of a Windows path, from Wine's own export; empty when none.
std::string UnixName(const std::wstring& path);

// Links removed again at the end (or by RemoveAll), before the scratch
// folders that hold them, whose removal would follow them.
class LinuxLinks
{
public:
    LinuxLinks() = default;
    ~LinuxLinks() { RemoveAll(); }
    LinuxLinks(const LinuxLinks&) = delete;
    LinuxLinks& operator=(const LinuxLinks&) = delete;
    // seen: a Windows name that exists exactly while the link does; inside:
    // the link lies in a scratch folder.
    bool Make(const std::string& target, const std::string& link, const std::wstring& seen,
              bool inside = true);
    void RemoveAll();

private:
    struct Link
    {
        std::string Unix;
        std::wstring Seen;
        bool Inside;
    };
    std::vector<Link> made_;
};
