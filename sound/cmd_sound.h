// The sound commands: sound (89) creates a sound object and drives it through the request ring,
// sound delete (90) removes an object or a whole group, sound get (91) reads one property of an
// object into a variable. Sound objects are nodes of the sound tree, addressed by object paths
// relative to g_pszSoundPath.
#pragma once
#include <cstdint>

struct TREE_NODE;
struct SOUND_CHANNEL;

// Argument ids of the sound command.
enum {
    SOUND_ARG_PATH = 0,
    SOUND_ARG_ENABLED = 1,
    SOUND_ARG_FILE = 2,
    SOUND_ARG_PLAY = 3,        // 1 play, any other value stop with a fade
    SOUND_ARG_PAUSE = 4,       // 1 pause, any other value resume
    SOUND_ARG_FADE = 5,        // ms of the fade of the play switch
    SOUND_ARG_START = 6,
    SOUND_ARG_LOOP_START = 7,
    SOUND_ARG_END = 8,
    SOUND_ARG_PLAYS = 9,
    SOUND_ARG_VOLUME = 10,
    SOUND_ARG_PAN = 11,
    SOUND_ARG_FREQUENCY = 12,
    SOUND_ARG_NOP = 13,
    SOUND_ARG_LAST = 13,
};

// Argument ids of the get command: the path, the properties 1..22 (the first present of 1..7, else
// every present one of 8..22 with the last standing) and the output variable.
enum {
    SOUND_GET_ARG_PATH = 0,
    SOUND_GET_ARG_FIRST = 1,
    SOUND_GET_ARG_LAST_INT = 7,
    SOUND_GET_ARG_NAME = 8,
    SOUND_GET_ARG_POSITION = 15,
    SOUND_GET_ARG_LEVEL1 = 20,
    SOUND_GET_ARG_LEVEL2 = 21,
    SOUND_GET_ARG_LAST = 22,
    SOUND_GET_ARG_OUT = 23,
};

// Errors of the sound commands (texts from the game's message table; the command's name first).
enum {
    KX_ERR_SOUND_BAD_TYPE = 100030,     // the file is neither WAV nor Ogg (with the file name)
    KX_ERR_SOUND_GROUP_FILE = 101292,   // a file was given for a group path
};

// The handlers: 0 go on, -1 after a reported error (or when a wait ended because the sound thread
// is gone or the engine stops).
int CmdSound(void);
int CmdSoundDelete(void);
int CmdSoundGet(void);

// Unloads the node through the ring and waits until its channel is empty (or the sound thread is
// gone), then takes it out of the tree under the engine lock. An empty channel with no LOAD or PLAY
// pending is not sent an UNLOAD. The node record, its name and its channel stay allocated while a
// request for it can still wait in the ring; ReclaimDeletedSoundNodes frees them afterwards.
void DeleteSoundNode(TREE_NODE* pNode);
// Frees the records and channels (unloading them) of deleted nodes that no pending request names
// any more; the number still kept back. DeleteSoundNode calls it each time.
int ReclaimDeletedSoundNodes(void);
// DeleteSoundChildren, then the group itself.
void DeleteSoundGroup(TREE_NODE* pNode);
// Every child in sibling order, a group's own children first, then the child.
void DeleteSoundChildren(TREE_NODE* pNode);

// The level of the first sample, and of the second channel's sample (mono: the first), of the frame
// at the play cursor: |sample| for 16 bits, |byte - 128| for 8 bits. -1 without a buffer, with a
// format other than 1..2 channels of 8 or 16 bits, or when the cursor or the lock fails.
int GetSoundLevelFirst(SOUND_CHANNEL* pChannel);
int GetSoundLevelSecond(SOUND_CHANNEL* pChannel);
