#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <chrono>
#include <csignal>
#include <thread>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_process.h"
#include "platform/plat_text.h"

namespace fs = std::filesystem;

TEMP_DIR::TEMP_DIR()
{
    std::string strTemplate = (fs::temp_directory_path() / "kxtest-XXXXXX").string();
    std::vector<char> buf(strTemplate.begin(), strTemplate.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) std::abort();
    strNative = buf.data();
    strEngine = EnginePathFromNative(strNative);
}

TEMP_DIR::~TEMP_DIR()
{
    std::error_code ec;
    fs::remove_all(strNative, ec);
}

std::string TEMP_DIR::Write(const std::string& strRelative, const std::vector<uint8_t>& data) const
{
    fs::path p = fs::path(strNative) / strRelative;
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return p.string();
}

std::string TEMP_DIR::Write(const std::string& strRelative, const std::string& text) const
{
    return Write(strRelative, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string TEMP_DIR::Read(const std::string& strRelative) const
{
    std::ifstream in(fs::path(strNative) / strRelative, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TEMP_DIR::Exists(const std::string& strRelative) const
{
    return fs::exists(fs::path(strNative) / strRelative);
}

std::string EnginePathFromNative(const std::string& strNative)
{
    std::string s = PlatUtf8ToCp932String(strNative.c_str());
    // '/' never appears as a cp932 trail byte, so a plain replacement is safe here.
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

std::string Cp932(const char* pszUtf8) { return PlatUtf8ToCp932String(pszUtf8); }

static void RecordError(int nId, uint8_t bFatal, const char* pszText, void* pUser)
{
    static_cast<ERROR_RECORDER*>(pUser)->reports.push_back(ERROR_RECORD{nId, bFatal, pszText});
}

ERROR_RECORDER::ERROR_RECORDER()
{
    ResetErrorStateForRun();
    g_bEngineStop = 0;
    SetErrorHook(RecordError, this);
}

ERROR_RECORDER::~ERROR_RECORDER()
{
    SetErrorHook(nullptr, nullptr);
    ResetErrorStateForRun();
    g_bEngineStop = 0;
}

void ExpectOneFatalError(const ERROR_RECORDER& errors, int nId, const std::string& strCase)
{
    ASSERT_EQ(errors.reports.size(), 1u) << strCase;
    EXPECT_EQ(errors.reports[0].nId, nId) << strCase;
    EXPECT_EQ(errors.reports[0].bFatal, 1) << strCase;
    EXPECT_EQ(g_bEngineStop.load(), 1) << strCase;
}

static int RecordBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons, int nButtons,
                     int nDefaultId, int bUtf8, void* pUser)
{
    auto* r = static_cast<MSGBOX_RECORDER*>(pUser);
    MSGBOX_RECORD rec{pszCaption ? pszCaption : "", pszText ? pszText : "", {}, {}, nDefaultId, bUtf8};
    for (int i = 0; i < nButtons; ++i) {
        rec.buttonIds.push_back(pButtons[i].nId);
        rec.buttonTexts.push_back(pButtons[i].pszText ? pButtons[i].pszText : "");
    }
    r->boxes.push_back(rec);
    if (!r->answers.empty()) {
        int n = r->answers.front();
        r->answers.erase(r->answers.begin());
        return n;
    }
    return nDefaultId;
}

MSGBOX_RECORDER::MSGBOX_RECORDER() { PlatSetMessageBoxHook(RecordBox, this); }
MSGBOX_RECORDER::~MSGBOX_RECORDER() { PlatSetMessageBoxHook(nullptr, nullptr); }

static int RecordSpawn(const std::vector<std::string>& args, void* pUser)
{
    auto* r = static_cast<SPAWN_RECORDER*>(pUser);
    r->starts.push_back(args);
    return r->nResult;
}

SPAWN_RECORDER::SPAWN_RECORDER() { PlatSetSpawnHook(RecordSpawn, this); }
SPAWN_RECORDER::~SPAWN_RECORDER() { PlatSetSpawnHook(nullptr, nullptr); }

std::vector<uint8_t> MakeSettingsFile(const std::vector<int32_t>& slots, size_t nBytes)
{
    std::vector<uint8_t> out(128, 0);
    for (size_t i = 0; i < slots.size() && i < 32; ++i) {
        uint32_t v = static_cast<uint32_t>(slots[i]);
        for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    out.resize(nBytes, 0);
    return out;
}

extern char** environ;

void MakeSpawnArgs(SPAWN_ARGS* pOut, const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    pOut->args = args;
    pOut->env = env;
    for (char** p = environ; *p; ++p) pOut->env.push_back(*p);
    pOut->argv.clear();
    pOut->envp.clear();
    for (std::string& str : pOut->args) pOut->argv.push_back(str.data());
    pOut->argv.push_back(nullptr);
    for (std::string& str : pOut->env) pOut->envp.push_back(str.data());
    pOut->envp.push_back(nullptr);
}

int RunProgramForTest(const std::string& strPath, const std::vector<std::string>& args,
                      const std::vector<std::string>& env, const std::string& strStderrPath)
{
    std::vector<std::string> argAll = {strPath};
    argAll.insert(argAll.end(), args.begin(), args.end());
    SPAWN_ARGS sa;
    MakeSpawnArgs(&sa, argAll, env);
    pid_t pid = 0;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!strStderrPath.empty())
        posix_spawn_file_actions_addopen(&fa, 2, strStderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nSpawn = posix_spawn(&pid, sa.argv[0], &fa, nullptr, sa.argv.data(), sa.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (nSpawn != 0) return -2;
    for (int i = 0; i < 6000; ++i) {
        int nStatus = 0;
        if (waitpid(pid, &nStatus, WNOHANG) == pid) return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -3;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

static std::string ReadWholeFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

static std::string MakeTempOutputFile(void)
{
    std::string strTemplate = (fs::temp_directory_path() / "kxout-XXXXXX").string();
    std::vector<char> buf(strTemplate.begin(), strTemplate.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0) return std::string();
    close(fd);
    return buf.data();
}

int StartProgramForTest(RUNNING_PROGRAM* pRun, const std::string& strPath, const std::vector<std::string>& args,
                        const std::vector<std::string>& env, const std::string& strCwd)
{
    pRun->strOutFile = MakeTempOutputFile();
    pRun->strErrFile = MakeTempOutputFile();
    if (pRun->strOutFile.empty() || pRun->strErrFile.empty()) return -1;
    std::vector<std::string> argAll = {strPath};
    argAll.insert(argAll.end(), args.begin(), args.end());
    SPAWN_ARGS sa;
    MakeSpawnArgs(&sa, argAll, env);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, pRun->strOutFile.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&fa, 2, pRun->strErrFile.c_str(), O_WRONLY | O_TRUNC, 0);
    if (!strCwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, strCwd.c_str());
    pid_t pid = 0;
    const int r = posix_spawn(&pid, sa.argv[0], &fa, nullptr, sa.argv.data(), sa.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (r != 0) return -1;
    pRun->nPid = pid;
    return 0;
}

int SignalProgramForTest(RUNNING_PROGRAM* pRun, int nSignal)
{
    return pRun->nPid > 0 && kill(pRun->nPid, nSignal) == 0 ? 0 : -1;
}

PROGRAM_RESULT WaitProgramForTest(RUNNING_PROGRAM* pRun, int nMs)
{
    PROGRAM_RESULT res;
    if (pRun->nPid <= 0) return res;
    res.nStatus = -1;
    for (int i = 0; i <= nMs / 10; ++i) {
        int nStatus = 0;
        if (waitpid(pRun->nPid, &nStatus, WNOHANG) == pRun->nPid) {
            res.nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -3;
            pRun->nPid = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pRun->nPid > 0) {
        kill(pRun->nPid, SIGKILL);
        waitpid(pRun->nPid, nullptr, 0);
        pRun->nPid = 0;
    }
    res.strOut = ReadWholeFile(pRun->strOutFile);
    res.strErr = ReadWholeFile(pRun->strErrFile);
    return res;
}

RUNNING_PROGRAM::~RUNNING_PROGRAM()
{
    if (nPid > 0) {
        kill(nPid, SIGKILL);
        waitpid(nPid, nullptr, 0);
    }
    if (!strOutFile.empty()) unlink(strOutFile.c_str());
    if (!strErrFile.empty()) unlink(strErrFile.c_str());
}

PROGRAM_RESULT RunProgramCaptured(const std::string& strPath, const std::vector<std::string>& args,
                                  const std::vector<std::string>& env, const std::string& strCwd)
{
    RUNNING_PROGRAM run;
    if (StartProgramForTest(&run, strPath, args, env, strCwd) != 0) return PROGRAM_RESULT{};
    return WaitProgramForTest(&run, 60000);
}
