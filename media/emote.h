// E-mote players: the table of layers whose picture an E-mote player of the outside component draws,
// their creation and release with those layers, the camera for drawing one, the time they are
// given, and the script command that controls a layer's player.
//
// Every entry of the component is always callable (media/emote_component.h), so none of this needs
// the component to be bound; the callers test g_bEmoteAvailable where the engine only acts with it.
// The players draw through the Direct3D device of the GPU drawing: the device pointer and its
// SetTransform are handed in by the device code (InitEmoteDevice, g_pfnEmoteSetTransform). Without a
// device no device object is made, every player creation fails and the layer keeps its placeholder.
#pragma once
#include <cstddef>
#include <cstdint>

struct LAYER;

enum {
    KX_EMOTE_PLAYERS = 128,  // registered players at most
    KX_EMOTE_PAIRS = 256,    // the pair table of the command; the last entry always ends it
};

// The device object the component made of the Direct3D device, 0 when none.
extern uint32_t g_pEmoteDevice;
// The layers that own a registered player (NULL: a free entry) and per entry the milliseconds its
// player still has to be advanced.
extern LAYER* g_apEmoteLayer[KX_EMOTE_PLAYERS];
extern float g_afEmotePendingMs[KX_EMOTE_PLAYERS];

// ---- The camera ----
// A 4 x 4 matrix in the row-vector convention (a point is a row multiplied from the left): m[row][col].
struct EMOTE_MATRIX {
    float m[4][4];
};
// The transform states of the device (the Direct3D values).
enum { EMOTE_TS_VIEW = 2, EMOTE_TS_PROJECTION = 3, EMOTE_TS_WORLD = 256 };
// The device's SetTransform: set by the device code while a device exists, NULL otherwise.
typedef void (*EMOTE_SET_TRANSFORM_FN)(int nState, const EMOTE_MATRIX* pMatrix);
extern EMOTE_SET_TRANSFORM_FN g_pfnEmoteSetTransform;

// The three matrices for drawing a player on a canvas of W x H pixels moved by (x, y) and turned by
// fAngle degrees (H = 0: W = H = 1): WORLD turns about Z by -angle; VIEW looks from (-0.5 - x,
// 0.5 - y, H / 2) down -Z with up (0, -1, 0), mirrored in x; PROJECTION keeps w = z and scales x by
// H / W, so the canvas at distance H / 2 fills the view.
void ComputeEmoteTransforms(int32_t nW, int32_t nH, float x, float y, float fAngle, EMOTE_MATRIX* pWorld,
                            EMOTE_MATRIX* pView, EMOTE_MATRIX* pProjection);
// Computes them and sets WORLD, VIEW and PROJECTION in this order; nothing without a device.
void SetEmoteTransforms(int32_t nW, int32_t nH, float x, float y, float fAngle);
// With the component available: the neutral camera (1, 1, 0, 0, 0).
void ResetEmoteTransforms(void);

// ---- Lifecycle ----
// Releases every player, then makes the device object of the Direct3D device *ppDevice (component
// ordinals 2 and 110) when none exists. 0, or 1 when there is no device object afterwards (also
// for a missing device).
int InitEmoteDevice(void* const* ppDevice);
// A player of the PSB file's bytes for the layer, registered in the first free entry and set to
// 0.5 in its three values. 0, or 1 after a message box: the layer already has a player, the
// component made none, or the table is full (the new player is released at once).
int CreateEmotePlayer(LAYER* pLayer, const uint8_t* pData, size_t nSize);
// What the PSB loader does with a new player: scale 0, then the component's start call.
void StartEmotePlayer(LAYER* pLayer);
// Releases the layer's player (nothing without a layer or a player): every entry naming the layer
// is freed, the handle cleared and the layer drawn by the CPU again.
void ReleaseEmotePlayer(LAYER* pLayer);
// Releases every registered player, clears the table, then releases the device object.
void ReleaseEmotePlayers(void);
// Every entry that names the first layer names the second instead (a player moved between layers).
void RetargetEmoteLayer(LAYER* pFrom, LAYER* pTo);
// 1 when a registered player is busy (ordinal 255, else 246 with an empty text), else 0. The
// entries are asked in order and the first busy one answers.
int IsAnyEmotePlayerBusy(void);
// The frame pacing's share: with the component available, every registered player with pending
// time is advanced by it and its pending time cleared; then every registered entry gets the
// elapsed time as pending (16 ms when above 10000 ms, as after a stall).
void AdvanceEmotePlayers(uint32_t dwElapsed);

// ---- Per-draw operations on a layer's player (nothing without a layer or a player) ----
void SetEmoteCoord(LAYER* pLayer, float x, float y);
void SetEmoteScale(LAYER* pLayer, float fScale);
void SetEmoteRotation(LAYER* pLayer, float fRadians);
void AdvanceEmotePlayer(LAYER* pLayer, float fMs);   // frames = ms x 0.06
void DrawEmotePlayer(LAYER* pLayer);
// Draws one E-mote layer into the current render target of a render size of nRenderWidth x
// nRenderHeight: position, scale, rotation and camera from the layer's fields, its pending time,
// then the player's drawing.
void DrawEmoteLayer(LAYER* pLayer, int32_t nRenderWidth, int32_t nRenderHeight);

// ---- One ordinal each on a layer's player ----
void EmoteSendText245(LAYER* pLayer, const char* pszUtf8);
void EmoteSendText247(LAYER* pLayer, const char* pszUtf8);
void EmoteCall253(LAYER* pLayer);
void EmoteSetValue214(LAYER* pLayer, float f);
void EmoteSetValue216(LAYER* pLayer, float f);
void EmoteSetValue218(LAYER* pLayer, float f);
void EmoteCall235(LAYER* pLayer, const float afValues[5]);
void EmoteCall236(LAYER* pLayer);

// A cp932 text of nLen bytes as UTF-8 in a new terminated buffer the caller frees; a byte sequence
// with no cp932 meaning becomes U+30FB. NULL when out of memory.
char* ConvertSJISToUTF8(const char* pszText, size_t nLen);

// The E-mote command (12). Argument ids:
enum {
    EMOTE_ARG_LAYER = 0, EMOTE_ARG_NUMBER = 1,
    EMOTE_ARG_VALUE214 = 2, EMOTE_ARG_VALUE218 = 3, EMOTE_ARG_VALUE216 = 4,
    EMOTE_ARG_SWITCH = 5, EMOTE_ARG_FIVE_FIRST = 6,   // 6..10
    EMOTE_ARG_CALL253 = 11, EMOTE_ARG_TEXT = 12, EMOTE_ARG_TEXT_MODE = 13, EMOTE_ARG_TIME = 14,
    EMOTE_ARG_NAMES = 15, EMOTE_ARG_VALUES = 16, EMOTE_ARG_PAIR_COUNT = 17,
};
// 0, or -1 after a failed decoding or an invalid layer path.
int CmdEmote(void);
