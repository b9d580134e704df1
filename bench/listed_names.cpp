// The benchmarks read a list with exactly the program's code.
#include "listed_names.h"

#include <share.h>

#include "removal/list_entries.h"
#include "removal/list_removal.h"

size_t ForEachListedName(const std::wstring& listPath, const std::wstring& folder, int passes,
                         const std::function<bool(const wchar_t*)>& each)
{
    FILE* list = _wfsopen(listPath.c_str(), L"rb", _SH_DENYNO);
    if (list == nullptr)
        return 0;
    size_t handed = 0;
    {
        ListEntries entries(list);
        for (int pass = 0; passes == 0 || pass < passes; pass++)
        {
            int removed = 0;
            wchar_t entry[kEntryChars];
            while (entries.Next(entry))
            {
                wchar_t fullName[kEntryChars];
                if (!IsSafeListEntry(entry) || !JoinEntry(folder.c_str(), entry, fullName))
                    continue;
                handed++;
                removed += each(fullName) ? 1 : 0;
            }
            if ((passes == 0 && removed == 0) || !entries.Rewind())
                break;
        }
    }
    fclose(list);
    return handed;
}
