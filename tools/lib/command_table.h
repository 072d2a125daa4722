// The canonical command table of the fixtures: the 121 commands of the engine by command id
// (= opcode), with their arguments' names, value kinds and range check kinds, as the script
// compiler writes them into kxc.kbn. Names are free: the engine shows them only in messages.
// Commands whose arguments are not described yet have none; each command's owner adds its rows.
#pragma once
#include <cstdint>

#include "tools/lib/kx_writers.h"

inline constexpr int KX_COMMAND_COUNT = 121;

// Command ids.
enum {
    KXCMD_NOP = 0,
    KXCMD_LAYER = 1,
    KXCMD_IMAGE_EFFECT = 2,
    KXCMD_LAYER_DELETE = 3,
    KXCMD_LAYER_INFO = 4,
    KXCMD_CLIPBOARD_COPY = 5,
    KXCMD_CLIPBOARD_PASTE = 6,
    KXCMD_CSV_READ = 7,
    KXCMD_CSV_COUNT = 8,
    KXCMD_NOP9 = 9,
    KXCMD_MESSAGE_BOX = 10,
    KXCMD_ELSE = 11,
    KXCMD_EMOTE = 12,
    KXCMD_QUIT = 13,
    KXCMD_SET_SWITCHES = 14,
    KXCMD_ARGS_ONLY15 = 15,
    KXCMD_FILE = 20,
    KXCMD_FILE_QUERY = 21,
    KXCMD_FLASH_OPEN = 22,
    KXCMD_FLASH_CLOSE = 23,
    KXCMD_FLASH_GET = 24,
    KXCMD_DECLARE_FLOAT = 25,
    KXCMD_TEXT_STYLE = 26,
    KXCMD_TEXT_STYLE_INFO = 27,
    KXCMD_FRAME_RATE = 28,
    KXCMD_GOTO = 42,
    KXCMD_GOSUB = 43,
    KXCMD_IF = 44,
    KXCMD_BRANCH_END = 45,
    KXCMD_IF_BREAK = 46,
    KXCMD_IF_RETRY = 47,
    KXCMD_END_IF = 48,
    KXCMD_INPUT_SWITCHES = 49,
    KXCMD_DECLARE_INT = 50,
    KXCMD_NOP51 = 51,
    KXCMD_LABEL_EXISTS = 52,
    KXCMD_ASSIGN = 53,
    KXCMD_LOAD = 54,
    KXCMD_LOOP = 55,
    KXCMD_BREAK = 56,
    KXCMD_CONTINUE = 57,
    KXCMD_LOOP_END = 58,
    KXCMD_MATH = 60,
    KXCMD_MOTION_STEP = 61,
    KXCMD_MENU_ITEM = 62,
    KXCMD_MENU_POPUP = 63,
    KXCMD_MENU_DELETE = 64,
    KXCMD_MENU_GET = 65,
    KXCMD_ARGS_ONLY66 = 66,
    KXCMD_ARGS_ONLY67 = 67,
    KXCMD_ARGS_ONLY68 = 68,
    KXCMD_MOUSE = 69,
    KXCMD_MOVIE = 70,
    KXCMD_MOVIE_STOP = 71,
    KXCMD_MOVIE_GET = 72,
    KXCMD_OGV_PLAY = 73,
    KXCMD_OGV_STOP = 74,
    KXCMD_OGV_GET = 75,
    KXCMD_MOVIE_NOP = 76,
    KXCMD_NOP77 = 77,
    KXCMD_REG_READ = 78,
    KXCMD_RETURN = 79,
    KXCMD_NOP80 = 80,
    KXCMD_TEXT_END = 81,
    KXCMD_NOP82 = 82,
    KXCMD_NOP83 = 83,
    KXCMD_NOP84 = 84,
    KXCMD_SAVE = 86,
    KXCMD_SAVE_CLEAR = 87,
    KXCMD_ARGS_ONLY88 = 88,
    KXCMD_SOUND = 89,
    KXCMD_SOUND_DELETE = 90,
    KXCMD_SOUND_GET = 91,
    KXCMD_DECLARE_STRING = 92,
    KXCMD_ENGINE_SETTINGS = 93,
    KXCMD_SCRIPT_LIST = 94,
    KXCMD_THREAD = 95,
    KXCMD_THREAD_END = 96,
    KXCMD_THREAD_INFO = 97,
    KXCMD_READ_TEXT_LINES = 98,
    KXCMD_ARGS_ONLY99 = 99,
    KXCMD_TRAY_ICON = 100,
    KXCMD_ARGS_ONLY101 = 101,
    KXCMD_VAR_UTIL = 102,
    KXCMD_VAR_QUERY = 103,
    KXCMD_WAIT = 104,
    KXCMD_WINDOW = 105,
    KXCMD_WINDOW_HIDE = 106,
    KXCMD_WINDOW_INFO = 107,
    KXCMD_TEXT_APPEND = 108,
    KXCMD_FRAME_SHEET_LOAD = 109,
    KXCMD_FRAME_SHEET_FREE = 110,
    KXCMD_FRAME_SHEET_INFO = 111,
    KXCMD_TEXT_APPEND_EXPR = 112,
    KXCMD_SYSTEM = 116,
};

// Argument ids of the call (43) and return (79) commands: the label, then integer, double and
// text items 1..16.
inline constexpr int KX_CALL_ARG_LABEL = 0;
inline constexpr int KX_CALL_ARG_INT = 1;      // + item - 1
inline constexpr int KX_CALL_ARG_FLOAT = 17;
inline constexpr int KX_CALL_ARG_TEXT = 33;
inline constexpr int KX_RETURN_ARG_INT = 0;
inline constexpr int KX_RETURN_ARG_FLOAT = 16;
inline constexpr int KX_RETURN_ARG_TEXT = 32;

// Arguments of the set-switches command (14): ids 0..123, id k + 2 the switch of command k.
inline constexpr int KX_SWITCHES_LAST_ARG = 123;
// Argument ids of the thread command (95): the name, run flags A and B, the order key, integer,
// float (given as integers) and text parameters 1..10, the start label, a thread state text and the
// re-run request. The information command (97) answers by the first present selector id.
inline constexpr int KX_THREAD_ARG_NAME = 0;
inline constexpr int KX_THREAD_ARG_RUN_A = 1;
inline constexpr int KX_THREAD_ARG_RUN_B = 2;
inline constexpr int KX_THREAD_ARG_KEY = 3;
inline constexpr int KX_THREAD_ARG_INT = 4;     // + item - 1
inline constexpr int KX_THREAD_ARG_FLOAT = 14;
inline constexpr int KX_THREAD_ARG_TEXT = 24;
inline constexpr int KX_THREAD_ARG_LABEL = 34;
inline constexpr int KX_THREAD_ARG_STATE = 35;
inline constexpr int KX_THREAD_ARG_RERUN = 37;
inline constexpr int KX_THREAD_INFO_ARG_NAME = 0;
inline constexpr int KX_THREAD_INFO_ARG_OUT = 1;

// The 121 commands, by id.
std::vector<KXC_COMMAND> CanonicalCommands();
// The whole kxc.kbn content of the fixtures: the canonical commands, errno texts "errno 0" ..
// "errno 36" and the identity key map.
KXC_TABLE CanonicalCommandTable();
