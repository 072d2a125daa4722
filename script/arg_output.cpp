#include "script/arg_output.h"

#include "core/cp932.h"
#include "script/command_args.h"
#include "script/variables.h"

bool GetArgOutput(int nArgId, ARG_OUTPUT* pOut)
{
    *pOut = GetArgOut(nArgId);
    return pOut->pVar != nullptr;
}

int IsTextOutput(const ARG_OUTPUT& o) { return o.pVar && o.pVar->bType == KX_VAR_TYPE_STRING; }

int StoreOutputInt(const ARG_OUTPUT& o, int64_t llValue)
{
    if (SetVarInt(o.nVar, o.llElem, llValue) == 0) return 0;
    // An element outside the variable is refused without a report: nothing stored, no failure.
    return IsTextOutput(o) ? -1 : 0;
}

int StoreOutputText(const ARG_OUTPUT& o, const char* pszText)
{
    if (SetVarString(o.nVar, o.llElem, pszText ? pszText : "") == 0) return 0;
    return IsTextOutput(o) ? 0 : -1;
}

void StoreOutputEmpty(const ARG_OUTPUT& o)
{
    if (!o.pVar) return;
    switch (o.pVar->bType) {
    case KX_VAR_TYPE_INT: SetVarInt(o.nVar, o.llElem, 0); break;
    case KX_VAR_TYPE_FLOAT: SetVarFloat(o.nVar, o.llElem, 0.0); break;
    case KX_VAR_TYPE_STRING: SetVarString(o.nVar, o.llElem, ""); break;
    default: break;
    }
}

int64_t ArgIntValue(int nArgId)
{
    const int s = ArgSlot(nArgId);
    if (!s) return 0;
    if (g_anArgVar[s] != 0) return GetVarInt(g_anArgVar[s], g_anArgElem[s]);
    return g_anArgValue[s];
}

void SlashesToBackslashesCp932(char* psz)
{
    for (char* p = psz; *p; p = const_cast<char*>(NextCharCp932(p)))
        if (*p == '/') *p = '\\';
}
