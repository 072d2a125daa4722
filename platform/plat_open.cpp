// Opening files and web addresses with the desktop's opener, or starting an executable file itself.
#include "platform/plat_process.h"
#include "platform/plat_file.h"
#include "platform/plat_internal.h"
#include "platform/plat_text.h"
#include "platform/plat_trace.h"
#include "platform/plat_window.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// The desktop's opener: it takes one file, folder or address and starts the program the desktop
// associates with it (package xdg-utils).
static const char kOpener[] = "xdg-open";

static std::atomic<PLAT_OPEN_FAILURE_HANDLER> g_pfnOpenFailure{nullptr};

void PlatSetOpenFailureHandler(PLAT_OPEN_FAILURE_HANDLER pfnHandler)
{
    g_pfnOpenFailure.store(pfnHandler);
}

static int IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int PlatIsWebAddress(const char* pszText)
{
    if (!pszText) return 0;
    if ((pszText[0] | 0x20) == 'w' && (pszText[1] | 0x20) == 'w' && (pszText[2] | 0x20) == 'w' && pszText[3] == '.' &&
        pszText[4] != '\0')
        return 1;
    // A scheme: a letter, then letters, digits, '+', '-' or '.'; one letter alone is a drive ("C:").
    if (!IsAsciiLetter(pszText[0])) return 0;
    size_t i = 1;
    while (IsAsciiLetter(pszText[i]) || (pszText[i] >= '0' && pszText[i] <= '9') || pszText[i] == '+' ||
           pszText[i] == '-' || pszText[i] == '.')
        ++i;
    return i >= 2 && pszText[i] == ':';
}

// 1 for a file that runs as a program: execute permission and the start of a program (ELF) or of a
// script ("#!"). A document that merely carries the permission (as on some mounted volumes) is not.
static int IsExecutableFile(const std::string& strNative)
{
    struct stat st;
    if (stat(strNative.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(strNative.c_str(), X_OK) != 0) return 0;
    FILE* fp = std::fopen(strNative.c_str(), "rb");
    if (!fp) return 0;
    unsigned char ab[4] = {};
    const size_t n = std::fread(ab, 1, sizeof ab, fp);
    std::fclose(fp);
    return (n >= 4 && ab[0] == 0x7F && ab[1] == 'E' && ab[2] == 'L' && ab[3] == 'F') || (n >= 2 && ab[0] == '#' && ab[1] == '!');
}

static std::string MakeAbsolute(const std::string& strNative)
{
    if (!strNative.empty() && strNative[0] == '/') return strNative;
    char* pszCwd = getcwd(nullptr, 0);
    if (!pszCwd) return strNative;
    std::string strCwd = pszCwd;
    free(pszCwd);
    std::string strRest = strNative.rfind("./", 0) == 0 ? strNative.substr(2) : strNative;
    if (strRest == ".") return strCwd;
    return (strCwd == "/" ? std::string() : strCwd) + "/" + strRest;
}

namespace {

struct OPEN_FAILURE {
    std::string strTarget;
    int nExitCode;
};

void CallOpenFailureHandler(void* pArg)
{
    OPEN_FAILURE* p = static_cast<OPEN_FAILURE*>(pArg);
    if (PLAT_OPEN_FAILURE_HANDLER pfn = g_pfnOpenFailure.load()) pfn(p->strTarget.c_str(), p->nExitCode);
    delete p;
}

// Waits for the opener on a thread of its own (the opener may stay until the program it started
// ends) and hands a failing end to the window thread, without waiting for it.
void WatchOpener(pid_t pid, std::string strTarget)
{
    std::thread([pid, strTarget] {
        int nStatus = 0;
        pid_t r;
        do r = waitpid(pid, &nStatus, 0);
        while (r < 0 && errno == EINTR);
        if (r != pid) return;
        const int nCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : WIFSIGNALED(nStatus) ? 128 + WTERMSIG(nStatus) : 0;
        if (nCode == 0) return;
        OPEN_FAILURE* p = new OPEN_FAILURE{strTarget, nCode};
        // Once the window system has stopped the run is ending, and nobody is left to tell.
        if (PlatRunOnWindowThread(CallOpenFailureHandler, p, 0) != 0) delete p;
    }).detach();
}

}  // namespace

int PlatOpenWithAssociated(const char* pszTarget, const char* pszParams, PLAT_OPENED* pOpened)
{
    if (pOpened) *pOpened = PLAT_OPENED{0, 0};
    if (!pszTarget || !*pszTarget) return PLAT_OPEN_FAILED;
    const bool bParams = !PlatSplitCommandLine(pszParams).empty();
    std::vector<std::string> aNative;
    int bOpener = 1;
    if (PlatIsWebAddress(pszTarget)) {
        std::string strAddress = PlatCp932ToUtf8String(pszTarget);
        if (strAddress.rfind("://") == std::string::npos && (strAddress[0] | 0x20) == 'w' && strAddress[3] == '.')
            strAddress = "http://" + strAddress;
        aNative = {kOpener, strAddress};
    } else {
        std::string strNative;
        if (PlatResolvePath(pszTarget, &strNative) != 0) return PLAT_OPEN_MISSING;
        strNative = MakeAbsolute(strNative);
        if (IsExecutableFile(strNative)) {
            bOpener = 0;
            aNative.push_back(strNative);
            for (const std::string& s : PlatSplitCommandLine(pszParams)) aNative.push_back(PlatCp932ToUtf8String(s.c_str()));
        } else {
            aNative = {kOpener, strNative};
        }
    }
    if (bOpener && bParams)
        PlatTrace("open", (PlatCp932ToUtf8String(pszTarget) + ": the parameters \"" + PlatCp932ToUtf8String(pszParams) +
                           "\" are dropped: the desktop's opener takes the file alone")
                              .c_str());
    std::string strLine;
    for (const std::string& a : aNative) strLine += (strLine.empty() ? "" : " ") + a;
    PlatTrace("open", strLine.c_str());
    int nPid = 0;
    if (PlatSpawnNativeArgs(aNative, &nPid) != 0) return PLAT_OPEN_FAILED;
    if (pOpened) {
        *pOpened = PLAT_OPENED{nPid, bOpener};
    } else if (nPid > 0) {
        if (bOpener) WatchOpener(nPid, pszTarget);
        else PlatCollectLater(nPid);
    }
    return PLAT_OPEN_STARTED;
}

int PlatOpenWebPage(const char* pszText)
{
    if (!pszText || !*pszText) return PLAT_OPEN_FAILED;
    const std::vector<std::string> aNative = {kOpener, PlatCp932ToUtf8String(pszText)};
    PlatTrace("open", (aNative[0] + " " + aNative[1]).c_str());
    int nPid = 0;
    if (PlatSpawnNativeArgs(aNative, &nPid) != 0) return PLAT_OPEN_FAILED;
    if (nPid > 0) WatchOpener(nPid, pszText);
    return PLAT_OPEN_STARTED;
}

int PlatProcessEnded(int64_t llProcess, int* pnExitCode)
{
    if (pnExitCode) *pnExitCode = 0;
    if (llProcess <= 0) return 1;
    int nStatus = 0;
    pid_t r = waitpid(static_cast<pid_t>(llProcess), &nStatus, WNOHANG);
    if (r == 0) return 0;
    if (r < 0 && errno == EINTR) return 0;
    if (r > 0 && pnExitCode)
        *pnExitCode = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : WIFSIGNALED(nStatus) ? 128 + WTERMSIG(nStatus) : 0;
    return 1;
}

int PlatFindAssociatedProgram(const char* pszDocument, char* pszOut, size_t cap)
{
    if (pszOut && cap > 0) pszOut[0] = '\0';
    std::string strDoc;
    if (!pszDocument || !*pszDocument || PlatResolvePath(pszDocument, &strDoc) != 0) return -1;
    // Only an absolute folder, and a program name the engine can carry whole.
    std::string strEngine;
    const std::string strFound = PlatFindInPath(kOpener, [&](const std::string& strCand) {
        return strCand[0] == '/' && PlatNativeToEnginePath(strCand, &strEngine) == 0 && pszOut &&
               strEngine.size() + 1 <= cap;
    });
    if (strFound.empty()) return -1;
    memcpy(pszOut, strEngine.c_str(), strEngine.size() + 1);
    return 0;
}
