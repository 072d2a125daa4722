// The script builder and the game-file helpers.
#include "tools/lib/script_builder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/error_texts.h"
#include "core/errors.h"
#include "tools/lib/command_table.h"
#include "tools/lib/pack_writer.h"

namespace {

int Fail(SCRIPT_BUILDER* pB, const char* pszWhat)
{
    if (pB->strError.empty()) pB->strError = pszWhat;
    return -1;
}

bool ValidTarget(const SCRIPT_BUILDER* pB, int nTarget)
{
    return nTarget >= 0 && static_cast<size_t>(nTarget) < pB->targets.size();
}

// The command of a flow statement with an optional count argument (id 0).
int EmitCountCommand(SCRIPT_BUILDER* pB, uint8_t bOpcode, const std::optional<EXPR_BYTES>& n)
{
    std::vector<BUILDER_ARG> args;
    if (n) args.push_back(ExprArg(0, *n));
    return EmitCommand(pB, bOpcode, args);
}

// Argument records of the value groups of a call or return, starting at the given ids.
void AddValueArgs(std::vector<BUILDER_ARG>& args, const BUILDER_VALUES& v, int nIntId, int nFloatId, int nTextId)
{
    for (size_t i = 0; i < v.ints.size(); i++)
        if (v.ints[i]) args.push_back(ExprArg(static_cast<uint8_t>(nIntId + i), *v.ints[i], EVALTYPE_INT));
    for (size_t i = 0; i < v.floats.size(); i++)
        if (v.floats[i]) args.push_back(ExprArg(static_cast<uint8_t>(nFloatId + i), *v.floats[i], EVALTYPE_FLOAT));
    for (size_t i = 0; i < v.texts.size(); i++)
        if (v.texts[i]) args.push_back(ExprArg(static_cast<uint8_t>(nTextId + i), *v.texts[i], EVALTYPE_TEXT));
}

uint16_t ValueCountWord(const BUILDER_VALUES& v)
{
    return MakeCallCountWord(static_cast<int>(v.ints.size()), static_cast<int>(v.floats.size()),
                             static_cast<int>(v.texts.size()));
}

bool ValuesFit(const BUILDER_VALUES& v)
{
    return v.ints.size() <= 16 && v.floats.size() <= 16 && v.texts.size() <= 16;
}

// Ends the open branch of the innermost if-block.
int EndBranch(SCRIPT_BUILDER* pB) { return EmitCommand(pB, KXCMD_BRANCH_END, {}); }

}  // namespace

BUILDER_ARG ExprArg(uint8_t bId, EXPR_BYTES expr, uint8_t bType, uint8_t bOp)
{
    BUILDER_ARG a;
    a.bId = bId;
    a.expr = std::move(expr);
    a.bType = bType;
    a.bOp = bOp;
    return a;
}

BUILDER_ARG TargetArg(uint8_t bId, int nTarget)
{
    BUILDER_ARG a;
    a.bId = bId;
    a.nTarget = nTarget;
    return a;
}

void InitScriptBuilder(SCRIPT_BUILDER* pB, uint16_t nScript)
{
    *pB = SCRIPT_BUILDER{};
    pB->nScript = nScript;
}

int NextCommandIndex(const SCRIPT_BUILDER* pB) { return static_cast<int>(pB->body.commands.size()); }

void SetSourceLine(SCRIPT_BUILDER* pB, uint32_t nLine) { pB->nNextLine = nLine; }

uint32_t AppendExpr(SCRIPT_BUILDER* pB, const EXPR_BYTES& expr)
{
    uint32_t nOffset = static_cast<uint32_t>(pB->body.expr.size());
    pB->body.expr.insert(pB->body.expr.end(), expr.begin(), expr.end());
    return nOffset;
}

int EmitRawCommand(SCRIPT_BUILDER* pB, const KX_COMMAND_RECORD& rec)
{
    int nIndex = NextCommandIndex(pB);
    pB->body.commands.push_back(rec);
    pB->body.lines.resize(pB->body.commands.size() - 1, 0);
    pB->body.lines.push_back(pB->nNextLine++);
    return nIndex;
}

int EmitCommand(SCRIPT_BUILDER* pB, uint8_t bOpcode, const std::vector<BUILDER_ARG>& args, uint16_t wWord)
{
    if (args.size() > 255) return Fail(pB, "more than 255 arguments");
    for (const BUILDER_ARG& a : args)
        if (a.nTarget >= 0 && !ValidTarget(pB, a.nTarget)) return Fail(pB, "unknown target");
    KX_COMMAND_RECORD rec;
    rec.bOpcode = bOpcode;
    rec.wWord = wWord;
    int nIndex = NextCommandIndex(pB);
    for (size_t i = 0; i < args.size(); i++) {
        const BUILDER_ARG& a = args[i];
        KX_ARG_RECORD r;
        r.bId = a.bId;
        r.bType = a.bType;
        r.bOp = a.bOp;
        if (a.nTarget >= 0) {
            int64_t llAt = pB->targets[a.nTarget];
            if (llAt >= 0)
                r.nLength = static_cast<uint32_t>(llAt);
            else
                pB->patches.push_back({nIndex, static_cast<int>(i), a.nTarget});
        } else {
            r.nOffset = AppendExpr(pB, a.expr);
            r.nLength = static_cast<uint32_t>(a.expr.size());
        }
        rec.args.push_back(r);
    }
    return EmitRawCommand(pB, rec);
}

int NewTarget(SCRIPT_BUILDER* pB)
{
    pB->targets.push_back(-1);
    return static_cast<int>(pB->targets.size() - 1);
}

int SetTarget(SCRIPT_BUILDER* pB, int nTarget, int64_t llCommand)
{
    if (!ValidTarget(pB, nTarget)) return Fail(pB, "unknown target");
    pB->targets[nTarget] = llCommand;
    for (auto it = pB->patches.begin(); it != pB->patches.end();) {
        if (it->nTarget == nTarget) {
            pB->body.commands[it->nCommand].args[it->nArg].nLength = static_cast<uint32_t>(llCommand);
            it = pB->patches.erase(it);
        } else {
            ++it;
        }
    }
    return 0;
}

int PlaceTarget(SCRIPT_BUILDER* pB, int nTarget) { return SetTarget(pB, nTarget, NextCommandIndex(pB)); }

int AddLabel(SCRIPT_BUILDER* pB, const std::string& strName)
{
    if (strName.size() > 255) return Fail(pB, "label name longer than 255 bytes");
    KXL_LABEL l;
    l.strName = strName;
    l.nCommand = NextCommandIndex(pB);
    l.nScript = pB->nScript;
    l.bIfDepth = static_cast<uint8_t>(pB->nIfDepth);
    l.bLoopDepth = static_cast<uint8_t>(pB->nLoopDepth);
    pB->labels.push_back(l);
    return 0;
}

int BeginIf(SCRIPT_BUILDER* pB, const EXPR_BYTES& cond, uint8_t bType)
{
    BUILDER_CONSTRUCT c;
    c.nKind = CONSTRUCT_IF;
    c.nNextTarget = NewTarget(pB);
    c.nEndTarget = NewTarget(pB);
    int r = EmitCommand(pB, KXCMD_IF, {ExprArg(0, cond, bType), TargetArg(1, c.nNextTarget), TargetArg(2, c.nEndTarget)});
    if (r < 0) return r;
    pB->open.push_back(c);
    pB->nIfDepth++;
    return r;
}

int AddElseIf(SCRIPT_BUILDER* pB, const EXPR_BYTES& cond, uint8_t bType)
{
    if (pB->open.empty() || pB->open.back().nKind != CONSTRUCT_IF) return Fail(pB, "else-if outside an if-block");
    BUILDER_CONSTRUCT& c = pB->open.back();
    if (c.nNextTarget < 0) return Fail(pB, "else-if after else");
    if (EndBranch(pB) < 0 || PlaceTarget(pB, c.nNextTarget) < 0) return -1;
    c.nNextTarget = NewTarget(pB);
    return EmitCommand(pB, KXCMD_ELSE, {ExprArg(0, cond, bType), TargetArg(1, c.nNextTarget)});
}

int AddElse(SCRIPT_BUILDER* pB)
{
    if (pB->open.empty() || pB->open.back().nKind != CONSTRUCT_IF) return Fail(pB, "else outside an if-block");
    BUILDER_CONSTRUCT& c = pB->open.back();
    if (c.nNextTarget < 0) return Fail(pB, "second else");
    if (EndBranch(pB) < 0 || PlaceTarget(pB, c.nNextTarget) < 0) return -1;
    c.nNextTarget = -1;
    return EmitCommand(pB, KXCMD_ELSE, {});
}

int EndIf(SCRIPT_BUILDER* pB)
{
    if (pB->open.empty() || pB->open.back().nKind != CONSTRUCT_IF) return Fail(pB, "end-if outside an if-block");
    BUILDER_CONSTRUCT c = pB->open.back();
    if (EndBranch(pB) < 0) return -1;
    // The last branch has no further head: 0 stands for none.
    if (c.nNextTarget >= 0 && SetTarget(pB, c.nNextTarget, 0) < 0) return -1;
    if (PlaceTarget(pB, c.nEndTarget) < 0) return -1;
    pB->open.pop_back();
    pB->nIfDepth--;
    return EmitCommand(pB, KXCMD_END_IF, {});
}

int BeginLoop(SCRIPT_BUILDER* pB, const EXPR_BYTES& count, uint8_t bType)
{
    BUILDER_CONSTRUCT c;
    c.nKind = CONSTRUCT_LOOP;
    c.nEndTarget = NewTarget(pB);
    int r = EmitCommand(pB, KXCMD_LOOP, {ExprArg(0, count, bType), TargetArg(1, c.nEndTarget)});
    if (r < 0) return r;
    pB->open.push_back(c);
    pB->nLoopDepth++;
    return r;
}

int EndLoop(SCRIPT_BUILDER* pB)
{
    if (pB->open.empty() || pB->open.back().nKind != CONSTRUCT_LOOP) return Fail(pB, "loop-end outside a loop");
    if (PlaceTarget(pB, pB->open.back().nEndTarget) < 0) return -1;
    pB->open.pop_back();
    pB->nLoopDepth--;
    return EmitCommand(pB, KXCMD_LOOP_END, {});
}

int EmitBreak(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n) { return EmitCountCommand(pB, KXCMD_BREAK, n); }
int EmitContinue(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n) { return EmitCountCommand(pB, KXCMD_CONTINUE, n); }
int EmitIfBreak(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n) { return EmitCountCommand(pB, KXCMD_IF_BREAK, n); }
int EmitIfRetry(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n) { return EmitCountCommand(pB, KXCMD_IF_RETRY, n); }

int EmitGoto(SCRIPT_BUILDER* pB, const std::string& strLabel) { return EmitGotoExpr(pB, EncodeTextLiteral(strLabel)); }

int EmitGotoExpr(SCRIPT_BUILDER* pB, const EXPR_BYTES& label)
{
    return EmitCommand(pB, KXCMD_GOTO, {ExprArg(0, label, EVALTYPE_TEXT)});
}

int EmitCall(SCRIPT_BUILDER* pB, const std::string& strLabel, const BUILDER_VALUES& values)
{
    return EmitCallExpr(pB, EncodeTextLiteral(strLabel), values);
}

int EmitCallExpr(SCRIPT_BUILDER* pB, const EXPR_BYTES& label, const BUILDER_VALUES& values)
{
    if (!ValuesFit(values)) return Fail(pB, "more than 16 values in a group");
    std::vector<BUILDER_ARG> args = {ExprArg(KX_CALL_ARG_LABEL, label, EVALTYPE_TEXT)};
    AddValueArgs(args, values, KX_CALL_ARG_INT, KX_CALL_ARG_FLOAT, KX_CALL_ARG_TEXT);
    return EmitCommand(pB, KXCMD_GOSUB, args, ValueCountWord(values));
}

int EmitReturn(SCRIPT_BUILDER* pB, const BUILDER_VALUES& values)
{
    if (!ValuesFit(values)) return Fail(pB, "more than 16 values in a group");
    std::vector<BUILDER_ARG> args;
    AddValueArgs(args, values, KX_RETURN_ARG_INT, KX_RETURN_ARG_FLOAT, KX_RETURN_ARG_TEXT);
    return EmitCommand(pB, KXCMD_RETURN, args, ValueCountWord(values));
}

int FinishScriptBody(SCRIPT_BUILDER* pB)
{
    if (!pB->open.empty()) return Fail(pB, pB->open.back().nKind == CONSTRUCT_IF ? "if-block not closed" : "loop not closed");
    if (!pB->patches.empty()) return Fail(pB, "target never placed");
    if (!pB->strError.empty()) return -1;
    pB->body.lines.resize(pB->body.commands.size(), 0);
    return 0;
}

// ---- a whole game --------------------------------------------------------------------------------

GAME_DATA DefaultGameData()
{
    GAME_DATA game;
    game.commands = CanonicalCommandTable();
    game.defs = StandardSysVarDefs();
    return game;
}

GAME_SCRIPT ScriptFromBuilder(const std::string& strName, const SCRIPT_BUILDER& b)
{
    GAME_SCRIPT s;
    s.strName = strName;
    s.body = b.body;
    s.labels = b.labels;
    return s;
}

std::vector<KXE_ENTRY> GameErrorTexts(const GAME_DATA& game)
{
    std::vector<KXE_ENTRY> texts = game.errors;
    if (!game.bStandardErrorTexts) return texts;
    int nCount = 0;
    const STANDARD_ERROR_TEXT* pTexts = GetStandardErrorTexts(&nCount);
    for (int i = 0; i < nCount && texts.size() < KX_ERROR_TABLE_MAX; ++i) {
        const int nId = pTexts[i].nId;
        if (std::any_of(game.errors.begin(), game.errors.end(), [&](const KXE_ENTRY& e) { return e.nId == nId; })) continue;
        texts.push_back(KXE_ENTRY{nId, StandardErrorTextCp932(nId)});
    }
    return texts;
}

std::vector<GAME_FILE> BuildGameFiles(const GAME_DATA& game)
{
    int32_t nHighest = game.nHighestVar;
    if (nHighest < 0) {
        nHighest = 999;
        for (const KXV_DEF& d : game.defs) nHighest = std::max<int32_t>(nHighest, d.nVar);
    }
    std::vector<KXT_LIST_ENTRY> list;
    std::vector<KXL_LABEL> labels;
    for (size_t i = 0; i < game.scripts.size(); i++) {
        const GAME_SCRIPT& s = game.scripts[i];
        list.push_back({static_cast<int32_t>(i), s.strName, s.nValue, {}});
        for (KXL_LABEL l : s.labels) {
            l.nScript = static_cast<uint16_t>(i);
            labels.push_back(l);
        }
    }
    std::vector<GAME_FILE> files = {
        {KXBIN_KXCFG, BuildKxcfg(game.config)},
        {KXBIN_KXE, BuildKxe(GameErrorTexts(game))},
        {KXBIN_KXC, BuildKxc(game.commands)},
        {KXBIN_KXT, BuildKxt(nHighest, game.nVarTableExtra)},
        {KXBIN_KXT_LIST, BuildKxtList(list)},
        {KXBIN_KXV, BuildKxv(game.defs)},
        {KXBIN_KXL, BuildKxl(labels)},
    };
    for (size_t i = 0; i < game.scripts.size(); i++)
        files.push_back({KxBodyFileName(static_cast<int>(i)), BuildKxBody(game.scripts[i].body)});
    return files;
}

int WriteGameFolder(const std::string& strNativeFolder, const std::vector<GAME_FILE>& files)
{
    for (const GAME_FILE& f : files) {
        std::string strRel = f.strName;
        std::replace(strRel.begin(), strRel.end(), '\\', '/');
        std::filesystem::path path = std::filesystem::path(strNativeFolder) / strRel;
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) return -1;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(f.data.data()), static_cast<std::streamsize>(f.data.size()));
        if (!out) return -1;
    }
    return 0;
}

int WriteGamePack(const std::string& strNativePackPath, const std::vector<GAME_FILE>& files)
{
    std::vector<PACK_WRITER_ENTRY> entries;
    for (const GAME_FILE& f : files) {
        PACK_WRITER_ENTRY e;
        e.strName = f.strName;
        e.data = f.data;
        entries.push_back(std::move(e));
    }
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(strNativePackPath).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    return WritePackFile(strNativePackPath, entries);
}
