// Named mutexes over flock'ed lock files and activation over an abstract unix socket.
#include "platform/plat_instance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string>
#include <sys/file.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

struct PLAT_MUTEX {
    int fd;               // the lock file while owned, -1 otherwise
    std::string strPath;  // the lock file's path, removed when the owner releases it
};

static std::mutex g_mxInstanceDir;
static std::string g_strInstanceDirForTest;
// Why the last PlatCreateNamedMutex of this thread returned NULL.
static thread_local std::string t_strMutexFailure;

// The listener of the running copy (window thread only).
static int g_fdListen = -1;
static void (*g_pfnActivate)(void* pUser) = nullptr;
static void* g_pActivateUser = nullptr;

uint32_t PlatMurmurHash2(const void* pKey, size_t len, uint32_t seed)
{
    const uint32_t m = 0x5bd1e995u;
    const int r = 24;
    const unsigned char* p = static_cast<const unsigned char*>(pKey);
    uint32_t h = seed ^ static_cast<uint32_t>(len);
    while (len >= 4) {
        uint32_t k = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
        p += 4;
        len -= 4;
    }
    switch (len) {
    case 3: h ^= (uint32_t)p[2] << 16; [[fallthrough]];
    case 2: h ^= (uint32_t)p[1] << 8; [[fallthrough]];
    case 1:
        h ^= (uint32_t)p[0];
        h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

static std::string FormatNameHash(const char* pszName)
{
    char szHex[16];
    snprintf(szHex, sizeof szHex, "%08x", (unsigned)PlatMurmurHash2(pszName, strlen(pszName), 0));
    return szHex;
}

static std::string GetInstanceDir(void)
{
    {
        std::lock_guard<std::mutex> lock(g_mxInstanceDir);
        if (!g_strInstanceDirForTest.empty()) return g_strInstanceDirForTest;
    }
    const char* pszRuntime = getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (pszRuntime && pszRuntime[0] == '/' && stat(pszRuntime, &st) == 0 && S_ISDIR(st.st_mode))
        return pszRuntime;
    return "/tmp";
}

const char* PlatGetNamedMutexFailure(void)
{
    return t_strMutexFailure.c_str();
}

void PlatSetInstanceDirForTest(const char* pszPath)
{
    std::lock_guard<std::mutex> lock(g_mxInstanceDir);
    g_strInstanceDirForTest = pszPath ? pszPath : "";
}

// Opens the lock file without following a symbolic link (the folder may be /tmp, shared by all).
// A file that another user created may refuse O_CREAT in a sticky folder, so it is opened again
// without it; read access is enough for flock.
static int OpenLockFile(const std::string& strPath)
{
    const int nFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
    int fd;
    do fd = open(strPath.c_str(), nFlags | O_CREAT, 0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == EACCES) {
        do fd = open(strPath.c_str(), nFlags);
        while (fd < 0 && errno == EINTR);
        // No such file to fall back on: the folder refused to make one, and that is the reason.
        if (fd < 0 && errno == ENOENT) errno = EACCES;
    }
    return fd;
}

// 1 when the open lock file is still the one its path names: an owner that released it has removed
// it, and a lock on a removed file guards nothing.
static int IsLinkedLockFile(int fd, const std::string& strPath)
{
    struct stat stOpen, stPath;
    return fstat(fd, &stOpen) == 0 && stat(strPath.c_str(), &stPath) == 0 && stOpen.st_dev == stPath.st_dev &&
           stOpen.st_ino == stPath.st_ino;
}

PLAT_MUTEX* PlatCreateNamedMutex(const char* pszName, int* pbAlreadyExists)
{
    if (pbAlreadyExists) *pbAlreadyExists = 0;
    if (!pszName) return nullptr;
    std::string strPath = GetInstanceDir() + "/kolvex-" + FormatNameHash(pszName) + ".lock";
    // A file left by a copy that crashed is taken over (its lock died with it). The owner removes
    // the file when it releases it, so the file locked here may have been removed in the meantime:
    // then it is opened afresh.
    // A lock that cannot be opened or taken says nothing about another copy: too few descriptors,
    // a folder without write access or a file system without locks are failures of their own.
    auto fail = [&](const char* pszStep, int nError) -> PLAT_MUTEX* {
        t_strMutexFailure = "the lock file " + strPath + " cannot be " + pszStep + ": " + strerror(nError);
        errno = nError;
        return nullptr;
    };
    int fd = -1;
    int bExists = 0;
    for (int nTry = 0; nTry < 100; ++nTry) {
        fd = OpenLockFile(strPath);
        if (fd < 0) return fail("opened", errno);
        int nResult;
        do nResult = flock(fd, LOCK_EX | LOCK_NB);
        while (nResult < 0 && errno == EINTR);
        if (nResult < 0) {
            const int nError = errno;
            close(fd);
            fd = -1;
            if (nError != EWOULDBLOCK) return fail("locked", nError);
            bExists = 1;
            break;
        }
        if (IsLinkedLockFile(fd, strPath)) break;
        close(fd);
        fd = -1;
    }
    if (fd < 0 && !bExists) return fail("kept (it keeps being replaced)", EAGAIN);
    PLAT_MUTEX* pMutex = new (std::nothrow) PLAT_MUTEX{fd, strPath};
    if (!pMutex) {
        if (fd >= 0) close(fd);
        return fail("held", ENOMEM);
    }
    if (pbAlreadyExists) *pbAlreadyExists = bExists;
    return pMutex;
}

void PlatReleaseNamedMutex(PLAT_MUTEX* pMutex)
{
    if (!pMutex) return;
    if (pMutex->fd >= 0) {
        // Removed while still locked, so nobody can take a lock on the file once it is gone from
        // the folder unseen (see IsLinkedLockFile). A file of another user in a sticky folder stays.
        unlink(pMutex->strPath.c_str());
        flock(pMutex->fd, LOCK_UN);
        close(pMutex->fd);
    }
    delete pMutex;
}

// The abstract socket address of a name: a leading NUL, then "kolvex-act-<hash>" (no terminator).
static socklen_t MakeActivationAddress(const char* pszName, struct sockaddr_un* pAddr)
{
    memset(pAddr, 0, sizeof *pAddr);
    pAddr->sun_family = AF_UNIX;
    std::string strName = "kolvex-act-" + FormatNameHash(pszName);
    memcpy(pAddr->sun_path + 1, strName.data(), strName.size());
    return (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + strName.size());
}

// 1 when the other end of the socket runs as the same user. Abstract sockets have no permissions,
// so any user could connect or listen under the name.
static int IsPeerSameUser(int fd)
{
    struct ucred cred;
    socklen_t nLen = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &nLen) != 0) return 0;
    return cred.uid == getuid();
}

int PlatListenForActivation(const char* pszName, void (*pfnActivate)(void* pUser), void* pUser)
{
    PlatStopListening();
    if (!pszName) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct sockaddr_un addr;
    socklen_t nLen = MakeActivationAddress(pszName, &addr);
    if (bind(fd, (struct sockaddr*)&addr, nLen) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    g_fdListen = fd;
    g_pfnActivate = pfnActivate;
    g_pActivateUser = pUser;
    return 0;
}

void PlatPollActivation(void)
{
    if (g_fdListen < 0) return;
    // Asked first whether anything waits: an accept on an empty queue still makes and drops a
    // socket in the kernel, which every frame would pay.
    struct pollfd pfd{g_fdListen, POLLIN, 0};
    if (poll(&pfd, 1, 0) <= 0 || !(pfd.revents & (POLLIN | POLLERR | POLLHUP))) return;
    for (;;) {
        int fd = accept4(g_fdListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;   // EAGAIN: nothing pending; anything else: try again next turn
        }
        // Each connection is one request; what it sent carries nothing more.
        int bSameUser = IsPeerSameUser(fd);
        close(fd);
        if (bSameUser && g_pfnActivate) g_pfnActivate(g_pActivateUser);
        if (g_fdListen < 0) return;   // the callback stopped listening
    }
}

void PlatStopListening(void)
{
    if (g_fdListen >= 0) close(g_fdListen);
    g_fdListen = -1;
    g_pfnActivate = nullptr;
    g_pActivateUser = nullptr;
}

int PlatRequestActivation(const char* pszName)
{
    if (!pszName) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct sockaddr_un addr;
    socklen_t nLen = MakeActivationAddress(pszName, &addr);
    // A unix socket connects at once or refuses; EAGAIN means the running copy's queue is full,
    // so it is tried a few times over about half a second.
    int nResult = -1;
    for (int nTry = 0; nTry < 50; nTry++) {
        if (connect(fd, (struct sockaddr*)&addr, nLen) == 0) {
            nResult = 0;
            break;
        }
        if (errno != EAGAIN && errno != EINTR) break;
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    if (nResult == 0 && !IsPeerSameUser(fd)) nResult = -1;
    if (nResult == 0) {
        const char chRequest = 'A';
        ssize_t n;
        do n = send(fd, &chRequest, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        // The connection itself is the request; a failed send after it changes nothing.
    }
    close(fd);
    return nResult;
}
