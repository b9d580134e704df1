#pragma once
// Deletion of a registry key with what lies below it, never through a
// registry link: each key is opened from its parent as it is, and a link in
// the tree is deleted as a link, not entered. A subkey that cannot be
// deleted is passed over and its siblings still go; below the depth the
// registry allows, keys are passed over. The caller forgets the held keys
// (held_keys.h) that stood in the tree.
#include <windows.h>

// The access a key needs to be enumerated and deleted through its handle.
const REGSAM kDeleteAccess = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

// One pass over a whole tree: the subkeys of the key at path, then the key.
// Returns how many keys went; keyGone tells that the key itself went, or
// that it could not be opened.
unsigned DeleteTreePass(HKEY root, const wchar_t* path, bool& keyGone);
