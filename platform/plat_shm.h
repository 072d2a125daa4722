// Named shared memory blocks, in place of paging-file mappings: another process opens a block by
// the same name. Every name gets the suffix from the environment variable KOLVEX_SHM_SUFFIX (empty
// when unset), so that test runs in parallel never meet each other's blocks.
#pragma once
#include <cstddef>

struct PLAT_SHARED_BLOCK;

// Creates the block pszName (letters only, no '/') of nSize bytes, zero-filled, and maps it for
// reading and writing. A stale block of that name left by an ended run is removed first. NULL on
// failure.
PLAT_SHARED_BLOCK* PlatCreateSharedBlock(const char* pszName, size_t nSize);
// The mapped bytes and their count.
void* PlatSharedBlockData(PLAT_SHARED_BLOCK* pBlock);
size_t PlatSharedBlockSize(const PLAT_SHARED_BLOCK* pBlock);
// Unmaps and closes the block and removes its name. NULL is ignored.
void PlatCloseSharedBlock(PLAT_SHARED_BLOCK* pBlock);
// The system's name of a block: "/" + name + suffix.
void PlatSharedBlockSystemName(const char* pszName, char* pszOut, size_t cap);
