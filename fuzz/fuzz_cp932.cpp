// The cp932 text helpers and the conversions at the system boundary: the input, as a terminated
// text and as raw bytes, goes through the UTF-8 conversions into buffers of several sizes, the
// bounded copies, the case and width conversions and the path helpers. Every output must be
// terminated inside its buffer.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "fuzz/support.h"
#include "platform/plat_text.h"
#include "script/cp932_convert.h"

namespace {

// A buffer of exactly nCap bytes, so that the sanitizer sees any write past it.
void CheckTerminated(const std::vector<char>& buf, size_t nCap)
{
    if (nCap > 0 && std::memchr(buf.data(), 0, nCap) == nullptr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string strRaw(reinterpret_cast<const char*>(pData), nSize);
    const char* psz = strRaw.c_str();   // the text up to the first NUL
    const size_t nLen = std::strlen(psz);

    for (size_t nCap : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, nLen + 1, nLen * 3 + 1}) {
        std::vector<char> out(nCap);
        PlatCp932ToUtf8(psz, out.data(), nCap);
        CheckTerminated(out, nCap);
        PlatUtf8ToCp932(psz, out.data(), nCap);
        CheckTerminated(out, nCap);
        CopyTextBounded(out.data(), nCap, psz);
        CheckTerminated(out, nCap);
        CopyTextBoundedN(out.data(), nCap, psz, nLen / 2);
        CheckTerminated(out, nCap);
        out[0] = '\0';
        AppendTextBounded(out.data(), nCap, psz);
        CheckTerminated(out, nCap);
        ToFullWidthCp932(out.data(), nCap, psz);
        CheckTerminated(out, nCap);
        ToHalfWidthCp932(out.data(), nCap, psz);
        CheckTerminated(out, nCap);
    }
    PlatCp932ToUtf8(psz, nullptr, 0);
    PlatUtf8ToCp932(psz, nullptr, 0);

    const std::string strUtf8 = PlatCp932ToUtf8String(psz);
    const std::string strCp932 = PlatUtf8ToCp932String(psz);
    PlatUtf8FitsCp932(psz);
    PlatUtf8FitsCp932(strUtf8.c_str());
    PlatUtf8ToCp932String(strUtf8.c_str());
    PlatCp932BytesToUtf8(strRaw.data(), strRaw.size(), "?");
    PlatCp932BytesToUtf8(strRaw.data(), strRaw.size(), "");

    if (CutAtCharBoundary(psz, nLen, nLen / 3) > nLen / 3) __builtin_trap();
    size_t nChars = 0;
    for (const char* p = psz; *p; p = NextCharCp932(p)) {
        if (CharLenCp932(p) < 1 || p >= psz + nLen) __builtin_trap();
        ++nChars;
    }
    (void)nChars;
    const char* pName = FindFileNamePart(psz);
    if (pName < psz || pName > psz + nLen) __builtin_trap();

    std::string strCopy = psz;
    UpperCaseCp932(strCopy.data());
    LowerCaseCp932(strCopy.data());
    UpperCaseASCII(strCopy.data());
    LowerCaseASCII(strCopy.data());
    SlashesToBackslashes(strCopy.data());
    if (strCopy.size() != nLen || std::strlen(strCopy.c_str()) != nLen) __builtin_trap();   // lengths never change
    CompareNoCaseASCII(psz, strCopy.c_str());
    CompareNoCaseASCIIN(psz, strCopy.c_str(), nLen / 2);
    FuzzEndInput();
    return 0;
}
