// Writes expression byte code.
#include "tools/lib/expr_assembler.h"

#include <cstring>

#include "core/cp932.h"

namespace {

void PutU16(std::vector<uint8_t>& code, uint16_t v)
{
    code.push_back(static_cast<uint8_t>(v & 0xFF));
    code.push_back(static_cast<uint8_t>(v >> 8));
}

void PutVarToken(std::vector<uint8_t>& code, uint8_t bOp, uint16_t nVar, uint8_t bPrefix)
{
    const uint8_t payload[3] = {bPrefix, static_cast<uint8_t>(nVar & 0xFF), static_cast<uint8_t>(nVar >> 8)};
    ExprAsmToken(code, bOp, payload, sizeof payload);
}

}  // namespace

void ExprAsmToken(std::vector<uint8_t>& code, uint8_t bOp, const void* pPayload, size_t nLen, int nLenField)
{
    code.push_back(bOp);
    PutU16(code, static_cast<uint16_t>(nLenField >= 0 ? nLenField : static_cast<int>(nLen & 0xFFFF)));
    const uint8_t* pb = static_cast<const uint8_t*>(pPayload);
    if (nLen)
        code.insert(code.end(), pb, pb + nLen);
}

void ExprAsmIntWidth(std::vector<uint8_t>& code, int64_t v, int nBytes)
{
    uint8_t bOp = 'L';
    if (nBytes == 1) bOp = 'B';
    else if (nBytes == 2) bOp = 'W';
    else if (nBytes == 4) bOp = 'I';
    else nBytes = 8;
    uint8_t payload[8];
    const uint64_t u = static_cast<uint64_t>(v);
    for (int k = 0; k < nBytes; ++k)
        payload[k] = static_cast<uint8_t>(u >> (8 * k));
    ExprAsmToken(code, bOp, payload, static_cast<size_t>(nBytes));
}

void ExprAsmInt(std::vector<uint8_t>& code, int64_t v)
{
    int nBytes = 8;
    if (v >= INT8_MIN && v <= INT8_MAX) nBytes = 1;
    else if (v >= INT16_MIN && v <= INT16_MAX) nBytes = 2;
    else if (v >= INT32_MIN && v <= INT32_MAX) nBytes = 4;
    ExprAsmIntWidth(code, v, nBytes);
}

void ExprAsmDouble(std::vector<uint8_t>& code, double d)
{
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    uint8_t payload[8];
    for (int k = 0; k < 8; ++k)
        payload[k] = static_cast<uint8_t>(u >> (8 * k));
    ExprAsmToken(code, 'F', payload, sizeof payload);
}

int ExprAsmText(std::vector<uint8_t>& code, const std::string& strText)
{
    // The evaluator copies a trail byte with its lead byte, so only bytes that stand alone can end
    // the literal; the quote must be none of them, nor the backslash, nor a lead byte.
    bool abAlone[256] = {};
    std::vector<uint8_t> body;
    body.reserve(strText.size() + 8);
    for (size_t i = 0; i < strText.size(); ++i) {
        const uint8_t c = static_cast<uint8_t>(strText[i]);
        if (IsLeadByte(c)) {
            if (i + 1 >= strText.size())
                break;   // a lead byte without its trail byte
            body.push_back(c);
            body.push_back(static_cast<uint8_t>(strText[++i]));
            continue;
        }
        abAlone[c] = true;
        if (c == '\\')
            body.push_back('\\');
        body.push_back(c);
    }
    constexpr uint8_t kDouble = '"', kSingle = '\'';
    int nQuote = -1;
    if (!abAlone[kDouble]) nQuote = kDouble;
    else if (!abAlone[kSingle]) nQuote = kSingle;
    for (int c = 0x21; nQuote < 0 && c < 0x100; ++c)
        if (!abAlone[c] && c != '\\' && !IsLeadByte(static_cast<unsigned char>(c)))
            nQuote = c;
    for (int c = 1; nQuote < 0 && c < 0x21; ++c)
        if (!abAlone[c])
            nQuote = c;
    if (nQuote < 0)
        return -1;
    std::vector<uint8_t> payload;
    payload.reserve(body.size() + 2);
    payload.push_back(static_cast<uint8_t>(nQuote));
    payload.insert(payload.end(), body.begin(), body.end());
    payload.push_back(static_cast<uint8_t>(nQuote));
    ExprAsmToken(code, 'M', payload.data(), payload.size());
    return 0;
}

void ExprAsmVar(std::vector<uint8_t>& code, uint16_t nVar, uint8_t bPrefix) { PutVarToken(code, 'H', nVar, bPrefix); }
void ExprAsmOpen(std::vector<uint8_t>& code, uint16_t nVar, uint8_t bPrefix) { PutVarToken(code, 'V', nVar, bPrefix); }
void ExprAsmVarRef(std::vector<uint8_t>& code, uint16_t nVar, uint8_t bPrefix) { PutVarToken(code, 'v', nVar, bPrefix); }
void ExprAsmClose(std::vector<uint8_t>& code) { ExprAsmOp(code, ')'); }

void ExprAsmElement(std::vector<uint8_t>& code, uint16_t nVar, const std::vector<int64_t>& subscripts, uint8_t bPrefix)
{
    ExprAsmOpen(code, nVar, bPrefix);
    for (size_t k = 0; k < subscripts.size(); ++k) {
        if (k)
            ExprAsmOp(code, ',');
        ExprAsmInt(code, subscripts[k]);
    }
    ExprAsmClose(code);
}

void ExprAsmOp(std::vector<uint8_t>& code, char cOp)
{
    ExprAsmToken(code, static_cast<uint8_t>(cOp), nullptr, 0);
}

std::vector<uint8_t> MakeExprInt(int64_t v)
{
    std::vector<uint8_t> code;
    ExprAsmInt(code, v);
    return code;
}

std::vector<uint8_t> MakeExprDouble(double d)
{
    std::vector<uint8_t> code;
    ExprAsmDouble(code, d);
    return code;
}

std::vector<uint8_t> MakeExprText(const std::string& strText)
{
    std::vector<uint8_t> code;
    ExprAsmText(code, strText);
    return code;
}

std::vector<uint8_t> MakeExprVar(uint16_t nVar, uint8_t bPrefix)
{
    std::vector<uint8_t> code;
    ExprAsmVar(code, nVar, bPrefix);
    return code;
}

std::vector<uint8_t> MakeExprElement(uint16_t nVar, const std::vector<int64_t>& subscripts, uint8_t bPrefix)
{
    std::vector<uint8_t> code;
    ExprAsmElement(code, nVar, subscripts, bPrefix);
    return code;
}
