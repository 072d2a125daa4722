// The message text buffer and the text commands that fill it. Every write into the buffer is
// checked against its size first: the text against its limit, the width codes against theirs.
#include "script/cmd_text.h"

#include <cstdlib>
#include <cstring>

#include "core/cp932.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_math.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "core/script_thread.h"
#include "script/text_buffer.h"

TEXT_BUFFER* g_pTextBuffer = nullptr;

namespace {

enum {
    KX_ERR_TEXT_FULL = 102000,       // the message text (or its width codes) would overflow
    KX_ERR_TEXT_PIECE_LONG = 102030, // an expression piece longer than 1024 bytes
    KX_ERR_BAD_COMMAND = 900050,
    KX_TEXT_PIECE_MAX = 1024,
};

// Characters in n bytes: a lead byte with a following byte inside the piece is one character, any
// other byte one.
int32_t CountChars(const char* p, size_t n)
{
    int32_t nChars = 0;
    for (size_t i = 0; i < n; ++nChars) i += (IsLeadByte(static_cast<unsigned char>(p[i])) && i + 1 < n) ? 2 : 1;
    return nChars;
}

// Whether nChars more width codes leave room for the terminator.
bool CodesFit(const TEXT_BUFFER* b, int32_t nChars)
{
    return static_cast<int64_t>(b->nCodeCount) + nChars <= KX_TEXT_BUFFER_BYTES - 1;
}

void PutCode(TEXT_BUFFER* b, char c) { b->pszCodes[b->nCodeCount++] = c; }

void TerminateBoth(TEXT_BUFFER* b)
{
    b->pszText[b->nTextLen] = '\0';
    b->pszCodes[b->nCodeCount] = '\0';
}

// The unevaluated expression of the command's first argument record and its length; an empty
// piece when the command has no argument. 0, or -1 after a reported damaged record.
int FirstArgExpr(const uint8_t** ppCode, uint32_t* pnLen)
{
    *ppCode = nullptr;
    *pnLen = 0;
    if (g_nArgCount == 0) return 0;
    return GetArgExpr(g_anArgId[1], ppCode, pnLen);
}

}  // namespace

void CreateTextBufferStep(void) { CreateTextBuffer(); }
void ClearTextBufferStep(void) { ClearTextBuffer(); }

// ---- The buffer ---------------------------------------------------------------------------------

int CreateTextBuffer(void)
{
    FreeTextBuffer();
    TEXT_BUFFER* b = static_cast<TEXT_BUFFER*>(std::calloc(1, sizeof(TEXT_BUFFER)));
    if (b) {
        b->nSize = 20;
        b->nHeight = 20;
        b->nColorA = 0xFFFFFF;
        b->nColorB = -1;
        b->bGradient = 1;
        b->bAntialias = 1;
        b->pszText = static_cast<char*>(std::malloc(KX_TEXT_BUFFER_BYTES));
        b->pszCodes = static_cast<char*>(std::malloc(KX_TEXT_BUFFER_BYTES));
    }
    if (!b || !b->pszText || !b->pszCodes) {
        if (b) {
            std::free(b->pszText);
            std::free(b->pszCodes);
            std::free(b);
        }
        ReportError(KX_ERR_NO_MEMORY, 1);
        return 1;
    }
    g_pTextBuffer = b;
    b->bClearPending = 1;
    ClearTextBuffer();
    return 0;
}

int ClearTextBuffer(void)
{
    TEXT_BUFFER* b = g_pTextBuffer;
    if (!b || !b->bClearPending) return 0;
    b->bClearPending = 0;
    b->nTextLen = 0;
    b->nCodeCount = 0;
    std::memset(b->pszText, 0, KX_TEXT_BUFFER_BYTES);
    std::memset(b->pszCodes, 0, KX_TEXT_BUFFER_BYTES);
    return 0;
}

void FreeTextBuffer(void)
{
    TEXT_BUFFER* b = g_pTextBuffer;
    if (!b) return;
    g_pTextBuffer = nullptr;
    std::free(b->pszText);
    std::free(b->pszCodes);
    std::free(b);
}

// ---- Text commands ------------------------------------------------------------------------------

int CmdTextAppend(void)
{
    if (FetchCommandArgs(CMDID_TEXT_APPEND) != 0) return -1;
    const uint8_t* pbCode;
    uint32_t nLen;
    if (FirstArgExpr(&pbCode, &nLen) != 0) return -1;
    TEXT_BUFFER* b = g_pTextBuffer;
    if (!b) return 0;
    // The literal's bytes; a zero among them ends the piece, as it ends the text.
    const char* p = reinterpret_cast<const char*>(pbCode);
    size_t n = nLen;
    if (p) {
        const void* pZero = std::memchr(p, 0, n);
        if (pZero) n = static_cast<size_t>(static_cast<const char*>(pZero) - p);
    }
    const int32_t nChars = CountChars(p, n);
    if (static_cast<int64_t>(b->nTextLen) + static_cast<int64_t>(n) - 1 >= KX_TEXT_LIMIT || !CodesFit(b, nChars)) {
        ReportScriptError(KX_ERR_TEXT_FULL, 1);
        return -1;
    }
    if (n) std::memcpy(b->pszText + b->nTextLen, p, n);
    b->nTextLen += static_cast<int32_t>(n);
    for (size_t i = 0; i < n;) {
        const bool bDouble = IsLeadByte(static_cast<unsigned char>(p[i])) && i + 1 < n;
        PutCode(b, bDouble ? KX_WIDTH_DOUBLE : KX_WIDTH_SINGLE);
        i += bDouble ? 2 : 1;
    }
    TerminateBoth(b);
    return 0;
}

int CmdTextAppendExpr(void)
{
    if (FetchCommandArgs(CMDID_TEXT_APPEND_EXPR) != 0) return -1;
    const uint8_t* pbCode;
    uint32_t nLen;
    if (FirstArgExpr(&pbCode, &nLen) != 0) return -1;
    // Room for every text the evaluator makes, so the length test below sees the whole result.
    char szPiece[KX_EXPR_TEXT_BUFFER];
    szPiece[0] = '\0';
    int m = 0;
    if (pbCode) {
        switch (g_anArgEvalType[1]) {
        case KX_EXPR_MODE_INT: m = FormatInt64(szPiece, sizeof szPiece, EvalExprInt(pbCode, nLen)); break;
        case KX_EXPR_MODE_FLOAT: m = FormatDouble(szPiece, sizeof szPiece, EvalExprFloat(pbCode, nLen)); break;
        case KX_EXPR_MODE_TEXT_INT: m = EvalExprString(szPiece, sizeof szPiece, pbCode, nLen); break;
        default: break;   // other types append nothing
        }
    }
    if (m < 0) m = 0;
    TEXT_BUFFER* b = g_pTextBuffer;
    if (!b) return 0;
    if (static_cast<int64_t>(b->nTextLen) + m >= KX_TEXT_LIMIT) {
        ReportScriptError(KX_ERR_TEXT_FULL, 1);
        return -1;
    }
    if (m > KX_TEXT_PIECE_MAX) {
        ReportScriptError(KX_ERR_TEXT_PIECE_LONG, 1);
        return -1;
    }
    if (!CodesFit(b, CountChars(szPiece, static_cast<size_t>(m)))) {
        ReportScriptError(KX_ERR_TEXT_FULL, 1);
        return -1;
    }
    for (int i = 0; i < m;) {
        const unsigned char c = static_cast<unsigned char>(szPiece[i]);
        if (IsLeadByte(c) && i + 1 < m) {
            b->pszText[b->nTextLen++] = szPiece[i];
            b->pszText[b->nTextLen++] = szPiece[i + 1];
            PutCode(b, KX_WIDTH_DOUBLE);
            i += 2;
        } else {
            // Control bytes, half-width katakana and a lead byte without its trail become blanks.
            b->pszText[b->nTextLen++] = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : ' ';
            PutCode(b, KX_WIDTH_SINGLE);
            ++i;
        }
    }
    TerminateBoth(b);
    return 0;
}

int CmdTextEnd(void)
{
    SCRIPT_THREAD* pThread = g_pCurThread;
    const int32_t nCur = g_nCurCommand;
    if (!pThread || nCur < 0 || nCur >= pThread->nCommands) {
        ReportScriptError(KX_ERR_BAD_COMMAND, 1);
        return -1;
    }
    // The first record carries two numbers in place of an argument; without one both are 0.
    int32_t nValue1 = 0, nValue2 = 0;
    if (pThread->pbArgCounts && pThread->ppFirstArgs && pThread->pbArgCounts[nCur] > 0) {
        const ARG_RECORD* r = static_cast<const ARG_RECORD*>(pThread->ppFirstArgs[nCur]);
        if (r) {
            std::memcpy(&nValue1, r, sizeof nValue1);
            nValue2 = static_cast<int32_t>(r->dwExprLen);
        }
    }
    pThread->anTextEnd[0] = nValue1;
    pThread->anTextEnd[1] = nValue2;
    TEXT_BUFFER* b = g_pTextBuffer;
    if (b) {
        b->bClearPending = 1;
        // Several ends before a clear each leave their mark while the codes have room.
        if (CodesFit(b, 1)) {
            PutCode(b, KX_WIDTH_END);
            b->pszCodes[b->nCodeCount] = '\0';
        }
    }
    pThread->bTextClearRequest = 1;
    return -1;
}
