// A fake E-mote component for the tests: every ordinal the engine calls records its call ("ordinal
// arg arg ...", texts in quotes so an empty one shows) and answers as the knobs below say.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/plat_modules.h"

struct EMOTE_FAKE {
    std::vector<std::string> calls;
    uint32_t hNextPlayer = 0x100;   // the handle the next creation gives (then counts up); 0: it fails
    uint32_t hBusy255 = 0;          // the player the plain busy test calls busy
    uint32_t hBusy246 = 0;          // the player the text busy test calls busy
    bool bRecordData = false;       // creation records the file bytes as text
};
extern EMOTE_FAKE g_EmoteFake;

// Back to the knobs above with no calls.
void ResetEmoteFake(void);
// Registers the fake as the module "VEVuvoz.dll" (the driver module it needs is the test's to
// register); without ordinal 246 when bWith246 is false. 0 or -1.
int RegisterEmoteFake(bool bWith246);
// The fake's function for an ordinal, NULL when it has none.
void* EmoteFakeEntry(int nOrdinal);
// Records one call (for fakes of the tests' own).
void RecordEmoteCall(const std::string& strCall);
