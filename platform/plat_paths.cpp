// The game folder, the executable and the user's folders, kept as engine paths (cp932, '\').
#include "platform/plat_paths.h"
#include "platform/plat_file.h"
#include "platform/plat_internal.h"
#include "platform/plat_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static std::mutex g_mxPaths;
static std::string g_strProgramFolder;
static std::string g_strProgramPath;
static std::string g_strExecutablePath;
static std::string g_strNativeExe;
static std::string g_strUserFoldersKey;   // the environment they were found with
static int g_bUserFoldersKnown = 0;
static std::string g_strAppDataDir;
static std::string g_strDocumentsDir;
static int g_bAppDataOverride = 0;
static int g_bDocumentsOverride = 0;
static std::string g_strAppDataOverride;
static std::string g_strDocumentsOverride;

// The running executable. KOLVEX_EXE_PATH replaces it for tests that let a temporary folder act
// as the program's folder.
static std::string FindNativeExecutable(void)
{
    const char* pszTest = getenv("KOLVEX_EXE_PATH");
    if (pszTest && *pszTest) return pszTest;
    std::string s(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", &s[0], s.size());
        if (n < 0) return std::string();
        if ((size_t)n < s.size()) {
            s.resize((size_t)n);
            return s;
        }
        s.resize(s.size() * 2);
    }
}

std::string PlatGetNativeExecutablePath(void)
{
    {
        std::lock_guard<std::mutex> lock(g_mxPaths);
        if (!g_strNativeExe.empty()) return g_strNativeExe;
    }
    return FindNativeExecutable();
}

// An engine form for a native path; characters cp932 lacks become '?'.
static std::string MakeEngineFormLossy(const std::string& strNative)
{
    std::string s;
    if (PlatNativeToEnginePath(strNative, &s) == 0) return s;
    s = PlatUtf8ToCp932String(strNative.c_str());
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

// The engine form of a folder: its cp932 path, or its alias where cp932 cannot express it.
static std::string MakeFolderForm(const std::string& strNative)
{
    std::string s;
    if (PlatNativeToEnginePath(strNative, &s) == 0) return s;
    return PlatMakeFolderAlias(strNative);
}

static int IsNativeDir(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Compares without regard to ASCII letter case, whatever the locale.
static int IsEqualNoCaseASCII(const char* a, const char* b)
{
    for (;; a++, b++) {
        unsigned char ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca >= 'A' && ca <= 'Z') ca = (unsigned char)(ca + 32);
        if (cb >= 'A' && cb <= 'Z') cb = (unsigned char)(cb + 32);
        if (ca != cb) return 0;
        if (ca == 0) return 1;
    }
}

static int EndsWithNoCase(const char* pszName, const char* pszTail)
{
    size_t n = strlen(pszName), m = strlen(pszTail);
    if (n < m) return 0;
    return IsEqualNoCaseASCII(pszName + n - m, pszTail);
}

// 1 when the current folder holds "kxbin" or a ".kpf" file, in any letter case.
static int HasGameInCurrentFolder(void)
{
    DIR* pDir = opendir(".");
    if (!pDir) return 0;
    int bFound = 0;
    while (struct dirent* pEnt = readdir(pDir)) {
        if (IsEqualNoCaseASCII(pEnt->d_name, "kxbin")) bFound = 1;
        else if (strlen(pEnt->d_name) > 4 && EndsWithNoCase(pEnt->d_name, ".kpf")) {
            struct stat st;
            if (stat(pEnt->d_name, &st) == 0 && S_ISREG(st.st_mode)) bFound = 1;
        }
        if (bFound) break;
    }
    closedir(pDir);
    return bFound;
}

// An argument that is meant as a folder rather than as an engine switch ("/info", "/kxcfg": a
// slash and a word): a relative path, or an absolute one with more than one component.
static int LooksLikeFolderArgument(const std::string& strArg)
{
    if (strArg.empty() || strArg[0] == '-') return 0;
    if (strArg[0] != '/') return 1;
    return strArg.find('/', 1) != std::string::npos;
}

static std::string g_strPathsProblem;
static std::string g_strStartFolder;   // the current folder the program was started in

// The arguments named the game folder (by --game or as the first argument).
static int g_bFolderNamed = 0;

int PlatGameFolderWasNamed(void)
{
    return g_bFolderNamed;
}

int PlatHasTerminal(void)
{
    return isatty(STDIN_FILENO) || isatty(STDERR_FILENO);
}

int PlatInitProgramPaths(int argc, char** argv, std::vector<std::string>* pArgs)
{
    std::vector<std::string> aArgs;
    for (int i = 1; i < argc; i++) aArgs.push_back(argv[i] ? argv[i] : "");
    std::string strExe = FindNativeExecutable();
    g_strPathsProblem.clear();
    if (char* pszStart = getcwd(nullptr, 0)) {
        std::lock_guard<std::mutex> lock(g_mxPaths);
        g_strStartFolder = pszStart;
        free(pszStart);
    }

    std::string strFolder;
    size_t nUsed = 0;
    g_bFolderNamed = 0;
    if (!aArgs.empty() && aArgs[0] == "--game") {
        if (aArgs.size() < 2 || aArgs[1].empty()) {
            g_strPathsProblem = "--game needs the game folder after it";
            return -1;
        }
        strFolder = aArgs[1];
        nUsed = 2;
    } else if (!aArgs.empty() && !aArgs[0].empty() && IsNativeDir(aArgs[0])) {
        strFolder = aArgs[0];
        nUsed = 1;
    } else if (!aArgs.empty() && LooksLikeFolderArgument(aArgs[0])) {
        // A mistyped folder would otherwise end in a message about a missing file somewhere else.
        struct stat st;
        g_strPathsProblem = "\"" + aArgs[0] + "\" names no folder: " +
                            (stat(aArgs[0].c_str(), &st) == 0 ? std::string("it is not a folder") : std::string(strerror(errno)));
        return -1;
    } else if (HasGameInCurrentFolder()) {
        strFolder = ".";
    } else {
        size_t slash = strExe.rfind('/');
        strFolder = slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : strExe.substr(0, slash);
    }

    char* pszAbs = realpath(strFolder.c_str(), nullptr);
    if (!pszAbs) {
        g_strPathsProblem = "the game folder \"" + strFolder + "\" cannot be used: " + strerror(errno);
        return -1;
    }
    std::string strAbs = pszAbs;
    free(pszAbs);
    if (!IsNativeDir(strAbs)) {
        g_strPathsProblem = "the game folder \"" + strAbs + "\" is not a folder";
        return -1;
    }
    std::string strFolderEngine = MakeFolderForm(strAbs);
    while (!strFolderEngine.empty() && strFolderEngine.back() == '\\') strFolderEngine.pop_back();
    if (chdir(strAbs.c_str()) != 0) {
        g_strPathsProblem = "the game folder \"" + strAbs + "\" cannot be entered: " + strerror(errno);
        return -1;
    }

    size_t slash = strExe.rfind('/');
    std::string strExeName = slash == std::string::npos ? strExe : strExe.substr(slash + 1);
    {
        std::lock_guard<std::mutex> lock(g_mxPaths);
        g_strNativeExe = strExe;
        g_strExecutablePath = MakeEngineFormLossy(strExe);
        g_strProgramFolder = strFolderEngine;
        g_strProgramPath = strFolderEngine + "\\" + PlatUtf8ToCp932String(strExeName.c_str());
    }
    g_bFolderNamed = nUsed > 0;
    if (pArgs) {
        pArgs->clear();
        for (size_t i = nUsed; i < aArgs.size(); i++) pArgs->push_back(PlatUtf8ToCp932String(aArgs[i].c_str()));
    }
    return 0;
}

std::string PlatFromStartFolder(const char* pszNative)
{
    std::string strPath = pszNative ? pszNative : "";
    if (strPath.empty() || strPath[0] == '/') return strPath;
    std::lock_guard<std::mutex> lock(g_mxPaths);
    if (g_strStartFolder.empty()) return strPath;
    return (g_strStartFolder == "/" ? std::string() : g_strStartFolder) + "/" + strPath;
}

const char* PlatGetProgramPathsProblem(void)
{
    return g_strPathsProblem.c_str();
}

std::string PlatDisplayPath(const char* pszPath)
{
    std::string strNative;
    if (!pszPath || PlatResolvePath(pszPath, &strNative) == -2 || strNative.empty())
        return PlatCp932ToUtf8String(pszPath ? pszPath : "");
    if (strNative[0] != '/') {
        char* pszCwd = getcwd(nullptr, 0);
        if (pszCwd) {
            std::string strCwd = pszCwd;
            free(pszCwd);
            if (strNative == ".") strNative = strCwd;
            else strNative = (strCwd == "/" ? std::string() : strCwd) + "/" + (strNative.rfind("./", 0) == 0 ? strNative.substr(2) : strNative);
        }
    }
    return strNative;
}

const char* PlatGetProgramPath(void)
{
    return g_strProgramPath.c_str();
}

const char* PlatGetProgramFolder(void)
{
    return g_strProgramFolder.c_str();
}

const char* PlatGetExecutablePath(void)
{
    std::lock_guard<std::mutex> lock(g_mxPaths);
    if (g_strExecutablePath.empty()) {
        g_strNativeExe = FindNativeExecutable();
        g_strExecutablePath = MakeEngineFormLossy(g_strNativeExe);
    }
    return g_strExecutablePath.c_str();
}

static std::string GetHomeFolder(void)
{
    const char* pszHome = getenv("HOME");
    if (pszHome && *pszHome) return pszHome;
    struct passwd pw, *pResult = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &pResult) == 0 && pResult && pResult->pw_dir)
        return pResult->pw_dir;
    return "/";
}

static void DropTrailingSlashes(std::string* pPath)
{
    while (pPath->size() > 1 && pPath->back() == '/') pPath->pop_back();
}

// Runs a program (searched in PATH, no shell) and collects what it writes to its standard output.
// 0 when it ran and ended with status 0.
static int RunForOutput(const char* const* apszArgv, std::string* pOut)
{
    pOut->clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int r = posix_spawnp(&pid, apszArgv[0], &fa, nullptr, const_cast<char* const*>(apszArgv), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (r != 0) {
        close(fds[0]);
        return -1;
    }
    char buf[1024];
    for (;;) {
        ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (pOut->size() < 65536) pOut->append(buf, (size_t)got);
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

static const char* GetEnvOrEmpty(const char* pszName)
{
    const char* psz = getenv(pszName);
    return psz ? psz : "";
}

// Finds the folders once, and again when the variables they come from have changed.
static void FindUserFoldersLocked(void)
{
    std::string strKey;
    for (const char* pszName : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "PATH"}) {
        strKey += GetEnvOrEmpty(pszName);
        strKey.push_back('\n');
    }
    if (g_bUserFoldersKnown && strKey == g_strUserFoldersKey) return;
    g_strUserFoldersKey = strKey;
    std::string strHome = GetHomeFolder();
    DropTrailingSlashes(&strHome);
    std::string strData;
    const char* pszData = getenv("XDG_DATA_HOME");
    if (pszData && pszData[0] == '/') strData = pszData;   // relative values are ignored, as XDG says
    else strData = (strHome == "/" ? std::string() : strHome) + "/.local/share";
    DropTrailingSlashes(&strData);

    std::string strDocs;
    static const char* const s_apszArgv[] = {"xdg-user-dir", "DOCUMENTS", nullptr};
    if (RunForOutput(s_apszArgv, &strDocs) == 0) {
        while (!strDocs.empty() && (strDocs.back() == '\n' || strDocs.back() == '\r')) strDocs.pop_back();
        if (strDocs.empty() || strDocs[0] != '/' || strDocs.find('\n') != std::string::npos) strDocs.clear();
    } else {
        strDocs.clear();
    }
    if (strDocs.empty()) strDocs = (strHome == "/" ? std::string() : strHome) + "/Documents";
    DropTrailingSlashes(&strDocs);

    g_strAppDataDir = MakeFolderForm(strData);
    g_strDocumentsDir = MakeFolderForm(strDocs);
    g_bUserFoldersKnown = 1;
}

const char* PlatGetAppDataDir(void)
{
    std::lock_guard<std::mutex> lock(g_mxPaths);
    if (g_bAppDataOverride) return g_strAppDataOverride.c_str();
    FindUserFoldersLocked();
    return g_strAppDataDir.c_str();
}

const char* PlatGetDocumentsDir(void)
{
    std::lock_guard<std::mutex> lock(g_mxPaths);
    if (g_bDocumentsOverride) return g_strDocumentsOverride.c_str();
    FindUserFoldersLocked();
    return g_strDocumentsDir.c_str();
}

void PlatSetUserFoldersForTest(const char* pszAppData, const char* pszDocuments)
{
    std::lock_guard<std::mutex> lock(g_mxPaths);
    g_bAppDataOverride = pszAppData != nullptr;
    g_strAppDataOverride = pszAppData ? pszAppData : "";
    g_bDocumentsOverride = pszDocuments != nullptr;
    g_strDocumentsOverride = pszDocuments ? pszDocuments : "";
}
