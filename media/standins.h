// The E-mote players and the Flash host are not built yet. Until they are, these stand-ins with
// their final names keep their places in the hook tables and the command table: no player or Flash
// control exists, and the commands report that they are not part of this build.
#pragma once
#include <cstddef>
#include <cstdint>

struct LAYER;

// E-mote players: none is ever made (a PSB layer keeps its placeholder picture).
void AdvanceEmotePlayers(uint32_t dwElapsed);
int IsAnyEmotePlayerBusy(void);
void ReleaseEmotePlayers(void);
int CreateEmotePlayer(LAYER* pLayer, const uint8_t* pData, size_t nSize);
void ReleaseEmotePlayer(LAYER* pLayer);
void RetargetEmoteLayer(LAYER* pFrom, LAYER* pTo);
int CmdEmote(void);

// The Flash host.
void ReleaseFlashControl(void);
int CmdFlashOpen(void);
int CmdFlashClose(void);
int CmdFlashGet(void);
