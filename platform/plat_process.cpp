// Starting programs from an argument vector through posix_spawn; no shell runs. Started programs
// are not waited for: their ends are collected on later calls so that no zombies pile up.
#include "platform/plat_process.h"
#include "platform/plat_file.h"
#include "platform/plat_internal.h"
#include "platform/plat_paths.h"
#include "platform/plat_text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static std::mutex g_mxSpawn;
static PLAT_SPAWN_HOOK g_pfnSpawnHook = nullptr;
static void* g_pSpawnHookUser = nullptr;
static std::vector<pid_t> g_aChildren;   // started and not yet collected

static int IsLeadByte932(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The rules of the Microsoft C runtime for a parameter text: spaces and tabs separate; double
// quotes group; 2n backslashes before a quote give n backslashes and the quote groups, 2n+1 give n
// backslashes and a literal quote; other backslashes are literal; "" inside a group is a literal
// quote. A cp932 double-byte character is copied whole, so a trail byte 0x5C is no backslash.
std::vector<std::string> PlatSplitCommandLine(const char* pszParams)
{
    std::vector<std::string> aArgs;
    if (!pszParams) return aArgs;
    const unsigned char* p = (const unsigned char*)pszParams;
    for (;;) {
        while (*p == ' ' || *p == '\t') p++;
        if (*p == 0) break;
        std::string strArg;
        int bQuoted = 0;
        while (*p != 0 && (bQuoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '\\') {
                size_t nSlashes = 0;
                while (*p == '\\') {
                    nSlashes++;
                    p++;
                }
                if (*p == '"') {
                    strArg.append(nSlashes / 2, '\\');
                    if (nSlashes % 2) {
                        strArg.push_back('"');
                        p++;
                    }
                } else {
                    strArg.append(nSlashes, '\\');
                }
            } else if (*p == '"') {
                if (bQuoted && p[1] == '"') {
                    strArg.push_back('"');
                    p += 2;
                } else {
                    bQuoted = !bQuoted;
                    p++;
                }
            } else if (IsLeadByte932(*p) && p[1] != 0) {
                strArg.push_back((char)p[0]);
                strArg.push_back((char)p[1]);
                p += 2;
            } else {
                strArg.push_back((char)*p++);
            }
        }
        aArgs.push_back(strArg);
    }
    return aArgs;
}

// Collects every started program that has ended. Called with g_mxSpawn held.
static void ReapChildrenLocked(void)
{
    auto itEnd = std::remove_if(g_aChildren.begin(), g_aChildren.end(), [](pid_t pid) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno != EINTR);
    });
    g_aChildren.erase(itEnd, g_aChildren.end());
}

// The native program for args[0]: the executable itself when it is named by its engine path, an
// engine path (it holds a separator) through the resolver, a bare name from the current folder
// when a file of that name is there, else the bare name for a search in PATH.
static int FindProgramNative(const std::string& strProgram, std::string* pNative)
{
    if (strProgram.empty()) return -1;
    if (strProgram == PlatGetExecutablePath()) {
        *pNative = PlatGetNativeExecutablePath();
        return pNative->empty() ? -1 : 0;
    }
    std::string strUtf8;
    if (PlatConvertStrict(PLAT_CONV_CP932_TO_UTF8, strProgram.data(), strProgram.size(), &strUtf8) != 0) return -1;
    int bPath = strUtf8.find_first_of("\\/") != std::string::npos;
    std::string strResolved;
    int r = PlatResolvePath(strProgram.c_str(), &strResolved);
    struct stat st;
    if (r == 0 && stat(strResolved.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        *pNative = bPath ? strResolved : "./" + strResolved;
        return 0;
    }
    if (bPath) return -1;
    *pNative = strUtf8;
    return 0;
}

// An argument as the program sees it: UTF-8, and an engine path ('\' separators) of a file or
// folder that exists as its native path, so that an editor started on a script finds the file.
static std::string ConvertArgumentToNative(const std::string& strArg)
{
    std::string strUtf8 = PlatCp932ToUtf8String(strArg.c_str());
    std::string strResolved;
    if (strUtf8.find('\\') != std::string::npos && PlatResolvePath(strArg.c_str(), &strResolved) == 0)
        return strResolved;
    return strUtf8;
}

void PlatInitChildSpawnAttr(posix_spawnattr_t* pAttr)
{
    posix_spawnattr_init(pAttr);
    sigset_t setEmpty, setDefault;
    sigemptyset(&setEmpty);
    sigemptyset(&setDefault);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&setDefault, sig);
    posix_spawnattr_setsigmask(pAttr, &setEmpty);
    posix_spawnattr_setsigdefault(pAttr, &setDefault);
    posix_spawnattr_setflags(pAttr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

// The test hook and its user pointer, when one is set.
static PLAT_SPAWN_HOOK CurrentSpawnHook(void** ppUser)
{
    std::lock_guard<std::mutex> lock(g_mxSpawn);
    *ppUser = g_pSpawnHookUser;
    return g_pfnSpawnHook;
}

// Starts a native argument vector without the hook. 0 with *pPid, or -1.
static int SpawnNativeArgv(std::vector<std::string> aNative, pid_t* pPid)
{
    std::vector<char*> apszArgv;
    for (std::string& s : aNative) apszArgv.push_back(&s[0]);
    apszArgv.push_back(nullptr);

    posix_spawnattr_t attr;
    PlatInitChildSpawnAttr(&attr);

    int r = posix_spawnp(pPid, apszArgv[0], nullptr, &attr, apszArgv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return r == 0 ? 0 : -1;
}

// Starts the program without the hook. 0 with *pPid, or -1.
static int SpawnNative(const std::vector<std::string>& args, pid_t* pPid)
{
    std::string strProgram;
    if (FindProgramNative(args[0], &strProgram) != 0) return -1;
    std::vector<std::string> aNative;
    aNative.push_back(strProgram);
    for (size_t i = 1; i < args.size(); i++) aNative.push_back(ConvertArgumentToNative(args[i]));
    return SpawnNativeArgv(std::move(aNative), pPid);
}

int PlatSpawnNativeArgs(const std::vector<std::string>& aNative, int* pnPid)
{
    *pnPid = 0;
    if (aNative.empty()) return -1;
    void* pUser = nullptr;
    const PLAT_SPAWN_HOOK pfnHook = CurrentSpawnHook(&pUser);
    if (pfnHook) {
        std::vector<std::string> args;
        for (const std::string& s : aNative) args.push_back(PlatUtf8ToCp932String(s.c_str()));
        return pfnHook(args, pUser);
    }
    pid_t pid = 0;
    if (SpawnNativeArgv(aNative, &pid) != 0) return -1;
    *pnPid = static_cast<int>(pid);
    return 0;
}

// Starts a program through the test hook when one is set; with pPid the caller collects it, else
// it joins the list of programs collected on later calls.
static int SpawnArgv(const std::vector<std::string>& args, pid_t* pPid)
{
    if (pPid) *pPid = 0;
    if (args.empty()) return -1;
    void* pUser = nullptr;
    const PLAT_SPAWN_HOOK pfnHook = CurrentSpawnHook(&pUser);
    if (pfnHook) return pfnHook(args, pUser);

    std::lock_guard<std::mutex> lock(g_mxSpawn);
    ReapChildrenLocked();
    pid_t pid;
    if (SpawnNative(args, &pid) != 0) return -1;
    if (pPid)
        *pPid = pid;
    else
        g_aChildren.push_back(pid);
    return 0;
}

void PlatCollectLater(int nPid)
{
    std::lock_guard<std::mutex> lock(g_mxSpawn);
    ReapChildrenLocked();
    if (nPid > 0) g_aChildren.push_back(static_cast<pid_t>(nPid));
}

int PlatStartProcessArgv(const std::vector<std::string>& args)
{
    return SpawnArgv(args, nullptr);
}

int PlatSpawnProcess(const std::vector<std::string>& args, PLAT_PROCESS* pProc)
{
    if (!pProc) return -1;
    pProc->nPid = 0;
    if (args.empty()) return -1;
    pid_t pid;
    if (SpawnNative(args, &pid) != 0) return -1;
    pProc->nPid = static_cast<int>(pid);
    return 0;
}

int PlatPollProcess(PLAT_PROCESS* pProc, int* pnExitCode)
{
    if (!pProc || pProc->nPid <= 0) return -1;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(static_cast<pid_t>(pProc->nPid), &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return 1;
    int nCode = -1;
    if (r > 0) nCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    if (pnExitCode) *pnExitCode = nCode;
    pProc->nPid = 0;
    return 0;
}

int PlatStartProcess(const char* pszFile, const char* pszParams)
{
    if (!pszFile || !*pszFile) return -1;
    std::vector<std::string> args;
    args.push_back(pszFile);
    for (std::string& s : PlatSplitCommandLine(pszParams)) args.push_back(std::move(s));
    return PlatStartProcessArgv(args);
}

// $VISUAL or $EDITOR may carry options ("code --wait"); the program is the first word unless the
// whole value names a file.
int PlatFindExecutable(const char* pszDocument, char* pszOut, size_t cap)
{
    if (pszOut && cap > 0) pszOut[0] = '\0';
    const char* pszEditor = getenv("VISUAL");
    if (!pszEditor || !*pszEditor) pszEditor = getenv("EDITOR");
    if (!pszEditor || !*pszEditor) return -1;
    std::string strProgram = pszEditor;
    struct stat st;
    if (stat(strProgram.c_str(), &st) != 0) {
        size_t start = strProgram.find_first_not_of(" \t");
        if (start == std::string::npos) return -1;
        size_t end = strProgram.find_first_of(" \t", start);
        strProgram = strProgram.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    std::string strEngine;
    if (PlatNativeToEnginePath(strProgram, &strEngine) != 0) return -1;
    if (!pszOut || strEngine.size() + 1 > cap) return -1;   // a cut program name would start another
    memcpy(pszOut, strEngine.c_str(), strEngine.size() + 1);
    return 0;
}

std::string PlatFindInPath(const char* pszName, const std::function<bool(const std::string&)>& accept)
{
    const char* pszPath = getenv("PATH");
    const std::string strPath = pszPath ? pszPath : "/usr/bin:/bin";
    size_t p = 0;
    while (p <= strPath.size()) {
        const size_t e = strPath.find(':', p);
        const std::string strDir = strPath.substr(p, e == std::string::npos ? std::string::npos : e - p);
        if (!strDir.empty()) {
            const std::string strCand = strDir + "/" + pszName;
            if (access(strCand.c_str(), X_OK) == 0 && (!accept || accept(strCand))) return strCand;
        }
        if (e == std::string::npos) break;
        p = e + 1;
    }
    return std::string();
}

void PlatSetSpawnHook(PLAT_SPAWN_HOOK pfnHook, void* pUser)
{
    std::lock_guard<std::mutex> lock(g_mxSpawn);
    g_pfnSpawnHook = pfnHook;
    g_pSpawnHookUser = pUser;
}
