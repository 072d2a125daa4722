// Builds script bodies command by command, as the script compiler lays them out: argument records
// whose expressions go into the expression region, labels with the if and loop depths that enclose
// them, flow constructs (if / else-if / else, loops, break and continue, goto, call and return)
// whose argument records hold command indices in their length fields, forward targets patched
// once they are known, a source line per command, and raw records for damaged bodies.
// Then a whole game's compiled files, written loose into a folder or into a pack.
//
//   SCRIPT_BUILDER b;
//   InitScriptBuilder(&b, 0);
//   AddLabel(&b, "SYSTEM_START");
//   BeginLoop(&b, countExpr);            // LOOP count, end -> the LOOP-END below
//     BeginIf(&b, condExpr);             // IF cond, next -> the ELSE, end -> the END-IF
//       EmitBreak(&b);
//     AddElse(&b);                       // BRANCH-END, ELSE
//       EmitCall(&b, "sub", values);
//     EndIf(&b);                         // BRANCH-END, END-IF
//   EndLoop(&b);                         // LOOP-END
//   FinishScriptBody(&b);                // 0 once every construct is closed and target placed
//
// Expressions are given as byte code (vectors of bytes); the builder only appends them to the
// expression region. A misuse (closing what is not open, an unplaced target) makes the function
// return -1 and keeps the first message in strError.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/lib/kx_writers.h"

using EXPR_BYTES = std::vector<uint8_t>;

// One argument of an emitted command.
struct BUILDER_ARG {
    uint8_t bId = 0;
    EXPR_BYTES expr;              // appended to the expression region (offset and length recorded)
    uint8_t bType = EVALTYPE_INT;
    uint8_t bOp = ARGOP_SET;
    int nTarget = -1;             // >= 0: the length field holds this target's command index, offset 0
};
BUILDER_ARG ExprArg(uint8_t bId, EXPR_BYTES expr, uint8_t bType = EVALTYPE_INT, uint8_t bOp = ARGOP_SET);
BUILDER_ARG TargetArg(uint8_t bId, int nTarget);

// Values of a call or a return: items 1..16 of each group, by position; an empty optional leaves
// the item out. The counts in the command word are the vectors' sizes.
struct BUILDER_VALUES {
    std::vector<std::optional<EXPR_BYTES>> ints;
    std::vector<std::optional<EXPR_BYTES>> floats;
    std::vector<std::optional<EXPR_BYTES>> texts;
};

enum { CONSTRUCT_IF = 1, CONSTRUCT_LOOP = 2 };
struct BUILDER_CONSTRUCT {
    int nKind = 0;
    int nNextTarget = -1;   // if: the target of the open branch's "next branch head", -1 after ELSE
    int nEndTarget = -1;    // if: the END-IF; loop: the LOOP-END
};
struct BUILDER_PATCH {
    int nCommand;
    int nArg;
    int nTarget;
};

struct SCRIPT_BUILDER {
    uint16_t nScript = 0;
    KX_BODY body;                          // the records as built so far
    std::vector<KXL_LABEL> labels;         // this script's labels
    uint32_t nNextLine = 1;                // source line of the next command (then counts up)
    std::vector<int64_t> targets;          // command index of each target, -1 while not placed
    std::vector<BUILDER_PATCH> patches;    // length fields waiting for their target
    std::vector<BUILDER_CONSTRUCT> open;   // open ifs and loops, innermost last
    int nIfDepth = 0;
    int nLoopDepth = 0;
    std::string strError;
};

void InitScriptBuilder(SCRIPT_BUILDER* pB, uint16_t nScript);
// The index the next command will get.
int NextCommandIndex(const SCRIPT_BUILDER* pB);
// Source line of the next command; later commands count up from it.
void SetSourceLine(SCRIPT_BUILDER* pB, uint32_t nLine);
// Appends bytes to the expression region: their offset.
uint32_t AppendExpr(SCRIPT_BUILDER* pB, const EXPR_BYTES& expr);

// A command with its arguments in the given order: its index, or -1.
int EmitCommand(SCRIPT_BUILDER* pB, uint8_t bOpcode, const std::vector<BUILDER_ARG>& args, uint16_t wWord = 0);
// A command record exactly as given (lengths, offsets and counts untouched): its index.
int EmitRawCommand(SCRIPT_BUILDER* pB, const KX_COMMAND_RECORD& rec);

// Jump targets: a new target, placed later at the next command's index (or set to any value).
int NewTarget(SCRIPT_BUILDER* pB);
int PlaceTarget(SCRIPT_BUILDER* pB, int nTarget);
int SetTarget(SCRIPT_BUILDER* pB, int nTarget, int64_t llCommand);

// A label at the next command, with the current if and loop depths. 0, or -1.
int AddLabel(SCRIPT_BUILDER* pB, const std::string& strName);

// If-blocks: IF (condition, next branch head, END-IF), ELSE-IF and ELSE heads, each branch ended
// by a BRANCH-END, and the END-IF that closes the block. An IF without a further branch keeps 0
// as its next branch head.
int BeginIf(SCRIPT_BUILDER* pB, const EXPR_BYTES& cond, uint8_t bType = EVALTYPE_INT);
int AddElseIf(SCRIPT_BUILDER* pB, const EXPR_BYTES& cond, uint8_t bType = EVALTYPE_INT);
int AddElse(SCRIPT_BUILDER* pB);
int EndIf(SCRIPT_BUILDER* pB);
// Loops: LOOP (pass count, LOOP-END) ... LOOP-END.
int BeginLoop(SCRIPT_BUILDER* pB, const EXPR_BYTES& count, uint8_t bType = EVALTYPE_INT);
int EndLoop(SCRIPT_BUILDER* pB);
// Leave or repeat n loops or if-blocks; without n the command has no argument (one level).
int EmitBreak(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n = {});
int EmitContinue(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n = {});
int EmitIfBreak(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n = {});
int EmitIfRetry(SCRIPT_BUILDER* pB, std::optional<EXPR_BYTES> n = {});
// Jump to a label named by a text literal, or by any text expression.
int EmitGoto(SCRIPT_BUILDER* pB, const std::string& strLabel);
int EmitGotoExpr(SCRIPT_BUILDER* pB, const EXPR_BYTES& label);
// Call a label with values (integers as integers, doubles evaluated as doubles, texts as texts).
int EmitCall(SCRIPT_BUILDER* pB, const std::string& strLabel, const BUILDER_VALUES& values = {});
int EmitCallExpr(SCRIPT_BUILDER* pB, const EXPR_BYTES& label, const BUILDER_VALUES& values = {});
int EmitReturn(SCRIPT_BUILDER* pB, const BUILDER_VALUES& values = {});

// 0 when every construct is closed and every target placed (the body and labels are then
// complete), else -1.
int FinishScriptBody(SCRIPT_BUILDER* pB);

// ---- a whole game ----------------------------------------------------------------------------

// One compiled file by its engine name (cp932, '\').
struct GAME_FILE {
    std::string strName;
    std::vector<uint8_t> data;
};
struct GAME_SCRIPT {
    std::string strName;              // the script's source file name in the script list
    KX_BODY body;
    std::vector<KXL_LABEL> labels;    // their script index is taken from the script's position
    int32_t nValue = 0;               // the list record's value
};
struct GAME_DATA {
    KXCFG config;
    std::vector<KXE_ENTRY> errors;    // the game's own message texts
    // The message table also gets the standard text (core/error_texts.h) of every id the engine
    // reports that the game's own texts lack, after them; off, the table holds the game's alone.
    bool bStandardErrorTexts = true;
    KXC_TABLE commands;
    int32_t nHighestVar = -1;         // -1: the highest defined variable number, at least 999
    int32_t nVarTableExtra = 0;
    std::vector<KXV_DEF> defs;
    std::vector<GAME_SCRIPT> scripts; // script index = position
};
// The fixtures' defaults: the canonical command table and the system variables' definitions.
GAME_DATA DefaultGameData();
// A finished builder as a script of the game.
GAME_SCRIPT ScriptFromBuilder(const std::string& strName, const SCRIPT_BUILDER& b);
// The game's message table: its own texts, then the standard ones it lacks when asked for, at most
// the 256 entries the engine reads.
std::vector<KXE_ENTRY> GameErrorTexts(const GAME_DATA& game);
// Every compiled file of the game: kxcfg, kxe, kxc, kxt, kxt_list, kxv, kxl and one body per script.
std::vector<GAME_FILE> BuildGameFiles(const GAME_DATA& game);
// Writes the files loose below a native folder (kxbin\x.kbn -> folder/kxbin/x.kbn). 0 or -1.
int WriteGameFolder(const std::string& strNativeFolder, const std::vector<GAME_FILE>& files);
// Writes the files into one pack at a native path. 0 or -1.
int WriteGamePack(const std::string& strNativePackPath, const std::vector<GAME_FILE>& files);
