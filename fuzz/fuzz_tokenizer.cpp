// The script-line tokenizer: every line of the input (split at line feeds, at most 64 of them) is
// tokenized in turn into a text array and a kinds array of 200 elements, the block-comment state
// carried from line to line. The first byte picks the first element the tokens go to (0..255), so
// that lines with many tokens run past the arrays' ends.
#include <cstdint>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "fuzz/support.h"
#include "script/evaluator.h"
#include "script/script_tables.h"
#include "script/tokenizer.h"
#include "script/variables.h"
#include "tools/lib/kx_writers.h"

namespace {

constexpr uint16_t kTexts = 1003, kKinds = 1004, kState = 1000;
constexpr int32_t kElements = 200;
std::vector<GAME_FILE> s_game;

int64_t Ref(uint16_t nVar, uint32_t nElem) { return int64_t(nVar) << 32 | nElem; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    InstallEvaluator();
    GAME_DATA game = FuzzSampleGame();
    game.defs.push_back(MakeTextVarDef(kTexts, "", {kElements}));
    game.defs.push_back(MakeIntVarDef(kKinds, -1, {kElements}));
    s_game = BuildGameFiles(game);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    FuzzSetMemoryFiles(FuzzFilesOf(s_game));
    if (FuzzCreateSystemThread() && StartScriptSystem() == 0) {
        const uint32_t nFirst = pData[0];
        const std::string strText(reinterpret_cast<const char*>(pData + 1), nSize - 1);
        size_t nAt = 0;
        for (int nLine = 0; nLine < 64 && nAt <= strText.size(); ++nLine) {
            size_t nEnd = strText.find('\n', nAt);
            if (nEnd == std::string::npos) nEnd = strText.size();
            const std::string strLine = strText.substr(nAt, nEnd - nAt);   // cut again at a NUL inside
            const int64_t n = TokenizeScriptLine(strLine.c_str(), Ref(kTexts, nFirst), Ref(kKinds, nFirst), Ref(kState, 0));
            if (n < 0 || n > int64_t(strLine.size()) + 1) __builtin_trap();
            g_bEngineStop = 0;
            nAt = nEnd + 1;
        }
    }
    FuzzFreeScriptGame();
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}
