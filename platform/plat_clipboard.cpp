// The clipboard through SDL, on the window thread.
#include "platform/plat_clipboard.h"
#include "platform/plat_text.h"
#include "platform/plat_window.h"

#include <SDL.h>
#include <mutex>

namespace {

std::mutex g_mxClip;
std::string g_strOwnClip;   // UTF-8
bool g_bOwnClipSet = false;

struct CLIP_CALL {
    const std::string* pIn;
    std::string* pOut;
    int nResult;
    bool bUsedSdl;
};

// Runs on the window thread: SDL's clipboard when its video runs.
void SdlClipCall(void* pArg)
{
    CLIP_CALL* p = static_cast<CLIP_CALL*>(pArg);
    p->bUsedSdl = false;
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    p->bUsedSdl = true;
    if (p->pIn) {
        p->nResult = SDL_SetClipboardText(p->pIn->c_str()) == 0 ? 0 : -1;
        return;
    }
    if (!SDL_HasClipboardText()) {
        p->nResult = -1;
        return;
    }
    char* psz = SDL_GetClipboardText();
    if (!psz) {
        p->nResult = -1;
        return;
    }
    *p->pOut = psz;
    SDL_free(psz);
    p->nResult = p->pOut->empty() ? -1 : 0;
}

}  // namespace

int PlatSetClipboardText(const char* pszCp932)
{
    std::string strUtf8 = PlatCp932ToUtf8String(pszCp932 ? pszCp932 : "");
    CLIP_CALL call{&strUtf8, nullptr, -1, false};
    if (PlatRunOnWindowThread(SdlClipCall, &call, 1) == 0 && call.bUsedSdl) return call.nResult;
    std::lock_guard<std::mutex> lock(g_mxClip);
    g_strOwnClip = strUtf8;
    g_bOwnClipSet = true;
    return 0;
}

int PlatGetClipboardText(std::string* pOut)
{
    pOut->clear();
    std::string strUtf8;
    if (PlatGetClipboardTextUtf8(&strUtf8) != 0) return -1;
    *pOut = PlatUtf8ToCp932String(strUtf8.c_str());
    return 0;
}

int PlatGetClipboardTextUtf8(std::string* pOut)
{
    pOut->clear();
    std::string strUtf8;
    CLIP_CALL call{nullptr, &strUtf8, -1, false};
    if (PlatRunOnWindowThread(SdlClipCall, &call, 1) != 0 || !call.bUsedSdl) {
        std::lock_guard<std::mutex> lock(g_mxClip);
        if (!g_bOwnClipSet || g_strOwnClip.empty()) return -1;
        strUtf8 = g_strOwnClip;
        call.nResult = 0;
    }
    if (call.nResult != 0) return -1;
    *pOut = strUtf8;
    return 0;
}

void PlatClearClipboardForTest(void)
{
    std::lock_guard<std::mutex> lock(g_mxClip);
    g_strOwnClip.clear();
    g_bOwnClipSet = false;
}
