// The integer texts: the input, cut at its first NUL, is read by the integer arithmetic text parser
// of the math command, by the evaluator's text-to-number reading and by the saturating decimal
// reader, each of which must stay inside the text.
#include <cstdint>
#include <string>

#include "core/kx_math.h"
#include "fuzz/support.h"
#include "script/cmd_math.h"
#include "script/evaluator.h"

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string strText(reinterpret_cast<const char*>(pData), nSize);
    const char* psz = strText.c_str();
    volatile int64_t llSink = EvalIntExprText(psz);
    int64_t llValue = 0;
    double dValue = 0.0;
    ReadNumberText(psz, &llValue, &dValue);
    const char* pEnd = nullptr;
    llSink = ParseInt64Saturating(psz, &pEnd);
    if (pEnd < psz || pEnd > psz + strText.size()) __builtin_trap();
    (void)llSink;
    FuzzEndInput();
    return 0;
}
