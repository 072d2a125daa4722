// A literal written where a command's output variable belongs: the commands treat the output as
// absent (nothing stored, no report), and the same command with a variable there stores its answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/cmd_math.h"
#include "script/cmd_var_util.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "tests/script/host_cmd_fixture.h"

namespace {

class LiteralOutputTest : public HOST_CMD_FIXTURE {};

TEST_F(LiteralOutputTest, LiteralOutputsStoreNothingAndStopNothing)
{
    struct OUTPUT_CASE {
        const char* pszName;
        int nOp;
        uint8_t bOutId;
        std::vector<BUILDER_ARG> rest;   // the other arguments
        int64_t llAnswer;                // what the command stores into an integer variable
    };
    const std::vector<OUTPUT_CASE> cases = {
        {"math random", KXCMD_MATH, KX_MATH_ARG_OUT,
         {IntArg(KX_MATH_ARG_X, 4), IntArg(KX_MATH_ARG_Y, 4), IntArg(KX_MATH_RANDOM, 0)}, 4},
        {"math integer text", KXCMD_MATH, KX_MATH_ARG_OUT,
         {TextArg(KX_MATH_ARG_TEXT, "6*7"), IntArg(KX_MATH_INT_TEXT, 0)}, 42},
        {"math sine", KXCMD_MATH, KX_MATH_ARG_OUT, {IntArg(KX_MATH_ARG_X, 0), IntArg(KX_MATH_SIN, 0)}, 0},
        {"variable query: dimensions", KXCMD_VAR_QUERY, KX_VQ_TARGET,
         {OutArg(KX_VQ_SOURCE, Var(kInts)), IntArg(KX_VQ_DIMS, 1)}, 1},
        {"variable query: characters", KXCMD_VAR_QUERY, KX_VQ_TARGET,
         {OutArg(KX_VQ_SOURCE, Var(kText), EVALTYPE_TEXT), IntArg(KX_VQ_CHARS, 1)}, 1},
        {"thread information", KXCMD_THREAD_INFO, 1, {IntArg(2, 1)}, 1},
        {"script list: count", KXCMD_SCRIPT_LIST, 5, {IntArg(1, 1)}, 1},
        {"label exists", KXCMD_LABEL_EXISTS, 1, {TextArg(0, KX_START_LABEL), IntArg(2, 1)}, 1},
    };
    for (const OUTPUT_CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_NO_FATAL_FAILURE(Restart());
        std::vector<BUILDER_ARG> literal = c.rest;
        literal.push_back(IntArg(c.bOutId, kInts));   // the number of a variable, but a literal
        Emit(c.nOp, literal);
        std::vector<BUILDER_ARG> real = c.rest;
        real.push_back(OutArg(c.bOutId, Var(kInt)));
        Emit(c.nOp, real);
        ASSERT_NO_FATAL_FAILURE(Run());
        EXPECT_EQ(g_bEngineStop, 0);
        EXPECT_EQ(GetVarInt(kInt, 0), c.llAnswer);
        for (int k = 0; k < 8; ++k) EXPECT_EQ(GetVarInt(kInts, k), -1) << k;
    }
}

}  // namespace
