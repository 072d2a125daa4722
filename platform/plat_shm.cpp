// Named shared memory through shm_open and mmap.
#include "platform/plat_shm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

struct PLAT_SHARED_BLOCK {
    void* pData;
    size_t nSize;
    int fd;
    char szName[256];
};

void PlatSharedBlockSystemName(const char* pszName, char* pszOut, size_t cap)
{
    if (!pszOut || cap == 0) return;
    const char* pszSuffix = std::getenv("KOLVEX_SHM_SUFFIX");
    std::snprintf(pszOut, cap, "/%s%s", pszName ? pszName : "", pszSuffix ? pszSuffix : "");
}

PLAT_SHARED_BLOCK* PlatCreateSharedBlock(const char* pszName, size_t nSize)
{
    if (!pszName || !*pszName || nSize == 0) return nullptr;
    PLAT_SHARED_BLOCK* pBlock = static_cast<PLAT_SHARED_BLOCK*>(std::calloc(1, sizeof(PLAT_SHARED_BLOCK)));
    if (!pBlock) return nullptr;
    PlatSharedBlockSystemName(pszName, pBlock->szName, sizeof pBlock->szName);
    // A block of this name that an ended run left behind would hand over its old bytes.
    shm_unlink(pBlock->szName);
    pBlock->fd = shm_open(pBlock->szName, O_CREAT | O_EXCL | O_RDWR, 0600);
    if (pBlock->fd < 0) {
        std::free(pBlock);
        return nullptr;
    }
    if (ftruncate(pBlock->fd, static_cast<off_t>(nSize)) != 0) {
        close(pBlock->fd);
        shm_unlink(pBlock->szName);
        std::free(pBlock);
        return nullptr;
    }
    void* p = mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_SHARED, pBlock->fd, 0);
    if (p == MAP_FAILED) {
        close(pBlock->fd);
        shm_unlink(pBlock->szName);
        std::free(pBlock);
        return nullptr;
    }
    std::memset(p, 0, nSize);
    pBlock->pData = p;
    pBlock->nSize = nSize;
    return pBlock;
}

void* PlatSharedBlockData(PLAT_SHARED_BLOCK* pBlock)
{
    return pBlock ? pBlock->pData : nullptr;
}

size_t PlatSharedBlockSize(const PLAT_SHARED_BLOCK* pBlock)
{
    return pBlock ? pBlock->nSize : 0;
}

void PlatCloseSharedBlock(PLAT_SHARED_BLOCK* pBlock)
{
    if (!pBlock) return;
    munmap(pBlock->pData, pBlock->nSize);
    close(pBlock->fd);
    shm_unlink(pBlock->szName);
    std::free(pBlock);
}
