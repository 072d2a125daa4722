// A base for the tests of the commands that reach the host (files, dialogs, clipboard, registry,
// the system command): a script game with a few user variables, a dialog fake that answers from a
// queue and records what it was asked, and a registry store in the test's folder.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <string>
#include <utility>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "platform/plat_dialog.h"
#include "platform/plat_registry.h"
#include "script/variables.h"
#include "tests/support/script_game_fixture.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"

// User variables of the test games and their values at start.
constexpr uint16_t kInt = 1000;     // 7
constexpr uint16_t kFloat = 1001;   // 1.5
constexpr uint16_t kText = 1002;    // "x"
constexpr uint16_t kTexts = 1003;   // 8 texts "?"
constexpr uint16_t kInts = 1004;    // 8 integers -1
constexpr uint16_t kShort = 1005;   // 2 texts "?"

inline BUILDER_ARG IntArg(uint8_t id, int64_t v) { return ExprArg(id, MakeExprInt(v)); }
inline BUILDER_ARG TextArg(uint8_t id, const std::string& s) { return ExprArg(id, MakeExprText(s), EVALTYPE_TEXT); }
inline EXPR_BYTES Var(uint16_t n) { return MakeExprVar(n); }
inline EXPR_BYTES Elem(uint16_t n, int64_t k) { return MakeExprElement(n, {k}); }
inline BUILDER_ARG OutArg(uint8_t id, EXPR_BYTES expr, uint8_t bType = EVALTYPE_INT)
{
    return ExprArg(id, std::move(expr), bType);
}
inline std::string VarText(uint16_t n, int64_t k)
{
    const char* psz = GetVarString(n, k);
    return psz ? psz : "<none>";
}

// What the fake was asked, and its answers in order (then cancelled).
struct DIALOG_SEEN {
    int nKind;
    std::string strCaption, strText, strInitial;
    int nLimit;
    std::string strFilter;
};
struct DIALOG_FAKE {
    std::vector<std::pair<int, std::string>> answers;
    std::vector<DIALOG_SEEN> seen;
    static int Answer(const PLAT_DIALOG_REQUEST* pReq, std::string* pOut, void* pUser)
    {
        DIALOG_FAKE* p = static_cast<DIALOG_FAKE*>(pUser);
        auto s = [](const char* psz) { return std::string(psz ? psz : ""); };
        p->seen.push_back({pReq->nKind, s(pReq->pszCaption), s(pReq->pszText), s(pReq->pszInitial), pReq->nLimit,
                           s(pReq->pszFilterName) + "|" + s(pReq->pszFilterPattern)});
        if (p->answers.empty()) return 0;
        auto a = p->answers.front();
        p->answers.erase(p->answers.begin());
        *pOut = a.second;
        return a.first;
    }
    DIALOG_FAKE() { PlatSetDialogHook(Answer, this); }
    ~DIALOG_FAKE() { PlatSetDialogHook(nullptr, nullptr); }
};

inline int RemoveTreeEntryForTest(const char* pszPath, const struct stat*, int, struct FTW*) { return remove(pszPath); }
inline std::string TempFolderForTest(void)
{
    std::string s = "/tmp/kxhost-XXXXXX";
    return mkdtemp(&s[0]) ? s : std::string();
}
inline void RemoveTempFolderForTest(const std::string& s)
{
    if (!s.empty()) nftw(s.c_str(), RemoveTreeEntryForTest, 16, FTW_DEPTH | FTW_PHYS);
}

class HOST_CMD_FIXTURE : public SCRIPT_GAME_FIXTURE {
protected:
    DIALOG_FAKE dialogs;
    void SetUp() override
    {
        PlatSetRegistryPathForTest((dir.strNative + "/registry.reg").c_str());
        userDefs = {MakeIntVarDef(kInt, 7),           MakeFloatVarDef(kFloat, 1.5),
                    MakeTextVarDef(kText, "x"),       MakeTextVarDef(kTexts, "?", {8}),
                    MakeIntVarDef(kInts, -1, {8}),    MakeTextVarDef(kShort, "?", {2})};
        OpenScriptGame();
    }
    void TearDown() override
    {
        CloseScriptGame();
        PlatSetRegistryPathForTest(nullptr);
    }
    // A fresh script in the same folder.
    void Restart()
    {
        CloseScriptGame();
        errors.reports.clear();
        ResetErrorStateForRun();
        g_bEngineStop = 0;
        dialogs.seen.clear();
        dialogs.answers.clear();
        OpenScriptGame();
    }
    void Emit(int nOp, const std::vector<BUILDER_ARG>& args)
    {
        ASSERT_GE(EmitCommand(&b, static_cast<uint8_t>(nOp), args), 0) << b.strError;
    }
    // The system command with its code and more arguments.
    void Sys(int64_t llCode, std::vector<BUILDER_ARG> args = {})
    {
        args.insert(args.begin(), IntArg(0, llCode));
        Emit(KXCMD_SYSTEM, args);
    }
    // Starts the script and runs one pass; by default nothing may be reported.
    void Run(bool bNoReports = true)
    {
        StartParked(1000000);
        if (HasFatalFailure()) return;
        Pass();
        if (bNoReports) {
            for (const ERROR_RECORD& r : errors.reports) ADD_FAILURE() << "report " << r.nId << ": " << r.strText;
        }
    }
};
