// The script-line tokenizer (see script/tokenizer.h): a byte state machine with a base, a word, a
// string and a block-comment state.
#include "script/tokenizer.h"

#include <cstddef>
#include <cstdint>

#include "core/cp932.h"
#include "script/variables.h"

namespace {

// The variable number of a reference value (its high 32 bits); -1 when no variable can have it,
// which every store and read treats as a variable outside the table.
int RefVar(int64_t llRef)
{
    const uint64_t n = static_cast<uint64_t>(llRef) >> 32;
    return n <= static_cast<uint64_t>(INT32_MAX) ? static_cast<int>(n) : -1;
}

// Element first + n with 32-bit wrap-around, as the element accessors read it.
int64_t ElemAt(int64_t llRef, int64_t n)
{
    const uint32_t e = static_cast<uint32_t>(llRef) + static_cast<uint32_t>(static_cast<uint64_t>(n));
    return static_cast<int32_t>(e);
}

struct TOKEN_OUT {
    int nTextVar;
    int nKindVar;
    int64_t llTextsRef;
    int64_t llKindsRef;
    int64_t n;   // tokens stored so far
};

// Writes a text into texts element first + n (its store may be refused; the count goes on).
void WriteText(const TOKEN_OUT& out, const char* pb, size_t nLen)
{
    SetVarStringBytes(out.nTextVar, ElemAt(out.llTextsRef, out.n), pb, nLen);
}

void StoreToken(TOKEN_OUT& out, int nKind, const char* pb, size_t nLen)
{
    SetVarInt(out.nKindVar, ElemAt(out.llKindsRef, out.n), nKind);
    WriteText(out, pb, nLen);
    ++out.n;
}

const char kCarriageReturn[] = "\r";

bool IsAsciiAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsWordStart(unsigned char c)
{
    return IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.' || IsLeadByte(c);
}

bool IsWordContinuation(unsigned char c)
{
    return IsAsciiAlnum(c) || c == '_' || c == '.' || c == '/' || IsLeadByte(c);
}

enum { STATE_BASE, STATE_WORD, STATE_STRING, STATE_COMMENT };

}  // namespace

int64_t TokenizeScriptLine(const char* pszLine, int64_t llTextsRef, int64_t llKindsRef, int64_t llStateRef)
{
    // Our own bounded copy: the scan never reads beyond it, and a double-byte character is never cut.
    char szLine[KX_TOKEN_LINE_MAX + 1];
    CopyTextBounded(szLine, sizeof szLine, pszLine ? pszLine : "");

    TOKEN_OUT out{RefVar(llTextsRef), RefVar(llKindsRef), llTextsRef, llKindsRef, 0};
    const int nStateVar = RefVar(llStateRef);
    const int64_t llStateElem = ElemAt(llStateRef, 0);

    const char* p = szLine;
    const char* pStart = p;   // first byte of the open word, string or comment
    int nState = GetVarInt(nStateVar, llStateElem) != 0 ? STATE_COMMENT : STATE_BASE;

    while (*p) {
        const unsigned char c = static_cast<unsigned char>(p[0]);
        const unsigned char d = static_cast<unsigned char>(p[1]);   // the terminator when c is the last byte
        if (nState == STATE_WORD) {
            if (IsWordContinuation(c)) {
                p = NextCharCp932(p);   // a lead byte before the terminator is one byte: the scan ends
                continue;
            }
            StoreToken(out, KX_TOKEN_WORD, pStart, static_cast<size_t>(p - pStart));
            nState = STATE_BASE;   // the same byte is examined in the base state
            continue;
        }
        if (nState == STATE_STRING) {
            ++p;
            if (c == '"' || c == '\r') {
                StoreToken(out, KX_TOKEN_STRING, pStart, static_cast<size_t>(p - pStart));
                nState = STATE_BASE;
            }
            continue;
        }
        if (nState == STATE_COMMENT) {
            if (c == '*' && d == '/') {
                // The comment's text lands in the next token's element without being counted.
                WriteText(out, pStart, static_cast<size_t>(p + 2 - pStart));
                p += 2;
                nState = STATE_BASE;
            } else if (c == '\r') {
                StoreToken(out, KX_TOKEN_END_OF_LINE, kCarriageReturn, 1);
                ++p;
            } else {
                ++p;
            }
            continue;
        }

        // The base state.
        if (IsWordStart(c)) {
            pStart = p;
            p = NextCharCp932(p);
            nState = STATE_WORD;
        } else if (c == '"') {
            pStart = p++;
            nState = STATE_STRING;
        } else if (c == ' ' || c == '\t') {
            while (static_cast<unsigned char>(*p) == c) ++p;
        } else if (c == '/' && d == '/') {
            StoreToken(out, KX_TOKEN_END_OF_LINE, kCarriageReturn, 1);
            break;   // the rest of the line is a comment
        } else if (c == '/' && d == '*') {
            pStart = p++;   // the '*' is examined in the comment state, so "/*/" opens and closes
            nState = STATE_COMMENT;
        } else if (c == '\\' || c == '(' || c == ')' || c == ',' || c == '@' || c == '$') {
            const int nKind = c == '\\' ? KX_TOKEN_BACKSLASH
                              : c == '(' ? KX_TOKEN_OPEN
                              : c == ')' ? KX_TOKEN_CLOSE
                              : c == ',' ? KX_TOKEN_COMMA
                              : c == '@' ? KX_TOKEN_AT
                                         : KX_TOKEN_DOLLAR;
            StoreToken(out, nKind, p, 1);
            ++p;
        } else if (c == '#') {
            StoreToken(out, KX_TOKEN_HASH, p, 1);
            p += d == '=' ? 2 : 1;   // "#=" is one token whose text is "#"
        } else if (c == '+' && d == '+') {
            StoreToken(out, KX_TOKEN_PLUS_PLUS, p, 2);
            p += 2;
        } else if (c == '+' && d == '=') {
            StoreToken(out, KX_TOKEN_PLUS_ASSIGN, p, 2);
            p += 2;
        } else if (c == '*' && d == '=') {
            StoreToken(out, KX_TOKEN_MUL_ASSIGN, p, 2);
            p += 2;
        } else if (c == '/' && d == '=') {
            StoreToken(out, KX_TOKEN_DIV_ASSIGN, p, 2);
            p += 2;
        } else if (c == ';') {
            ++p;
        } else {
            StoreToken(out, KX_TOKEN_CHAR, p, 1);
            ++p;
        }
    }

    // A word or string still open is dropped; only the comment state survives the line.
    SetVarInt(nStateVar, llStateElem, nState == STATE_COMMENT ? 1 : 0);
    return out.n;
}
