#include "fuzz/support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>

#include "core/codecs.h"
#include "core/compiler_link.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "core/script_thread.h"
#include "platform/plat_file.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_process.h"
#include "platform/plat_text.h"
#include "root/startup.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"

namespace fs = std::filesystem;

namespace {

bool s_bReady = false;
std::string s_strNative, s_strEngine;
int s_nReports = 0;
std::vector<std::string> s_names;
std::vector<COMPILER_FILE> s_files;
std::vector<COMPILER_FILE*> s_pointers;

bool s_bVerbose = false;

void CountReport(int nId, uint8_t bFatal, const char* pszText, void*)
{
    ++s_nReports;
    // KX_FUZZ_VERBOSE=1 shows how far an input got (to check the seeds pass every check).
    if (s_bVerbose) std::fprintf(stderr, "kxfuzz: report %d fatal %d: %s\n", nId, bFatal, pszText ? pszText : "");
}

int AnswerBox(const char*, const char*, const PLAT_MSGBOX_BUTTON*, int, int nDefaultId, int, void*) { return nDefaultId; }

// A fuzzed script or file never starts a program.
int RefuseSpawn(const std::vector<std::string>&, void*) { return -1; }

// The arguments libFuzzer reads after the initialisation: the inputs (corpus folders and files) and
// the values of the flags that name paths, made absolute against the folder the target started in.
void AbsoluteFuzzerPaths(int* pArgc, char*** pArgv)
{
    static std::deque<std::string> s_args;   // the rewritten arguments, alive for the process
    static const char* const kPathFlags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                             "-features_dir=", "-merge_control_file="};
    if (!pArgc || !pArgv || !*pArgv) return;
    for (int i = 1; i < *pArgc; ++i) {
        const char* psz = (*pArgv)[i];
        if (!psz || !*psz) continue;
        std::string strArg = psz;
        if (strArg[0] != '-') {
            strArg = fs::absolute(strArg).string();
        } else {
            bool bPath = false;
            for (const char* pszFlag : kPathFlags) {
                const size_t n = std::strlen(pszFlag);
                if (strArg.compare(0, n, pszFlag) == 0 && strArg.size() > n && strArg[n] != '/') {
                    strArg = strArg.substr(0, n) + fs::absolute(strArg.substr(n)).string();
                    bPath = true;
                    break;
                }
            }
            if (!bPath) continue;
        }
        s_args.push_back(strArg);
        (*pArgv)[i] = s_args.back().data();
    }
}

void RemoveDir(void)
{
    std::error_code ec;
    if (!s_strNative.empty()) fs::remove_all(s_strNative, ec);
}

}  // namespace

void FuzzInit(int* pArgc, char*** pArgv)
{
    if (s_bReady) return;
    s_bReady = true;
    AbsoluteFuzzerPaths(pArgc, pArgv);
    s_bVerbose = getenv("KX_FUZZ_VERBOSE") != nullptr;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("TZ", "UTC", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("KOLVEX_TRACE");

    std::string strTemplate = (fs::temp_directory_path() / "kxfuzz-XXXXXX").string();
    std::vector<char> buf(strTemplate.begin(), strTemplate.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        std::perror("kxfuzz: mkdtemp");
        std::abort();
    }
    s_strNative = buf.data();
    std::atexit(RemoveDir);
    s_strEngine = PlatUtf8ToCp932String(s_strNative.c_str());
    for (char& c : s_strEngine)
        if (c == '/') c = '\\';
    if (chdir(s_strNative.c_str()) != 0) std::abort();
    std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", s_strEngine.c_str());

    // Every hook table and the command table as the engine installs them.
    InstallEngineParts();
    SetErrorHook(CountReport, nullptr);
    PlatSetMessageBoxHook(AnswerBox, nullptr);
    PlatSetSpawnHook(RefuseSpawn, nullptr);
    InitPackNameTable();
    LoadCodecLibraries();
    LoadWebPDLL();
    FuzzEndInput();
}

const std::string& FuzzDirNative(void) { return s_strNative; }
const std::string& FuzzDirEngine(void) { return s_strEngine; }

void FuzzWriteFile(const std::string& strRelative, const uint8_t* pData, size_t nSize)
{
    fs::path p = fs::path(s_strNative) / strRelative;
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(pData), static_cast<std::streamsize>(nSize));
}

void FuzzEndInput(void)
{
    ResetErrorStateForRun();
    g_bEngineStop = 0;
    s_nReports = 0;
}

int FuzzReportCount(void) { return s_nReports; }

void FuzzSetMemoryFiles(const std::vector<FUZZ_FILE>& files)
{
    s_names.clear();
    s_files.clear();
    s_pointers.clear();
    s_names.reserve(files.size());
    s_files.reserve(files.size());
    for (const FUZZ_FILE& f : files) {
        s_names.push_back(f.strName);
        s_files.push_back(COMPILER_FILE{nullptr, static_cast<int32_t>(f.nSize), f.pData});
    }
    for (size_t i = 0; i < files.size(); ++i) {
        s_files[i].pszName = s_names[i].c_str();
        s_pointers.push_back(&s_files[i]);
    }
    g_apCompilerFiles = s_pointers.empty() ? nullptr : s_pointers.data();
    g_nCompilerFiles = static_cast<int32_t>(s_pointers.size());
}

void FuzzClearMemoryFiles(void) { FuzzSetMemoryFiles({}); }

std::vector<FUZZ_FILE> FuzzFilesOf(const std::vector<GAME_FILE>& files)
{
    std::vector<FUZZ_FILE> out;
    for (const GAME_FILE& f : files) out.push_back(FUZZ_FILE{f.strName, f.data.data(), f.data.size()});
    return out;
}

void FuzzSetMemoryFilesWithBody(const std::vector<GAME_FILE>& game, int nScript, const uint8_t* pData, size_t nSize)
{
    std::vector<FUZZ_FILE> files = FuzzFilesOf(game);
    const std::string strBody = KxBodyFileName(nScript);
    for (FUZZ_FILE& f : files)
        if (f.strName == strBody) f = FUZZ_FILE{strBody, pData, nSize};
    FuzzSetMemoryFiles(files);
}

GAME_DATA FuzzSampleGame(void)
{
    GAME_DATA game = DefaultGameData();
    game.errors = {{123456, "custom [%s]"}};
    game.defs.push_back(MakeIntVarDef(1000, 7));
    game.defs.push_back(MakeFloatVarDef(1001, 2.5, {3}));
    game.defs.push_back(MakeTextVarDef(1002, "text"));

    SCRIPT_BUILDER a;
    InitScriptBuilder(&a, 0);
    AddLabel(&a, KX_START_LABEL);
    BeginLoop(&a, MakeExprInt(3));
    BeginIf(&a, MakeExprVar(1000));
    AddLabel(&a, "a");
    EmitCommand(&a, KXCMD_NOP, {});
    EndIf(&a);
    EndLoop(&a);
    EmitCall(&a, "b");
    EmitCommand(&a, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1000000))});
    FinishScriptBody(&a);
    game.scripts.push_back(ScriptFromBuilder("main.txt", a));

    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 1);
    AddLabel(&b, "b");
    for (int i = 0; i < 6; ++i) EmitCommand(&b, KXCMD_NOP, {});
    EmitReturn(&b);
    FinishScriptBody(&b);
    game.scripts.push_back(ScriptFromBuilder("sub\\two.txt", b));
    return game;
}

TREE_NODE* FuzzCreateSystemThread(void)
{
    g_pThreadRoot = CreateRootNode();
    if (!g_pThreadRoot) return nullptr;
    TREE_NODE* pSystem = CreateNode(g_pThreadRoot, "SYSTEM", 0, 100);
    if (!pSystem) return nullptr;
    if (!AttachScriptThread(pSystem)) {
        RemoveNode(pSystem);
        FreeTreeNode(pSystem);
        return nullptr;
    }
    return pSystem;
}

void FuzzFreeScriptGame(void)
{
    FreeScriptTables();
    FreeVarTable();
    g_pCurThread = nullptr;
    g_pCurThreadNode = nullptr;
    if (g_pThreadRoot) {
        while (TREE_NODE* p = g_pThreadRoot->pFirstChild) {
            FreeScriptThread(static_cast<SCRIPT_THREAD*>(p->pPayload));
            RemoveNode(p);
            FreeTreeNode(p);
        }
        FreeTreeNode(g_pThreadRoot);
    }
    g_pThreadRoot = nullptr;
}
