// The standard texts of the error ids the engine reports.
#include "core/error_texts.h"

#include "platform/plat_text.h"

namespace {

const STANDARD_ERROR_TEXT kStandardErrorTexts[] = {
#define KX_ERROR_TEXT(id, japanese, english) {id, japanese, english},
#include "core/error_texts.inc"
#undef KX_ERROR_TEXT
};

}  // namespace

const STANDARD_ERROR_TEXT* GetStandardErrorTexts(int* pnCount)
{
    if (pnCount) *pnCount = static_cast<int>(sizeof kStandardErrorTexts / sizeof kStandardErrorTexts[0]);
    return kStandardErrorTexts;
}

std::string StandardErrorTextCp932(int nId)
{
    for (const STANDARD_ERROR_TEXT& t : kStandardErrorTexts) {
        if (t.nId == nId)
            return PlatUtf8ToCp932String((std::string(t.pszJapanese) + "\n" + t.pszEnglish).c_str());
    }
    return std::string();
}
