// The shared sound declarations: the constants that the ring, the commands and saved games rely on.
#include <gtest/gtest.h>
#include <type_traits>
#include "sound/sound.h"

TEST(SoundHeader, RequestCodesAndRing)
{
    EXPECT_EQ(SNDREQ_LOAD, 1);
    EXPECT_EQ(SNDREQ_PLAY, 2);
    EXPECT_EQ(SNDREQ_PAUSE, 3);
    EXPECT_EQ(SNDREQ_FADEOUT, 4);
    EXPECT_EQ(SNDREQ_VOLUME, 5);
    EXPECT_EQ(SNDREQ_FADE_TARGET, 6);
    EXPECT_EQ(SNDREQ_LOOP_COUNT, 7);
    EXPECT_EQ(SNDREQ_END_POS, 8);
    EXPECT_EQ(SNDREQ_START_POS, 9);
    EXPECT_EQ(SNDREQ_LOOP_START, 10);
    EXPECT_EQ(SNDREQ_PAN, 11);
    EXPECT_EQ(SNDREQ_FREQUENCY, 12);
    EXPECT_EQ(SNDREQ_NOP, 13);
    EXPECT_EQ(SNDREQ_UNLOAD, 14);
    EXPECT_EQ(SNDREQ_CODE_COUNT, 15);
    EXPECT_EQ(SNDREQ_RING_SIZE, 1024);
    EXPECT_GE(SNDREQ_TEXT_SIZE, 256);
}

TEST(SoundHeader, ChannelRecord)
{
    EXPECT_EQ(SNDSTATE_EMPTY, 0);
    EXPECT_EQ(SNDSTATE_FADEOUT, 4);
    EXPECT_EQ(SNDSRC_OGG, 1);
    EXPECT_EQ(SNDSRC_WAV, 2);
    EXPECT_EQ(SND_SILENCE_ORDER, 999999999);
    SOUND_CHANNEL* p = new SOUND_CHANNEL();
    EXPECT_EQ(p->bState.load(), SNDSTATE_EMPTY);
    EXPECT_EQ(p->pBuffer, nullptr);
    EXPECT_EQ(p->dwPauseStamp, 0u);
    EXPECT_EQ(sizeof(p->szName), 261u);
    delete p;
    static_assert(std::is_same_v<decltype(&SoundOpLoad), SOUND_OP_FN>);
}
