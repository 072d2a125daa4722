// The registry in place of RegOpenKeyEx, RegQueryValueEx, RegDeleteValue and RegDeleteKey: a text
// store in REGEDIT4 syntax (cp932) in $XDG_CONFIG_HOME/kolvex/registry.reg (else
// ~/.config/kolvex/registry.reg; KOLVEX_REGISTRY or the test setter names another file).
//
// Roots are the names "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE" and the other HKEY_* names; keys
// and value names compare without regard to ASCII case, as the registry does. Every change rewrites
// the whole store through a temporary file renamed over it, in a form that reads back the same (a
// text that one quoted line cannot hold is written as hex(1)). A damaged store is read without the
// lines that are not valid (the values after them still count), and the damaged file is kept beside
// it as "registry.reg.damaged" (".damaged.1" .. ".9" for further damaged stores) before any rewrite;
// when that copy cannot be written the damaged store is never rewritten. The store and its copies
// are written by the platform's whole-file writer: the old content or the new, never a part.
#pragma once
#include <cstddef>
#include <string>

// Value types (the registry's numbers).
enum { PLAT_REG_SZ = 1, PLAT_REG_EXPAND_SZ = 2, PLAT_REG_BINARY = 3, PLAT_REG_DWORD = 4, PLAT_REG_MULTI_SZ = 7 };

// 1 when the key exists (it holds values, or a key below it does), else 0.
int PlatRegKeyExists(const char* pszRoot, const char* pszSubkey);
// Reads a value (NULL or "" names the key's default value) as RegQueryValueEx gives it: a text
// with its terminator, a DWORD as 4 little-endian bytes, binary data as stored. *pnSize gets the
// size of the data, *pnType its type (either may be NULL). 0; -1 when the key or value does not
// exist; -2 when the data is larger than cap (nothing copied, *pnSize still set).
int PlatRegQueryValue(const char* pszRoot, const char* pszSubkey, const char* pszName, void* pBuf, size_t cap,
                      size_t* pnSize, int* pnType);
// Stores a value, creating the key. 0; -1 when the key path is empty, starts with '-' or holds a
// line break, or the value name holds a line break or a NUL (the store's lines could not give them
// back); -2 with errno when the store cannot be written (it is then as it was). Every name and text
// the store holds is written back byte for byte by every rewrite.
int PlatRegSetValue(const char* pszRoot, const char* pszSubkey, const char* pszName, int nType, const void* pData,
                    size_t n);
// 0; -1 when the key or value does not exist; -2 with errno when the store cannot be written.
int PlatRegDeleteValue(const char* pszRoot, const char* pszSubkey, const char* pszName);
// Deletes a key with its values. 0; -1 when it does not exist or has keys below it; -2 with errno
// when the store cannot be written.
int PlatRegDeleteKey(const char* pszRoot, const char* pszSubkey);

// The store's native path; tests name another (NULL returns to the default).
std::string PlatGetRegistryPath(void);
void PlatSetRegistryPathForTest(const char* pszNative);

// For tests and the fuzz target: the text a rewrite makes of a store text (read, then written in
// the store's own form), and every key, value name, type and data a store text holds, one per line
// in hex, in the order read.
std::string PlatRegRewriteForTest(const std::string& strText);
std::string PlatRegListForTest(const std::string& strText);
