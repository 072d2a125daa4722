// The engine's Japanese texts: UTF-8 in the source, cp932 at run time.
#include "core/kx_texts.h"

#include <mutex>
#include <string>

#include "platform/plat_text.h"

namespace {

const char* const s_apszUtf8[KX_TEXT_COUNT] = {
#define KX_TEXT(id, utf8) utf8,
#include "core/kx_texts.inc"
#undef KX_TEXT
};

std::once_flag s_onceTexts;
std::string* s_pTexts;   // KX_TEXT_COUNT converted texts, kept for the life of the process

void ConvertEngineTexts()
{
    // Never freed: texts may be read by threads that run until the very end of the process.
    s_pTexts = new std::string[KX_TEXT_COUNT];
    for (int i = 0; i < KX_TEXT_COUNT; ++i)
        s_pTexts[i] = PlatUtf8ToCp932String(s_apszUtf8[i]);
}

}  // namespace

void InitEngineTexts(void)
{
    std::call_once(s_onceTexts, ConvertEngineTexts);
}

const char* GetEngineText(int nId)
{
    InitEngineTexts();
    if (nId < 0 || nId >= KX_TEXT_COUNT)
        return "";
    return s_pTexts[nId].c_str();
}
