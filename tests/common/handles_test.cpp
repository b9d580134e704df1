#include "common/handles.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace
{

// A handle passed from holder to holder stays open while one holds it and
// is closed once, by the last: a move that copied would close it early.
template <typename Owner, typename Open, typename IsOpen>
void ExpectOneOwnerAtATime(const char* kind, Open open, IsOpen isOpen, bool askAfterClose)
{
    SCOPED_TRACE(kind);
    const typename Owner::Type raw = open();
    {
        Owner last;
        {
            Owner first(raw);
            ASSERT_TRUE(first.Valid());
            Owner second(std::move(first));
            EXPECT_FALSE(first.Valid());
            last = std::move(second);
            EXPECT_FALSE(second.Valid());
        }
        EXPECT_EQ(raw, last.Get());
        EXPECT_TRUE(isOpen(raw));
    }
    if (askAfterClose)
    {
        EXPECT_FALSE(isOpen(raw));
    }
}

} // namespace

TEST(Holders, MovedHandleIsClosedOnceByItsLastOwner)
{
    ExpectOneOwnerAtATime<KernelHandle>(
        "kernel handle", [] { return CreateEventW(nullptr, TRUE, FALSE, nullptr); },
        [](HANDLE event) { return SetEvent(event) != FALSE; }, true);
    ExpectOneOwnerAtATime<RegistryKey>(
        "registry key",
        []
        {
            HKEY key = nullptr;
            RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key);
            return key;
        },
        [](HKEY key)
        {
            DWORD subkeys = 0;
            return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        },
        true);
    // A closed search is freed memory: it is only asked while open.
    WIN32_FIND_DATAW found;
    ExpectOneOwnerAtATime<FindHandle>(
        "find handle", [&found] { return FindFirstFileW(L"C:\\windows\\*", &found); },
        [&found](HANDLE search) { return FindNextFileW(search, &found) != FALSE; }, false);
}

TEST(Holders, PredefinedRootsAreNeverTheirsToClose)
{
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
        EXPECT_FALSE(RegistryKey(root).Valid()) << root;
    HKEY opened = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &opened));
    EXPECT_TRUE(RegistryKey(opened).Valid());
}
