// E-mote players: the player table, creation and release, the camera, time and the E-mote command.
#include "media/emote.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "image/cmd_layer.h"
#include "image/layer.h"
#include "media/emote_component.h"
#include "platform/plat_text.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"

uint32_t g_pEmoteDevice = 0;
LAYER* g_apEmoteLayer[KX_EMOTE_PLAYERS] = {};
float g_afEmotePendingMs[KX_EMOTE_PLAYERS] = {};
EMOTE_SET_TRANSFORM_FN g_pfnEmoteSetTransform = nullptr;

namespace {

constexpr float kPi = 3.14159265358979323846f;
constexpr float kFramesPerMs = 0.06f;   // the component counts time in frames of 60 per second

// The Direct3D device the device object was made of (kept for the camera), NULL when none.
void* s_pD3DDevice = nullptr;

// The player of a layer, 0 without a layer or a player.
uint32_t PlayerOf(const LAYER* pLayer) { return pLayer ? pLayer->hEmotePlayer : 0; }

EMOTE_MATRIX Identity()
{
    EMOTE_MATRIX r{};
    for (int i = 0; i < 4; ++i) r.m[i][i] = 1.0f;
    return r;
}

EMOTE_MATRIX Multiply(const EMOTE_MATRIX& a, const EMOTE_MATRIX& b)
{
    EMOTE_MATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float f = 0.0f;
            for (int k = 0; k < 4; ++k) f += a.m[i][k] * b.m[k][j];
            r.m[i][j] = f;
        }
    return r;
}

// Rotation about Z for row vectors: (x, y) turns counter-clockwise by fRadians.
EMOTE_MATRIX RotationZ(float fRadians)
{
    EMOTE_MATRIX r = Identity();
    const float c = std::cos(fRadians), s = std::sin(fRadians);
    r.m[0][0] = c;
    r.m[0][1] = s;
    r.m[1][0] = -s;
    r.m[1][1] = c;
    return r;
}

struct VEC3 {
    float x, y, z;
};
VEC3 Sub(VEC3 a, VEC3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
VEC3 Cross(VEC3 a, VEC3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(VEC3 a, VEC3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
VEC3 Normalize(VEC3 v)
{
    const float f = std::sqrt(Dot(v, v));
    return f > 0.0f ? VEC3{v.x / f, v.y / f, v.z / f} : v;
}

// A left-handed view looking from the eye at the target.
EMOTE_MATRIX LookAtLH(VEC3 eye, VEC3 at, VEC3 up)
{
    const VEC3 z = Normalize(Sub(at, eye));
    const VEC3 x = Normalize(Cross(up, z));
    const VEC3 y = Cross(z, x);
    EMOTE_MATRIX r{};
    r.m[0][0] = x.x; r.m[0][1] = y.x; r.m[0][2] = z.x;
    r.m[1][0] = x.y; r.m[1][1] = y.y; r.m[1][2] = z.y;
    r.m[2][0] = x.z; r.m[2][1] = y.z; r.m[2][2] = z.z;
    r.m[3][0] = -Dot(x, eye);
    r.m[3][1] = -Dot(y, eye);
    r.m[3][2] = -Dot(z, eye);
    r.m[3][3] = 1.0f;
    return r;
}

// The entry of a layer, or -1.
int EntryOf(const LAYER* pLayer)
{
    for (int i = 0; i < KX_EMOTE_PLAYERS; ++i)
        if (g_apEmoteLayer[i] == pLayer) return i;
    return -1;
}

}  // namespace

// ---- The camera ----

void ComputeEmoteTransforms(int32_t nW, int32_t nH, float x, float y, float fAngle, EMOTE_MATRIX* pWorld,
                            EMOTE_MATRIX* pView, EMOTE_MATRIX* pProjection)
{
    if (nH == 0) nW = nH = 1;
    *pWorld = Multiply(Identity(), RotationZ(-fAngle * 2.0f * kPi / 360.0f));
    const float fH = static_cast<float>(nH);
    const VEC3 eye{-0.5f - x, 0.5f - y, fH * 0.5f};
    const VEC3 at{-0.5f - x, 0.5f - y, fH * 0.5f - 1.0f};
    *pView = LookAtLH(eye, at, VEC3{0.0f, -1.0f, 0.0f});
    pView->m[0][0] = -pView->m[0][0];   // a mirror in x
    *pProjection = EMOTE_MATRIX{};
    pProjection->m[0][0] = 1.0f / (static_cast<float>(nW) / fH);
    pProjection->m[1][1] = 1.0f;
    pProjection->m[2][2] = 1.0f;
    pProjection->m[2][3] = 1.0f;
}

void SetEmoteTransforms(int32_t nW, int32_t nH, float x, float y, float fAngle)
{
    if (!s_pD3DDevice || !g_pfnEmoteSetTransform) return;
    EMOTE_MATRIX world, view, projection;
    ComputeEmoteTransforms(nW, nH, x, y, fAngle, &world, &view, &projection);
    g_pfnEmoteSetTransform(EMOTE_TS_WORLD, &world);
    g_pfnEmoteSetTransform(EMOTE_TS_VIEW, &view);
    g_pfnEmoteSetTransform(EMOTE_TS_PROJECTION, &projection);
}

void ResetEmoteTransforms(void)
{
    if (g_bEmoteAvailable) SetEmoteTransforms(1, 1, 0.0f, 0.0f, 0.0f);
}

// ---- Lifecycle ----

int InitEmoteDevice(void* const* ppDevice)
{
    ReleaseEmotePlayers();
    s_pD3DDevice = ppDevice ? *ppDevice : nullptr;
    // Without a device the component is never asked: it could only fail or draw nowhere.
    if (!g_pEmoteDevice && s_pD3DDevice) {
        const uintptr_t auWords[3] = {reinterpret_cast<uintptr_t>(s_pD3DDevice), 0, 0};
        g_pEmoteDevice = g_EmoteApi.pfnCreateDevice2(auWords);
        if (g_pEmoteDevice) g_EmoteApi.pfnInitDevice110(g_pEmoteDevice, 0);
    }
    return g_pEmoteDevice ? 0 : 1;
}

int CreateEmotePlayer(LAYER* pLayer, const uint8_t* pData, size_t nSize)
{
    if (!pLayer) return 1;
    if (pLayer->hEmotePlayer) {
        ShowMessageBox("", "%s", GetEngineText(TXT_EMOTE_ALREADY_LOADED));
        return 1;
    }
    // The component takes 32-bit sizes; a larger file cannot be one of its files.
    if (g_pEmoteDevice && pData && nSize <= UINT32_MAX)
        g_EmoteApi.pfnCreatePlayer119(g_pEmoteDevice, pData, static_cast<uint32_t>(nSize), &pLayer->hEmotePlayer);
    if (!pLayer->hEmotePlayer) {
        ShowMessageBox("", "%s", GetEngineText(TXT_EMOTE_CREATE_FAILED));
        return 1;
    }
    const int nEntry = EntryOf(nullptr);
    if (nEntry < 0) {
        // Unregistered, the player would outlive the device object: it goes at once.
        g_EmoteApi.pfnReleasePlayer202(pLayer->hEmotePlayer);
        pLayer->hEmotePlayer = 0;
        pLayer->bKind = LAYERKIND_CPU;
        ShowMessageBox("", "%s", GetEngineText(TXT_EMOTE_TOO_MANY));
        return 1;
    }
    g_apEmoteLayer[nEntry] = pLayer;
    g_afEmotePendingMs[nEntry] = 0.0f;
    g_EmoteApi.pfnSetValue214(pLayer->hEmotePlayer, 0.5f);
    g_EmoteApi.pfnSetValue218(pLayer->hEmotePlayer, 0.5f);
    g_EmoteApi.pfnSetValue216(pLayer->hEmotePlayer, 0.5f);
    return 0;
}

void StartEmotePlayer(LAYER* pLayer)
{
    const uint32_t h = PlayerOf(pLayer);
    if (!h) return;
    g_EmoteApi.pfnSetScale222(h, 0.0f, 0, 0);
    g_EmoteApi.pfnCall205(h);
}

void ReleaseEmotePlayer(LAYER* pLayer)
{
    if (!pLayer || !pLayer->hEmotePlayer) return;
    for (int i = 0; i < KX_EMOTE_PLAYERS; ++i)
        if (g_apEmoteLayer[i] == pLayer) {
            g_apEmoteLayer[i] = nullptr;
            g_afEmotePendingMs[i] = 0.0f;
        }
    g_EmoteApi.pfnReleasePlayer202(pLayer->hEmotePlayer);
    pLayer->hEmotePlayer = 0;
    pLayer->bKind = LAYERKIND_CPU;
}

void ReleaseEmotePlayers(void)
{
    for (int i = 0; i < KX_EMOTE_PLAYERS; ++i) {
        if (g_apEmoteLayer[i]) ReleaseEmotePlayer(g_apEmoteLayer[i]);
        g_apEmoteLayer[i] = nullptr;
        g_afEmotePendingMs[i] = 0.0f;
    }
    if (g_pEmoteDevice) g_EmoteApi.pfnReleaseDevice102(g_pEmoteDevice);
    g_pEmoteDevice = 0;
}

void RetargetEmoteLayer(LAYER* pFrom, LAYER* pTo)
{
    for (LAYER*& p : g_apEmoteLayer)
        if (p == pFrom) p = pTo;
}

int IsAnyEmotePlayerBusy(void)
{
    for (LAYER* pLayer : g_apEmoteLayer) {
        const uint32_t h = PlayerOf(pLayer);
        if (!h) continue;
        if ((g_EmoteApi.pfnIsBusy255(h) & 0xFFu) == 1) return 1;
        if ((g_EmoteApi.pfnIsBusyText246(h, "") & 0xFFu) == 1) return 1;
    }
    return 0;
}

void AdvanceEmotePlayers(uint32_t dwElapsed)
{
    if (!g_bEmoteAvailable) return;
    for (int i = 0; i < KX_EMOTE_PLAYERS; ++i) {
        if (g_apEmoteLayer[i] && g_afEmotePendingMs[i] != 0.0f) {
            AdvanceEmotePlayer(g_apEmoteLayer[i], g_afEmotePendingMs[i]);
            g_afEmotePendingMs[i] = 0.0f;
        }
    }
    const float fPending = dwElapsed > 10000 ? 16.0f : static_cast<float>(dwElapsed);
    for (int i = 0; i < KX_EMOTE_PLAYERS; ++i)
        if (g_apEmoteLayer[i]) g_afEmotePendingMs[i] = fPending;
}

// ---- Per-draw operations ----

void SetEmoteCoord(LAYER* pLayer, float x, float y)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSetCoord220(h, x, y, 0, 0);
}

void SetEmoteScale(LAYER* pLayer, float fScale)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSetScale222(h, fScale, 0, 0);
}

void SetEmoteRotation(LAYER* pLayer, float fRadians)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSetRotation224(h, fRadians, 0, 0);
}

void AdvanceEmotePlayer(LAYER* pLayer, float fMs)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnProgress254(h, fMs * kFramesPerMs);
}

void DrawEmotePlayer(LAYER* pLayer)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnDraw256(h);
}

void DrawEmoteLayer(LAYER* pLayer, int32_t nRenderWidth, int32_t nRenderHeight)
{
    if (!pLayer) return;
    const double dFirst = static_cast<double>(pLayer->allGpuValue[0]);
    const double dSecond = static_cast<double>(pLayer->allGpuValue[1]);
    SetEmoteCoord(pLayer, static_cast<float>(-dFirst / 200.0), static_cast<float>(dSecond / 200.0));
    SetEmoteScale(pLayer, static_cast<float>(static_cast<double>(pLayer->llScaleX) / 10000.0));
    SetEmoteRotation(pLayer, -pLayer->afGpuAngle[2] * kPi / 180.0f / 100.0f);
    const double x = static_cast<double>(pLayer->llX100) / 100.0 - dFirst / 200.0 - nRenderWidth / 2.0;
    const double y = static_cast<double>(pLayer->llY100) / 100.0 - dSecond / 200.0 - nRenderHeight / 2.0;
    SetEmoteTransforms(nRenderWidth, nRenderHeight, static_cast<float>(x), static_cast<float>(y), 0.0f);
    const int nEntry = EntryOf(pLayer);
    if (nEntry >= 0 && g_afEmotePendingMs[nEntry] != 0.0f) {
        AdvanceEmotePlayer(pLayer, g_afEmotePendingMs[nEntry]);
        g_afEmotePendingMs[nEntry] = 0.0f;
    }
    DrawEmotePlayer(pLayer);
}

// ---- One ordinal each ----

void EmoteSendText245(LAYER* pLayer, const char* pszUtf8)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSendText245(h, pszUtf8, 1);
}
void EmoteSendText247(LAYER* pLayer, const char* pszUtf8)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSendText247(h, pszUtf8);
}
void EmoteCall253(LAYER* pLayer)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnCall253(h);
}
void EmoteSetValue214(LAYER* pLayer, float f)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSetValue214(h, f);
}
void EmoteSetValue216(LAYER* pLayer, float f)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSetValue216(h, f);
}
void EmoteSetValue218(LAYER* pLayer, float f)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnSetValue218(h, f);
}
void EmoteCall235(LAYER* pLayer, const float afValues[5])
{
    if (const uint32_t h = PlayerOf(pLayer))
        g_EmoteApi.pfnCall235(h, afValues[0], afValues[1], afValues[2], afValues[3], afValues[4]);
}
void EmoteCall236(LAYER* pLayer)
{
    if (const uint32_t h = PlayerOf(pLayer)) g_EmoteApi.pfnCall236(h);
}

char* ConvertSJISToUTF8(const char* pszText, size_t nLen)
{
    // U+30FB KATAKANA MIDDLE DOT, the usual stand-in for a character cp932 does not have.
    const std::string s = PlatCp932BytesToUtf8(pszText, nLen, "\xE3\x83\xBB");
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    if (!p) return nullptr;
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

// ---- The command ----

namespace {

// A script text as UTF-8 for the component.
void SendText(LAYER* pLayer, const char* pszCp932, int bMode1)
{
    char* pszUtf8 = ConvertSJISToUTF8(pszCp932, std::strlen(pszCp932));
    if (!pszUtf8) return;
    if (bMode1) EmoteSendText245(pLayer, pszUtf8);
    else EmoteSendText247(pLayer, pszUtf8);
    std::free(pszUtf8);
}

// The name/value pairs of ids 15..17 over the time of id 14.
void SendPairs(LAYER* pLayer)
{
    const VAR_DESC* pNames = GetVarDesc(g_anArgVar[ArgSlot(EMOTE_ARG_NAMES)]);
    const VAR_DESC* pValues = GetVarDesc(g_anArgVar[ArgSlot(EMOTE_ARG_VALUES)]);
    if (!pNames || !pValues) return;
    int64_t n = HasArg(EMOTE_ARG_PAIR_COUNT) ? ArgInt(EMOTE_ARG_PAIR_COUNT) : 0;
    if (pNames->llCount < n) n = pNames->llCount;
    if (pValues->llCount < n) n = pValues->llCount;
    // The table ends at its first entry without a name, so the last entry always stays empty.
    if (n > KX_EMOTE_PAIRS - 1) n = KX_EMOTE_PAIRS - 1;
    struct PAIR {
        const char* pszName;
        float fValue;
    } aPairs[KX_EMOTE_PAIRS] = {};
    const int nNames = g_anArgVar[ArgSlot(EMOTE_ARG_NAMES)];
    const int nValues = g_anArgVar[ArgSlot(EMOTE_ARG_VALUES)];
    for (int64_t i = 0; i < n; ++i) {
        aPairs[i].pszName = GetVarString(nNames, i);
        aPairs[i].fValue = static_cast<float>(GetVarFloat(nValues, i));
    }
    const float fFrames = static_cast<float>(HasArg(EMOTE_ARG_TIME) ? ArgInt(EMOTE_ARG_TIME) : 0) * kFramesPerMs;
    const uint32_t h = PlayerOf(pLayer);
    for (int i = 0; i < KX_EMOTE_PAIRS && aPairs[i].pszName; ++i)
        if (h) g_EmoteApi.pfnSetVariable233(h, aPairs[i].pszName, aPairs[i].fValue, fFrames, 0);
}

}  // namespace

int CmdEmote(void)
{
    if (FetchCommandArgs(CMDID_EMOTE) != 0) return -1;
    char szPath[KX_MAX_OBJECT_PATH];
    const int bGroup = ResolveLayerArgPath(szPath);
    if (bGroup < 0) return -1;
    TREE_NODE* pNode = FindLayerNode(szPath, bGroup);
    LAYER* pLayer = pNode ? GetNodeLayer(pNode) : nullptr;
    if (!pLayer) return 0;

    if (HasArg(EMOTE_ARG_TEXT) && HasArg(EMOTE_ARG_TEXT_MODE))
        SendText(pLayer, ArgText(EMOTE_ARG_TEXT), ArgInt(EMOTE_ARG_TEXT_MODE) == 1);
    if (HasArg(EMOTE_ARG_CALL253) && ArgInt(EMOTE_ARG_CALL253) == 1) EmoteCall253(pLayer);
    if (HasArg(EMOTE_ARG_VALUE214)) EmoteSetValue214(pLayer, static_cast<float>(ArgInt(EMOTE_ARG_VALUE214)) / 10000.0f);
    if (HasArg(EMOTE_ARG_VALUE218)) EmoteSetValue218(pLayer, static_cast<float>(ArgInt(EMOTE_ARG_VALUE218)) / 10000.0f);
    if (HasArg(EMOTE_ARG_VALUE216)) EmoteSetValue216(pLayer, static_cast<float>(ArgInt(EMOTE_ARG_VALUE216)) / 10000.0f);
    if (HasArg(EMOTE_ARG_SWITCH)) {
        if (ArgInt(EMOTE_ARG_SWITCH) == 0) {
            EmoteCall236(pLayer);
        } else {
            float afValues[5] = {0.0f, 1.0f, 1.0f, 1.0f, 1.0f};
            for (int i = 0; i < 5; ++i)
                if (HasArg(EMOTE_ARG_FIVE_FIRST + i)) afValues[i] = static_cast<float>(ArgInt(EMOTE_ARG_FIVE_FIRST + i));
            EmoteCall235(pLayer, afValues);
        }
    }
    if (HasArg(EMOTE_ARG_NAMES) && HasArg(EMOTE_ARG_VALUES)) SendPairs(pLayer);
    return 0;
}
