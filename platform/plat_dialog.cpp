// Dialogs through zenity.
#include "platform/plat_dialog.h"
#include "platform/plat_file.h"
#include "platform/plat_internal.h"
#include "platform/plat_text.h"
#include "platform/plat_thread.h"
#include "platform/plat_window_backend.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::mutex g_mxDialog;
PLAT_DIALOG_HOOK g_pfnDialogHook = nullptr;
void* g_pDialogHookUser = nullptr;

bool IsLead932(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The zenity program: KOLVEX_ZENITY, else "zenity" in PATH. "" when there is none.
std::string FindZenity(void)
{
    const char* psz = getenv("KOLVEX_ZENITY");
    if (psz && *psz) return access(psz, X_OK) == 0 ? std::string(psz) : std::string();
    return PlatFindInPath("zenity");
}

// 1 when a locale value names the UTF-8 character set ("C.UTF-8", "ja_JP.utf8").
bool IsUtf8Locale(const char* psz)
{
    if (!psz) return false;
    std::string s = psz;
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
}

// The environment for the dialog program: ours, with the character type UTF-8. The texts go to it
// and come back in UTF-8, and under another character set (the C locale) zenity refuses arguments
// it cannot read as such and writes what was typed with '?' for each character it cannot show.
// The language of its buttons stays as it was.
std::vector<std::string> Utf8Environment(void)
{
    std::vector<std::string> env;
    const char* pszAll = getenv("LC_ALL");
    const char* pszCtype = pszAll && *pszAll ? pszAll : getenv("LC_CTYPE");
    if (!pszCtype || !*pszCtype) pszCtype = getenv("LANG");
    const bool bUtf8 = IsUtf8Locale(pszCtype);
    for (char** p = environ; *p; ++p) {
        const std::string strVar = *p;
        if (!bUtf8 && (strVar.rfind("LC_ALL=", 0) == 0 || strVar.rfind("LC_CTYPE=", 0) == 0)) continue;
        env.push_back(strVar);
    }
    if (!bUtf8) {
        if (pszAll && *pszAll && !getenv("LC_MESSAGES")) env.push_back(std::string("LC_MESSAGES=") + pszAll);
        env.push_back("LC_CTYPE=C.UTF-8");
    }
    return env;
}

// The output of a dialog program as it comes, read without blocking.
struct DIALOG_WAIT {
    int fd;
    pid_t pid;
    std::string* pOut;
    bool bClosed;    // the program closed its output
    bool bEnded;     // the program ended (nStatus holds how)
    int nStatus;
    bool bStopped;   // a window of the game is closing: the program was told to end
};

// Takes what the program has written so far.
void ReadAvailable(DIALOG_WAIT* w)
{
    char buf[4096];
    while (!w->bClosed) {
        const ssize_t n = read(w->fd, buf, sizeof buf);
        if (n > 0) {
            w->pOut->append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        w->bClosed = true;
    }
}

// One look at the dialog: 1 when the wait is over (the program ended; a program that leaves a child
// holding its output is not waited for beyond its own end).
int DialogWaitDone(void* pArg)
{
    DIALOG_WAIT* w = static_cast<DIALOG_WAIT*>(pArg);
    ReadAvailable(w);
    if (!w->bEnded) {
        pid_t r;
        while ((r = waitpid(w->pid, &w->nStatus, WNOHANG)) < 0 && errno == EINTR) {}
        if (r == w->pid || r < 0) {
            w->bEnded = true;
            if (r < 0) w->nStatus = -1;
        }
    }
    if (w->bEnded) {
        ReadAvailable(w);
        return 1;
    }
    // The player closed the game's window meanwhile and the game agreed: the dialog goes as
    // cancelled, so that the command waiting for it ends.
    if (!w->bStopped && PlatServeCloseRequestsInWait()) {
        kill(w->pid, SIGTERM);
        w->bStopped = true;
    }
    return 0;
}

// Runs the program with its arguments (UTF-8) and collects its standard output. Its exit status,
// or -1 when it could not be run or ended by a signal. While the program runs, the wait serves the
// window thread: the game's windows keep their pictures, boxes of other threads are shown and the
// close button asks the game's question.
int RunCollect(const std::vector<std::string>& args, std::string* pOut)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawnattr_t attr;
    PlatInitChildSpawnAttr(&attr);
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& s : copy) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    std::vector<std::string> env = Utf8Environment();
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(&s[0]);
    envp.push_back(nullptr);
    pid_t pid;
    int r = posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (r != 0) {
        close(fds[0]);
        return -1;
    }
    DIALOG_WAIT wait{fds[0], pid, pOut, false, false, 0, false};
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    PlatWaitUntil(DialogWaitDone, &wait, 10);
    close(fds[0]);
    // Stopped: the answer is the dialog's cancel.
    if (wait.bStopped) return 1;
    if (wait.nStatus == -1) return -1;
    return WIFEXITED(wait.nStatus) ? WEXITSTATUS(wait.nStatus) : -1;
}

std::string Utf8(const char* psz) { return PlatCp932ToUtf8String(psz ? psz : ""); }

int RunZenity(const std::string& strZenity, const PLAT_DIALOG_REQUEST* pReq, std::string* pOut)
{
    std::vector<std::string> args = {strZenity};
    std::string strTemp;
    switch (pReq->nKind) {
    case PLAT_DLG_INPUT:
        args.push_back("--entry");
        args.push_back("--text=" + Utf8(pReq->pszText));
        args.push_back("--entry-text=" + Utf8(pReq->pszInitial));
        break;
    case PLAT_DLG_EDIT: {
        // The initial text reaches zenity through a private temporary file.
        char szTemp[] = "/tmp/kolvex-edit-XXXXXX";
        int fd = mkstemp(szTemp);
        if (fd < 0) return -1;
        std::string strInit;
        for (const char* p = pReq->pszInitial ? pReq->pszInitial : ""; *p; p++)
            if (*p != '\r') strInit.push_back(*p);
        strInit = Utf8(strInit.c_str());
        bool bOk = write(fd, strInit.data(), strInit.size()) == (ssize_t)strInit.size();
        close(fd);
        strTemp = szTemp;
        if (!bOk) {
            unlink(szTemp);
            return -1;
        }
        args.push_back("--text-info");
        args.push_back("--editable");
        args.push_back("--filename=" + strTemp);
        break;
    }
    case PLAT_DLG_SAVE_FILE:
        args.push_back("--file-selection");
        args.push_back("--save");
        args.push_back("--confirm-overwrite");
        if (pReq->pszInitial && *pReq->pszInitial) args.push_back("--filename=" + Utf8(pReq->pszInitial));
        if (pReq->pszFilterPattern && *pReq->pszFilterPattern)
            args.push_back("--file-filter=" + Utf8(pReq->pszFilterName) + " | " + Utf8(pReq->pszFilterPattern));
        break;
    case PLAT_DLG_FOLDER: {
        args.push_back("--file-selection");
        args.push_back("--directory");
        std::string strInit;
        if (pReq->pszInitial && *pReq->pszInitial && PlatResolvePath(pReq->pszInitial, &strInit) == 0)
            args.push_back("--filename=" + strInit + "/");
        break;
    }
    default: return -1;
    }
    args.push_back("--title=" + Utf8(pReq->pszCaption));
    std::string strRaw;
    int nStatus = RunCollect(args, &strRaw);
    if (!strTemp.empty()) unlink(strTemp.c_str());
    if (nStatus < 0) return -1;
    if (nStatus != 0) return 0;
    if (pReq->nKind != PLAT_DLG_EDIT && !strRaw.empty() && strRaw.back() == '\n') strRaw.pop_back();
    if (pReq->nKind == PLAT_DLG_SAVE_FILE || pReq->nKind == PLAT_DLG_FOLDER) {
        if (strRaw.empty()) return 0;
        return PlatNativeToEnginePath(strRaw, pOut) == 0 ? 1 : 0;
    }
    std::string strText = PlatUtf8ToCp932String(strRaw.c_str());
    if (pReq->nKind == PLAT_DLG_EDIT) {
        pOut->clear();
        for (char c : strText) {
            if (c == '\n') pOut->push_back('\r');
            if (c != '\r') pOut->push_back(c);
        }
    } else {
        *pOut = strText;
    }
    return 1;
}

}  // namespace

void PlatCutCp932(std::string* pText, size_t nLimit)
{
    if (pText->size() <= nLimit) return;
    size_t i = 0;
    while (i < pText->size()) {
        size_t n = IsLead932((unsigned char)(*pText)[i]) && i + 1 < pText->size() ? 2 : 1;
        if (i + n > nLimit) break;
        i += n;
    }
    pText->resize(i);
}

int PlatShowDialog(const PLAT_DIALOG_REQUEST* pReq, std::string* pOut)
{
    pOut->clear();
    PLAT_DIALOG_HOOK pfnHook;
    void* pUser;
    {
        std::lock_guard<std::mutex> lock(g_mxDialog);
        pfnHook = g_pfnDialogHook;
        pUser = g_pDialogHookUser;
    }
    int r;
    if (pfnHook) {
        r = pfnHook(pReq, pOut, pUser);
    } else if (PlatIsHeadless()) {
        const char* pszShown = pReq->nKind == PLAT_DLG_INPUT ? pReq->pszText : pReq->pszInitial;
        fprintf(stderr, "[%s]\n%s\n", Utf8(pReq->pszCaption).c_str(), Utf8(pszShown).c_str());
        fflush(stderr);
        if (pReq->nKind == PLAT_DLG_INPUT || pReq->nKind == PLAT_DLG_EDIT) {
            *pOut = pReq->pszInitial ? pReq->pszInitial : "";
            r = 1;
        } else {
            r = 0;
        }
    } else {
        std::string strZenity = FindZenity();
        r = strZenity.empty() ? 0 : RunZenity(strZenity, pReq, pOut);
    }
    if (r != 1) pOut->clear();
    else if (pReq->nLimit > 0) PlatCutCp932(pOut, (size_t)pReq->nLimit);
    return r;
}

void PlatSetDialogHook(PLAT_DIALOG_HOOK pfnHook, void* pUser)
{
    std::lock_guard<std::mutex> lock(g_mxDialog);
    g_pfnDialogHook = pfnHook;
    g_pDialogHookUser = pUser;
}
