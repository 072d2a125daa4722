// Files and folders. Engine paths (cp932, '\' or '/') become native UTF-8 paths here: the whole
// text is converted first (a cp932 trail byte can be 0x5C, the code of '\'), then '\' turns into
// '/'. The exact path is tried first; otherwise each missing component is looked up in its folder
// without regard to ASCII letter case, the first match in name order winning.
#include "platform/plat_file.h"
#include "platform/plat_internal.h"
#include "platform/plat_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <ctime>
#include <dirent.h>
#include <map>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/time.h>
#include <unistd.h>

// ---- path resolution ------------------------------------------------------------------------

static std::string JoinPath(const std::string& strDir, const std::string& strName)
{
    if (strDir.empty()) return strName;
    if (strDir.back() == '/') return strDir + strName;
    return strDir + "/" + strName;
}

static std::string FoldCaseASCII(const char* psz)
{
    std::string s = psz;
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
    return s;
}

// Folder listings for the case-insensitive look-up, keyed by device and inode and valid while the
// folder's modification time is unchanged. A listing taken within two seconds of the folder's last
// change is not kept: a change in the same tick of the file system's clock would leave the time
// as it was.
struct DIR_CACHE_ENTRY {
    struct timespec tsModified;
    std::map<std::string, std::string> mapNames;   // folded name -> first real name in byte order
};
static std::mutex g_mxDirCache;
static std::map<std::pair<dev_t, ino_t>, DIR_CACHE_ENTRY> g_mapDirCache;
enum { DIR_CACHE_MAX = 256 };

static int ListFolderNames(const std::string& strDir, std::map<std::string, std::string>* pNames)
{
    DIR* pDir = opendir(strDir.empty() ? "." : strDir.c_str());
    if (!pDir) return -1;
    while (struct dirent* pEnt = readdir(pDir)) {
        const char* pszName = pEnt->d_name;
        if (!strcmp(pszName, ".") || !strcmp(pszName, "..")) continue;
        auto ins = pNames->emplace(FoldCaseASCII(pszName), pszName);
        if (!ins.second && strcmp(pszName, ins.first->second.c_str()) < 0) ins.first->second = pszName;
    }
    closedir(pDir);
    return 0;
}

// The entry of the folder that equals strName without regard to ASCII case; the smallest such name
// by bytes when there are several. 1 when found.
static int FindNameNoCase(const std::string& strDir, const std::string& strName, std::string* pMatch)
{
    struct stat st;
    if (stat(strDir.empty() ? "." : strDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    std::string strFolded = FoldCaseASCII(strName.c_str());
    std::pair<dev_t, ino_t> key(st.st_dev, st.st_ino);
    {
        std::lock_guard<std::mutex> lock(g_mxDirCache);
        auto it = g_mapDirCache.find(key);
        if (it != g_mapDirCache.end()) {
            if (it->second.tsModified.tv_sec == st.st_mtim.tv_sec && it->second.tsModified.tv_nsec == st.st_mtim.tv_nsec) {
                auto itName = it->second.mapNames.find(strFolded);
                if (itName == it->second.mapNames.end()) return 0;
                *pMatch = itName->second;
                return 1;
            }
            g_mapDirCache.erase(it);
        }
    }
    std::map<std::string, std::string> mapNames;
    if (ListFolderNames(strDir, &mapNames) != 0) return 0;
    auto itName = mapNames.find(strFolded);
    int bFound = itName != mapNames.end();
    if (bFound) *pMatch = itName->second;

    struct timespec tsNow;
    clock_gettime(CLOCK_REALTIME, &tsNow);
    if (tsNow.tv_sec - st.st_mtim.tv_sec >= 2) {
        std::lock_guard<std::mutex> lock(g_mxDirCache);
        if (g_mapDirCache.size() >= DIR_CACHE_MAX) g_mapDirCache.clear();
        DIR_CACHE_ENTRY& ent = g_mapDirCache[key];
        ent.tsModified = st.st_mtim;
        ent.mapNames = std::move(mapNames);
    }
    return bFound;
}

static int ResolveNative(const std::string& strPath, std::string* pNative)
{
    pNative->clear();
    if (strPath.empty()) return -1;
    int bWantDir = strPath.size() > 1 && strPath.back() == '/';
    struct stat st;

    std::vector<std::string> aParts;
    size_t pos = 0;
    while (pos < strPath.size()) {
        size_t next = strPath.find('/', pos);
        if (next == std::string::npos) next = strPath.size();
        if (next > pos) aParts.push_back(strPath.substr(pos, next - pos));
        pos = next + 1;
    }
    std::string strCur = strPath[0] == '/' ? "/" : "";

    if (lstat(strPath.c_str(), &st) == 0) {
        // Exists as written; only drop separators that repeat or trail.
        for (const std::string& s : aParts) strCur = JoinPath(strCur, s);
        *pNative = strCur.empty() ? "." : strCur;
        return 0;
    }
    for (size_t i = 0; i < aParts.size(); i++) {
        const std::string& strPart = aParts[i];
        std::string strCand = JoinPath(strCur, strPart);
        std::string strMatch;
        if (strPart == "." || strPart == ".." || lstat(strCand.c_str(), &st) == 0) {
            strCur = strCand;
        } else if (FindNameNoCase(strCur, strPart, &strMatch)) {
            strCur = JoinPath(strCur, strMatch);
        } else {
            for (size_t j = i; j < aParts.size(); j++) strCur = JoinPath(strCur, aParts[j]);
            *pNative = strCur;
            return -1;
        }
    }
    *pNative = strCur.empty() ? "." : strCur;
    if (stat(pNative->c_str(), &st) != 0 && lstat(pNative->c_str(), &st) != 0) return -1;
    if (bWantDir && !S_ISDIR(st.st_mode)) return -1;
    return 0;
}

int PlatResolvePath(const char* pszPath, std::string* pNative)
{
    std::string strUtf8;
    if (!pszPath || PlatConvertStrict(PLAT_CONV_CP932_TO_UTF8, pszPath, strlen(pszPath), &strUtf8) != 0) {
        pNative->clear();
        return -2;
    }
    std::replace(strUtf8.begin(), strUtf8.end(), '\\', '/');
    PlatExpandAliasPath(&strUtf8);
    return ResolveNative(strUtf8, pNative);
}

// The strict cp932 form of a UTF-8 path that converts back to the same text. 0 or -1.
static int ConvertPathToCp932(const std::string& strNative, std::string* pOut)
{
    std::string strBack;
    if (PlatConvertStrict(PLAT_CONV_UTF8_TO_CP932, strNative.data(), strNative.size(), pOut) != 0) return -1;
    // Some characters share one cp932 code; such a name could not be found again.
    if (PlatConvertStrict(PLAT_CONV_CP932_TO_UTF8, pOut->data(), pOut->size(), &strBack) != 0 ||
        strBack != strNative)
        return -1;
    return 0;
}

int PlatNativeToEnginePath(const std::string& strNative, std::string* pOut)
{
    if (ConvertPathToCp932(strNative, pOut) != 0) {
        // Inside a folder the engine knows by its alias, the rest of the path may still convert.
        std::string strAliased;
        if (PlatAliasNativePath(strNative, &strAliased) != 0 || ConvertPathToCp932(strAliased, pOut) != 0) return -1;
    }
    // cp932 trail bytes never take the value of '/', so every '/' byte is a separator.
    std::replace(pOut->begin(), pOut->end(), '/', '\\');
    return 0;
}

// ---- open files -----------------------------------------------------------------------------

enum { LAST_NONE = 0, LAST_READ = 1, LAST_WRITE = 2 };

struct PLAT_FILE {
    FILE* fp;
    int nLastOp;   // the C library needs a seek between a read and a following write, and back
};

static void SwitchDirection(PLAT_FILE* pFile, int nOp)
{
    if (pFile->nLastOp != LAST_NONE && pFile->nLastOp != nOp) fseeko(pFile->fp, 0, SEEK_CUR);
    pFile->nLastOp = nOp;
}

PLAT_FILE* PlatFileOpen(const char* pszPath, int nMode)
{
    static const char* const s_apszMode[] = {nullptr, "rbe", "wbe", "abe", "r+be"};
    if (nMode < PLAT_FILE_READ || nMode > PLAT_FILE_READWRITE) return nullptr;
    std::string strNative;
    int r = PlatResolvePath(pszPath, &strNative);
    if (r == -2) return nullptr;
    if (r != 0 && (nMode == PLAT_FILE_READ || nMode == PLAT_FILE_READWRITE)) return nullptr;
    FILE* fp = fopen(strNative.c_str(), s_apszMode[nMode]);
    if (!fp) return nullptr;
    struct stat st;
    if (fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode)) {
        fclose(fp);
        return nullptr;
    }
    PLAT_FILE* pFile = new PLAT_FILE;
    pFile->fp = fp;
    pFile->nLastOp = LAST_NONE;
    return pFile;
}

int64_t PlatFileRead(PLAT_FILE* pFile, void* pBuf, int64_t n)
{
    if (!pFile || n < 0) return -1;
    if (n == 0) return 0;
    SwitchDirection(pFile, LAST_READ);
    size_t got = fread(pBuf, 1, (size_t)n, pFile->fp);
    if (got < (size_t)n && ferror(pFile->fp)) {
        clearerr(pFile->fp);
        return -1;
    }
    return (int64_t)got;
}

int64_t PlatFileWrite(PLAT_FILE* pFile, const void* pBuf, int64_t n)
{
    if (!pFile || n < 0) return -1;
    if (n == 0) return 0;
    SwitchDirection(pFile, LAST_WRITE);
    size_t put = fwrite(pBuf, 1, (size_t)n, pFile->fp);
    if (put < (size_t)n) {
        clearerr(pFile->fp);
        return -1;
    }
    return (int64_t)put;
}

int64_t PlatFileSeek(PLAT_FILE* pFile, int64_t off, int nWhence)
{
    static const int s_anWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (!pFile || nWhence < PLAT_SEEK_SET || nWhence > PLAT_SEEK_END) return -1;
    if (fseeko(pFile->fp, (off_t)off, s_anWhence[nWhence]) != 0) return -1;
    pFile->nLastOp = LAST_NONE;
    return (int64_t)ftello(pFile->fp);
}

int64_t PlatFileTell(PLAT_FILE* pFile)
{
    if (!pFile) return -1;
    return (int64_t)ftello(pFile->fp);
}

int64_t PlatFileSize(PLAT_FILE* pFile)
{
    if (!pFile) return -1;
    if (pFile->nLastOp == LAST_WRITE && fflush(pFile->fp) != 0) return -1;
    struct stat st;
    if (fstat(fileno(pFile->fp), &st) != 0) return -1;
    return (int64_t)st.st_size;
}

int PlatFileClose(PLAT_FILE* pFile)
{
    if (!pFile) return -1;
    int r = fclose(pFile->fp);
    delete pFile;
    return r == 0 ? 0 : -1;
}

// ---- whole files and folders ----------------------------------------------------------------

int PlatFileStat(const char* pszPath, PLAT_FILE_STAT* pOut)
{
    *pOut = PLAT_FILE_STAT{};
    std::string strNative;
    int r = PlatResolvePath(pszPath, &strNative);
    if (r == -2) return -1;
    if (r != 0) return 0;
    struct stat st;
    if (stat(strNative.c_str(), &st) != 0) return errno == ENOENT ? 0 : -1;
    pOut->bExists = 1;
    pOut->bIsDir = S_ISDIR(st.st_mode) ? 1 : 0;
    pOut->nSize = pOut->bIsDir ? 0 : (int64_t)st.st_size;
    pOut->nModifiedTime = (int64_t)st.st_mtim.tv_sec;
    pOut->bReadOnly = access(strNative.c_str(), W_OK) != 0 ? 1 : 0;
    return 0;
}

int PlatFileDelete(const char* pszPath)
{
    std::string strNative;
    if (PlatResolvePath(pszPath, &strNative) != 0) return -1;
    struct stat st;
    if (lstat(strNative.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return unlink(strNative.c_str()) == 0 ? 0 : -1;
}

static mode_t GetCurrentUmask(void)
{
    // Reading the mask through umask() would change it for a moment under other threads.
    mode_t mask = 022;
    if (FILE* fp = fopen("/proc/self/status", "re")) {
        char line[256];
        while (fgets(line, sizeof line, fp)) {
            unsigned v;
            if (sscanf(line, "Umask: %o", &v) == 1) {
                mask = (mode_t)v;
                break;
            }
        }
        fclose(fp);
    }
    return mask;
}

static int WriteAll(int fd, const void* pData, size_t n)
{
    const char* p = (const char*)pData;
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (w == 0) {
            errno = EIO;
            return -1;
        }
        p += w;
        n -= (size_t)w;
    }
    return 0;
}

static std::string GetParentFolder(const std::string& strNative)
{
    size_t slash = strNative.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return strNative.substr(0, slash);
}

// ---- whole-file writes ----------------------------------------------------------------------
//
// Every file the engine writes goes through a temporary file ".kxtmp-<pid>-XXXXXX" in the target's
// folder: written, flushed to disk, renamed over the target, and the folder flushed. A reader sees
// the old content or the new one whole, whatever stops the writer. A temporary left by a writer
// that died is removed by the next write into the same folder.

static const char kTempPrefix[] = ".kxtmp";

// When this process started (the first write cannot come before it): temporaries older than this
// that carry this process's id were left by an earlier process that had the same id. The coarse
// clock is the one file times come from, so a file made after the start never looks older.
static struct timespec NowRealtime(void)
{
    struct timespec ts{};
    clock_gettime(CLOCK_REALTIME_COARSE, &ts);
    return ts;
}
static const struct timespec s_tsProcessStart = NowRealtime();

static bool IsBefore(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The test switch KOLVEX_WRITE_FAULT="kill@N" or "enospc@N", optionally ",NAME": a whole-file write
// (of a file whose name ends in NAME) stops once N bytes of its content are in the temporary file:
// the process is killed (SIGKILL), or the next write fails as on a full disk.
enum { FAULT_NONE = 0, FAULT_KILL = 1, FAULT_ENOSPC = 2 };
struct WRITE_FAULT {
    int nKind = FAULT_NONE;
    uint64_t nAfter = 0;
};

static WRITE_FAULT ReadWriteFault(const std::string& strTarget)
{
    WRITE_FAULT fault;
    const char* psz = getenv("KOLVEX_WRITE_FAULT");
    if (!psz || !*psz) return fault;
    std::string s = psz;
    std::string strName;
    const size_t comma = s.find(',');
    if (comma != std::string::npos) {
        strName = s.substr(comma + 1);
        s.erase(comma);
    }
    if (!strName.empty() &&
        (strTarget.size() < strName.size() || strTarget.compare(strTarget.size() - strName.size(), strName.size(), strName) != 0))
        return fault;
    const size_t at = s.find('@');
    if (at == std::string::npos) return fault;
    const std::string strKind = s.substr(0, at);
    char* pEnd = nullptr;
    const unsigned long long n = strtoull(s.c_str() + at + 1, &pEnd, 10);
    if (!pEnd || *pEnd) return fault;
    if (strKind == "kill") fault.nKind = FAULT_KILL;
    else if (strKind == "enospc") fault.nKind = FAULT_ENOSPC;
    fault.nAfter = n;
    return fault;
}

// The temporary file being written, with the test switch's fault.
struct TEMP_WRITER {
    int fd;
    uint64_t nWritten;
    WRITE_FAULT fault;
};

static int WriteTemp(TEMP_WRITER* pW, const void* pData, size_t n)
{
    const char* p = (const char*)pData;
    if (pW->fault.nKind != FAULT_NONE && pW->nWritten + n > pW->fault.nAfter) {
        const size_t nPart = pW->fault.nAfter > pW->nWritten ? (size_t)(pW->fault.nAfter - pW->nWritten) : 0;
        if (WriteAll(pW->fd, p, nPart) != 0) return -1;
        pW->nWritten += nPart;
        if (pW->fault.nKind == FAULT_KILL) raise(SIGKILL);
        errno = ENOSPC;
        return -1;
    }
    if (WriteAll(pW->fd, p, n) != 0) return -1;
    pW->nWritten += n;
    return 0;
}

// Removes the temporaries of writers that are gone: "<prefix>-<pid>-…" of a process that no longer
// runs, or of this process's id but older than this process; the older form "<prefix>XXXXXX"
// (no id) when it is older than this process. A live writer's temporary is never touched. Each
// folder is swept once per run.
static void SweepDeadTemporaries(const std::string& strDir)
{
    static std::mutex s_mx;
    static std::vector<std::string> s_aSwept;
    {
        std::lock_guard<std::mutex> lock(s_mx);
        if (std::find(s_aSwept.begin(), s_aSwept.end(), strDir) != s_aSwept.end()) return;
        s_aSwept.push_back(strDir);
    }
    DIR* pDir = opendir(strDir.c_str());
    if (!pDir) return;
    const int fdDir = dirfd(pDir);
    const size_t nPrefix = sizeof kTempPrefix - 1;
    while (struct dirent* pEnt = readdir(pDir)) {
        const char* pszName = pEnt->d_name;
        if (strncmp(pszName, kTempPrefix, nPrefix) != 0) continue;
        struct stat st;
        if (fstatat(fdDir, pszName, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        const bool bOld = IsBefore(st.st_mtim, s_tsProcessStart);
        bool bDead = false;
        if (pszName[nPrefix] == '-') {
            char* pEnd = nullptr;
            const long nPid = strtol(pszName + nPrefix + 1, &pEnd, 10);
            if (!pEnd || *pEnd != '-' || nPid <= 0) continue;
            if (nPid == (long)getpid()) bDead = bOld;
            else bDead = kill((pid_t)nPid, 0) != 0 && errno == ESRCH;
        } else if (strlen(pszName) == nPrefix + 6) {
            bDead = bOld;
        }
        if (bDead) unlinkat(fdDir, pszName, 0);
    }
    closedir(pDir);
}

// Writes a file through a temporary file in the same folder: pfnFill writes the content through
// WriteTemp, the file is flushed to disk, renamed over the target and the folder flushed. The
// target keeps its permissions and owner; a new target gets modeNew less the process's file mask.
// A read-only target is not replaced. 0, or -1 with errno telling the failing step's error; on
// failure the target is as it was.
template <typename FILL>
static int WriteThroughTemp(const std::string& strGiven, mode_t modeNew, FILL pfnFill)
{
    std::string strTarget = strGiven;
    struct stat st;
    // A symbolic link stays a link: the file it names gets the new content.
    if (lstat(strTarget.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* pszReal = realpath(strTarget.c_str(), nullptr)) {
            strTarget = pszReal;
            free(pszReal);
        }
    }
    mode_t mode;
    bool bReplace = false;
    if (stat(strTarget.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return -1;
        }
        if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;
            return -1;
        }
        // Read-only for everyone (also for root, whom access() would let through) or for us.
        if ((st.st_mode & 0222) == 0) {
            errno = EACCES;
            return -1;
        }
        if (access(strTarget.c_str(), W_OK) != 0) return -1;
        mode = st.st_mode & 07777;
        bReplace = true;
    } else if (errno != ENOENT) {
        return -1;
    } else {
        mode = modeNew & ~GetCurrentUmask();
    }
    const std::string strDir = GetParentFolder(strTarget);
    SweepDeadTemporaries(strDir);
    std::string strTemp = JoinPath(strDir, std::string(kTempPrefix) + "-" + std::to_string((long)getpid()) + "-XXXXXX");
    const int fd = mkostemp(&strTemp[0], O_CLOEXEC);
    if (fd < 0) return -1;
    TEMP_WRITER w{fd, 0, ReadWriteFault(strTarget)};
    int nErr = 0;
    if (pfnFill(&w) != 0) nErr = errno ? errno : EIO;
    if (!nErr && w.fault.nKind == FAULT_KILL && w.nWritten >= w.fault.nAfter) raise(SIGKILL);
    if (!nErr && bReplace && fchown(fd, st.st_uid, st.st_gid) != 0 && geteuid() == 0) nErr = errno;
    if (!nErr && fchmod(fd, mode) != 0) nErr = errno;
    if (!nErr && fsync(fd) != 0) nErr = errno;
    if (close(fd) != 0 && !nErr) nErr = errno;
    if (!nErr && rename(strTemp.c_str(), strTarget.c_str()) != 0) nErr = errno;
    if (nErr) {
        unlink(strTemp.c_str());
        errno = nErr;
        return -1;
    }
    // Makes the rename itself durable. A folder that cannot be opened for this, or a file system
    // that does not flush folders, loses nothing written; an I/O error is a failure.
    const int dfd = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        if (fsync(dfd) != 0 && errno != EINVAL && errno != EROFS) nErr = errno;
        close(dfd);
    }
    if (nErr) {
        errno = nErr;
        return -1;
    }
    return 0;
}

int PlatFileCopy(const char* pszFrom, const char* pszTo, int bFailIfExists)
{
    std::string strFrom, strTo;
    if (PlatResolvePath(pszFrom, &strFrom) != 0) return -1;
    int r = PlatResolvePath(pszTo, &strTo);
    if (r == -2 || (r == 0 && bFailIfExists)) return -1;
    int fdIn = open(strFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (fdIn < 0) return -1;
    struct stat stIn;
    if (fstat(fdIn, &stIn) != 0 || !S_ISREG(stIn.st_mode)) {
        close(fdIn);
        return -1;
    }
    int result = WriteThroughTemp(strTo, stIn.st_mode & 0777, [&](TEMP_WRITER* pW) {
        char buf[65536];
        for (;;) {
            ssize_t got = read(fdIn, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return -1;
            if (got == 0) break;
            if (WriteTemp(pW, buf, (size_t)got) != 0) return -1;
        }
        // A copy keeps the time of the last change, as the system it stands in for does.
        struct timespec times[2] = {stIn.st_atim, stIn.st_mtim};
        futimens(pW->fd, times);
        return 0;
    });
    close(fdIn);
    return result;
}

int PlatFileRename(const char* pszFrom, const char* pszTo)
{
    std::string strFrom, strTo;
    if (PlatResolvePath(pszFrom, &strFrom) != 0) return -1;
    int r = PlatResolvePath(pszTo, &strTo);
    if (r == -2) return -1;
    if (r == 0 && strTo == strFrom) {
        // The target is the source under another letter case: give it the case as written.
        std::string strWritten;
        PlatConvertStrict(PLAT_CONV_CP932_TO_UTF8, pszTo, strlen(pszTo), &strWritten);
        std::replace(strWritten.begin(), strWritten.end(), '\\', '/');
        while (strWritten.size() > 1 && strWritten.back() == '/') strWritten.pop_back();
        size_t slash = strWritten.rfind('/');
        std::string strName = slash == std::string::npos ? strWritten : strWritten.substr(slash + 1);
        if (strName.empty() || strName == "." || strName == "..") return 0;
        strTo = JoinPath(strFrom.find('/') == std::string::npos ? std::string() : GetParentFolder(strFrom),
                         strName);
    }
    return rename(strFrom.c_str(), strTo.c_str()) == 0 ? 0 : -1;
}

static int MakeNativeDir(const std::string& strNative)
{
    if (mkdir(strNative.c_str(), 0777) == 0) return 0;
    struct stat st;
    if (errno == EEXIST && stat(strNative.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
    return -1;
}

int PlatMakeDir(const char* pszPath)
{
    std::string strNative;
    int r = PlatResolvePath(pszPath, &strNative);
    if (r == -2 || strNative.empty()) return -1;
    return MakeNativeDir(strNative);
}

int PlatMakeDirs(const char* pszPath)
{
    std::string strNative;
    int r = PlatResolvePath(pszPath, &strNative);
    if (r == -2 || strNative.empty()) return -1;
    // The existing folders on the way are resolved already; make each prefix that is missing.
    for (size_t pos = 1; pos <= strNative.size(); pos++) {
        if (pos < strNative.size() && strNative[pos] != '/') continue;
        if (MakeNativeDir(strNative.substr(0, pos)) != 0) return -1;
    }
    return 0;
}

int PlatRemoveDir(const char* pszPath)
{
    std::string strNative;
    if (PlatResolvePath(pszPath, &strNative) != 0) return -1;
    char* pszReal = realpath(strNative.c_str(), nullptr);
    int bRoot = pszReal && strcmp(pszReal, "/") == 0;
    free(pszReal);
    if (bRoot) return -1;   // the root folder is never removed
    return rmdir(strNative.c_str()) == 0 ? 0 : -1;
}

int PlatListDir(const char* pszPath, std::vector<PLAT_DIR_ENTRY>* pOut)
{
    pOut->clear();
    std::string strNative;
    if (PlatResolvePath(pszPath, &strNative) != 0) return -1;
    DIR* pDir = opendir(strNative.c_str());
    if (!pDir) return -1;
    int fdDir = dirfd(pDir);
    while (struct dirent* pEnt = readdir(pDir)) {
        const char* pszName = pEnt->d_name;
        if (!strcmp(pszName, ".") || !strcmp(pszName, "..")) continue;
        // A '\' in a name would read as a separator inside the engine.
        if (strchr(pszName, '\\')) continue;
        PLAT_DIR_ENTRY ent;
        std::string strBack;
        if (PlatConvertStrict(PLAT_CONV_UTF8_TO_CP932, pszName, strlen(pszName), &ent.strName) != 0) continue;
        if (PlatConvertStrict(PLAT_CONV_CP932_TO_UTF8, ent.strName.data(), ent.strName.size(), &strBack) != 0 ||
            strBack != pszName)
            continue;
        struct stat st;
        ent.bIsDir = 0;
        ent.nSize = 0;
        if (fstatat(fdDir, pszName, &st, 0) == 0) {
            ent.bIsDir = S_ISDIR(st.st_mode) ? 1 : 0;
            ent.nSize = ent.bIsDir ? 0 : (int64_t)st.st_size;
        }
        pOut->push_back(std::move(ent));
    }
    closedir(pDir);
    std::sort(pOut->begin(), pOut->end(),
              [](const PLAT_DIR_ENTRY& a, const PLAT_DIR_ENTRY& b) { return a.strName < b.strName; });
    return 0;
}

int PlatReadFile(const char* pszPath, std::vector<uint8_t>* pOut)
{
    pOut->clear();
    std::string strNative;
    if (PlatResolvePath(pszPath, &strNative) != 0) return -1;
    int fd = open(strNative.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return -1;
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) pOut->reserve((size_t)st.st_size);
    uint8_t buf[65536];
    for (;;) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            pOut->clear();
            return -1;
        }
        if (got == 0) break;
        pOut->insert(pOut->end(), buf, buf + got);
    }
    close(fd);
    return 0;
}

int PlatWriteFileAtomic(const char* pszPath, const void* pData, size_t n)
{
    std::string strNative;
    if (PlatResolvePath(pszPath, &strNative) == -2 || strNative.empty()) {
        errno = EINVAL;
        return -1;
    }
    return PlatWriteNativeFileAtomic(strNative, pData, n, 0666);
}

int PlatWriteHostFileAtomic(const char* pszHostPath, const void* pData, size_t n)
{
    if (!pszHostPath || !*pszHostPath) {
        errno = EINVAL;
        return -1;
    }
    return PlatWriteNativeFileAtomic(pszHostPath, pData, n, 0666);
}

int PlatWriteNativeFileAtomic(const std::string& strNative, const void* pData, size_t n, unsigned nNewMode)
{
    return WriteThroughTemp(strNative, (mode_t)nNewMode, [&](TEMP_WRITER* pW) { return WriteTemp(pW, pData, n); });
}

int PlatSetCurrentDir(const char* pszPath)
{
    std::string strNative;
    if (PlatResolvePath(pszPath, &strNative) != 0) return -1;
    return chdir(strNative.c_str()) == 0 ? 0 : -1;
}

std::string PlatGetCurrentDir(void)
{
    char* pszCwd = getcwd(nullptr, 0);
    if (!pszCwd) return std::string();
    std::string strNative = pszCwd;
    free(pszCwd);
    std::string strEngine;
    if (PlatNativeToEnginePath(strNative, &strEngine) != 0) {
        strEngine = PlatUtf8ToCp932String(strNative.c_str());
        std::replace(strEngine.begin(), strEngine.end(), '/', '\\');
    }
    return strEngine;
}
