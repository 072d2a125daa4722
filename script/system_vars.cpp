// System variables: readers by type, the writer of the assignable numbers, and their installation
// into the variable store.
#include "script/system_vars.h"

#include <cstring>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/input_state.h"
#include "core/kx_math.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "core/game_config.h"
#include "script/engine_control.h"
#include "script/evaluator.h"
#include "script/flow_frames.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/text_buffer.h"
#include "script/variables.h"

namespace {

// Numbers with a meaning of their own; the key and joystick ranges follow below.
enum {
    SV_LOCAL_TIME = 0,
    SV_CLOCK = 1,
    SV_OS_CODE = 2,
    SV_DIRECTX = 3,
    SV_SOUND_ON = 4,
    SV_MEM_TOTAL = 5,
    SV_MEM_LOAD = 6,
    SV_MEM_AVAIL = 7,
    SV_ZERO_8 = 8,
    SV_FOLDER_READ_ONLY = 9,
    SV_PI = 10,
    SV_DEBUG = 11,
    SV_CMDLINE_WORD = 12,
    SV_CMDLINE_COUNT = 13,
    SV_FILE_ENTRY = 14,
    SV_FILE_COUNT = 15,
    SV_LOOP_PASS = 48,
    SV_999 = 49,
    SV_INDIRECT_INT = 50,
    SV_INDIRECT_FLOAT = 51,
    SV_INDIRECT_TEXT = 52,
    SV_ARG_INT = 53,
    SV_ARG_FLOAT = 54,
    SV_ARG_TEXT = 55,
    SV_ARG_GIVEN = 56,
    SV_ARG_INT_GIVEN = 57,
    SV_ARG_FLOAT_GIVEN = 58,
    SV_ARG_TEXT_GIVEN = 59,
    SV_RET_INT = 60,
    SV_RET_FLOAT = 61,
    SV_RET_TEXT = 62,
    SV_RET_GIVEN = 63,
    SV_RET_INT_GIVEN = 64,
    SV_RET_FLOAT_GIVEN = 65,
    SV_RET_TEXT_GIVEN = 66,
    SV_PARAM_INT = 67,
    SV_PARAM_FLOAT = 68,
    SV_PARAM_TEXT = 69,
    SV_REF_TYPE = 70,
    SV_GAME_FOLDER = 103,
    SV_WORK_FOLDER = 104,
    SV_SAVE_FOLDER = 105,
    SV_APPDATA_FOLDER = 106,
    SV_DOCUMENTS_FOLDER = 107,
    SV_TABLE_VERSION = 108,
    SV_FRAME_COUNT = 109,
    SV_PASS_COUNT = 110,
    SV_TIMER_1 = 111,
    SV_SAVE_MODE = 112,
    SV_DIRECT3D = 113,
    SV_DESKTOP_BITS = 114,
    SV_DESKTOP_WIDTH = 115,
    SV_DESKTOP_HEIGHT = 116,
    SV_MAXIMIZE_EVENT = 117,
    SV_MINIMIZE_EVENT = 118,
    SV_CLOSE_EVENT = 119,
    SV_CAPTION_DBLCLICK = 120,
    SV_USER_SWITCH = 121,
    SV_MESSAGE_TEXT = 122,
    SV_MESSAGE_CODES = 123,
    SV_VAR_TABLE_EXTRA = 124,
    SV_THREAD_NAME = 125,
    SV_THREAD_COUNT = 126,
    SV_BYTE_TEXT = 127,
    SV_LAYER_PATH = 128,
    SV_SOUND_PATH = 129,
    SV_THREAD_PATH = 130,
    SV_MENU_PATH = 131,
    SV_MENU_COMMAND = 132,
    SV_MOUSE_X_FIRST = 133,   // 133 and 134 window 0, 135..137 windows 1..3
    SV_MOUSE_Y_FIRST = 138,   // 138 and 139 window 0, 140..142 windows 1..3
    SV_ZERO_143 = 143,
    SV_KEY_HOLD = 144,
    SV_LAST_KEY = 145,
    SV_LAST_MOUSE_BUTTON = 146,
    SV_MAP_HOLD_FIRST = 147, SV_MAP_HOLD_LAST = 275,
    SV_JOY_DIR_HOLD_FIRST = 276, SV_JOY_DIR_HOLD_LAST = 279,
    SV_JOY_BUTTON_HOLD = 280,
    SV_MAP_PRESS_FIRST = 281, SV_MAP_PRESS_LAST = 408,
    SV_MAP_PRESS_WRITE_LAST = 409,   // assignments reach one number further than reads
    SV_JOY_DIR_PRESS_FIRST = 410, SV_JOY_DIR_PRESS_LAST = 413,
    SV_JOY_BUTTON_PRESS = 414,
    SV_MAP_KEY_FIRST = 415, SV_MAP_KEY_LAST = 542,
    SV_JOY_DIR_KEY_FIRST = 543, SV_JOY_DIR_KEY_LAST = 546,
    SV_JOY_BUTTON_KEY = 547,
};

constexpr double kPi = 3.141592653589793;
constexpr int64_t kTableVersion = 555;
constexpr uint64_t kDword = 0xFFFFFFFFull;

void LockEngine(void)
{
    if (g_csEngine) PlatLockEnter(g_csEngine);
}

void UnlockEngine(void)
{
    if (g_csEngine) PlatLockLeave(g_csEngine);
}

// ---- Time ----

int64_t LocalTimeField(const PLAT_LOCAL_TIME& t, int nField)
{
    switch (nField) {
    case 0: return t.nYear;
    case 1: return t.nMonth;
    case 2: return t.nDay;
    case 3: return t.nDayOfWeek;
    case 4: return t.nHour;
    case 5: return t.nMinute;
    case 6: return t.nSecond;
    default: return t.nMilliseconds;
    }
}

// Elements 0..7 the local time now, 8..15 the same fields at start-up.
int64_t ReadLocalTime(int64_t llElem)
{
    if (llElem < 0 || llElem > 15) return 0;
    if (llElem >= 8) return LocalTimeField(g_stStartTime, static_cast<int>(llElem - 8));
    PLAT_LOCAL_TIME t;
    PlatGetLocalTime(&t);
    return LocalTimeField(t, static_cast<int>(llElem));
}

// Script timer 1..4 in milliseconds since its offset; the clock's wrap is taken as elapsed time.
int64_t ReadScriptTimer(int nTimer)
{
    LockEngine();
    const int i = nTimer - 1;
    const uint32_t dwAt = g_abTimerRunning[i] ? PlatGetTime() : static_cast<uint32_t>(g_allTimerStopTime[i]);
    const uint32_t dwElapsed = dwAt - g_anTimerPaused[i];
    UnlockEngine();
    return dwElapsed;
}

int64_t ReadClock(int64_t llElem)
{
    if (llElem == 0) return PlatGetTime();
    if (llElem >= 1 && llElem <= KX_SCRIPT_TIMERS) return ReadScriptTimer(static_cast<int>(llElem));
    return 0;
}

// ---- Memory (32-bit figures, as the old status call gave them) ----

int64_t ReadMemory(int nVar)
{
    PLAT_MEMORY_INFO m = {};
    PlatGetMemoryInfo(&m);
    const uint64_t nAvail = m.nAvail < m.nTotal ? m.nAvail : m.nTotal;
    switch (nVar) {
    case SV_MEM_TOTAL: return static_cast<int64_t>(m.nTotal < kDword ? m.nTotal : kDword);
    case SV_MEM_AVAIL: return static_cast<int64_t>(nAvail < kDword ? nAvail : kDword);
    default: return m.nTotal ? static_cast<int64_t>((m.nTotal - nAvail) * 100 / m.nTotal) : 0;   // load in percent
    }
}

// ---- The running thread ----

const CALL_FRAME* CurrentCallFrame(void)
{
    const SCRIPT_THREAD* t = g_pCurThread;
    if (!t || t->nCallDepth < 0 || t->nCallDepth >= KX_CALL_DEPTH) return nullptr;
    return t->apCall[t->nCallDepth];
}

CALL_FRAME* CurrentCallFrameForWrite(void)
{
    return const_cast<CALL_FRAME*>(CurrentCallFrame());
}

// The array index of item k (1..16), or -1.
int CallItem(int64_t k)
{
    return k >= 1 && k <= KX_CALL_ITEMS ? static_cast<int>(k - 1) : -1;
}

// The array index of item k when k is within the group's count (row entry 0), or -1.
int CountedItem(int64_t k, const uint8_t* pbRow)
{
    const int nCount = pbRow[0] < KX_CALL_ITEMS ? static_cast<int>(pbRow[0]) : static_cast<int>(KX_CALL_ITEMS);
    return k >= 1 && k <= nCount ? static_cast<int>(k - 1) : -1;
}

// Entry k (1..16) of a count-and-flag row, or 0.
int64_t GivenFlag(const uint8_t* pbRow, int64_t k)
{
    return CallItem(k) >= 0 ? (pbRow[k] ? 1 : 0) : 0;
}

int64_t ReadCallFrameInt(int nVar, int64_t k)
{
    const CALL_FRAME* f = CurrentCallFrame();
    if (!f) return 0;
    int i;
    switch (nVar) {
    case SV_ARG_INT:
        i = CountedItem(k, f->abArgIntGiven);
        return i >= 0 ? f->allArgInt[i] : 0;
    case SV_ARG_GIVEN:
        return GivenFlag(f->abArgIntGiven, k) | GivenFlag(f->abArgFloatGiven, k) | GivenFlag(f->abArgTextGiven, k);
    case SV_ARG_INT_GIVEN: return GivenFlag(f->abArgIntGiven, k);
    case SV_ARG_FLOAT_GIVEN: return GivenFlag(f->abArgFloatGiven, k);
    case SV_ARG_TEXT_GIVEN: return GivenFlag(f->abArgTextGiven, k);
    case SV_RET_INT:
        i = CallItem(k);
        return i >= 0 ? f->allRetInt[i] : 0;
    case SV_RET_GIVEN:
        return GivenFlag(f->abRetIntGiven, k) | GivenFlag(f->abRetFloatGiven, k) | GivenFlag(f->abRetTextGiven, k);
    case SV_RET_INT_GIVEN: return GivenFlag(f->abRetIntGiven, k);
    case SV_RET_FLOAT_GIVEN: return GivenFlag(f->abRetFloatGiven, k);
    case SV_RET_TEXT_GIVEN: return GivenFlag(f->abRetTextGiven, k);
    default: return 0;
    }
}

// The thread parameters are entries 0..16 of the thread's arrays.
int ThreadParam(int64_t k)
{
    return g_pCurThread && k >= 0 && k < KX_THREAD_PARAMS ? static_cast<int>(k) : -1;
}

int64_t ReadLoopPass(void)
{
    const SCRIPT_THREAD* t = g_pCurThread;
    if (!t || t->nLoopDepth <= 0 || t->nLoopDepth > KX_LOOP_DEPTH) return 0;
    const LOOP_FRAME* l = t->apLoop[t->nLoopDepth - 1];
    return l ? l->llPassCounter : 0;
}

// ---- Indirect access ----

// The user variable of a reference value (variable number in the high 32 bits); NULL for a system
// variable, a number outside the table or a variable of no type. *pllElem gets the low 32 bits.
VAR_DESC* ReferencedVar(int64_t llRef, int* pnVar, int64_t* pllElem)
{
    const uint64_t nTarget = static_cast<uint64_t>(llRef) >> 32;
    *pllElem = static_cast<uint32_t>(llRef);
    if (nTarget < KX_FIRST_USER_VAR || nTarget >= static_cast<uint64_t>(g_nVarDesc)) return nullptr;
    *pnVar = static_cast<int>(nTarget);
    VAR_DESC* p = GetVarDesc(*pnVar);
    return p && p->bType != KX_VAR_TYPE_NONE ? p : nullptr;
}

// Resolves a reference for a read and makes it the evaluation's designation.
VAR_DESC* DesignateReference(int64_t llRef, int64_t* pllElem)
{
    int nVar = 0;
    VAR_DESC* p = ReferencedVar(llRef, &nVar, pllElem);
    if (p) {
        g_nRefVar = nVar;
        g_nRefElem = *pllElem;
    }
    return p;
}

bool InRange(const VAR_DESC* p, int64_t llElem)
{
    return llElem >= 0 && llElem < p->llCount;
}

int64_t ReadIndirectInt(int64_t llRef)
{
    int64_t e;
    const VAR_DESC* p = DesignateReference(llRef, &e);
    if (!p || !InRange(p, e)) return 0;
    if (p->bType == KX_VAR_TYPE_INT && p->pllValues) return p->pllValues[e];
    if (p->bType == KX_VAR_TYPE_FLOAT && p->pdValues) return DoubleToInt64(p->pdValues[e]);
    return 0;
}

double ReadIndirectFloat(int64_t llRef)
{
    int64_t e;
    const VAR_DESC* p = DesignateReference(llRef, &e);
    if (!p || !InRange(p, e)) return 0.0;
    if (p->bType == KX_VAR_TYPE_INT && p->pllValues) return static_cast<double>(p->pllValues[e]);
    if (p->bType == KX_VAR_TYPE_FLOAT && p->pdValues) return p->pdValues[e];
    return 0.0;
}

const char* ReadIndirectText(int64_t llRef)
{
    int64_t e;
    const VAR_DESC* p = DesignateReference(llRef, &e);
    if (!p || !InRange(p, e) || p->bType != KX_VAR_TYPE_STRING || !p->ppszTexts) return "";
    return p->ppszTexts[e] ? p->ppszTexts[e] : "";
}

int64_t ReadReferencedType(int64_t llRef)
{
    int nVar = 0;
    int64_t e;
    const VAR_DESC* p = ReferencedVar(llRef, &nVar, &e);
    return p ? static_cast<int64_t>(p->bType) : 0;
}

// ---- Keys ----

// The key code of a joystick direction (0..3) of joystick e, or -1 for a joystick outside 0..15.
int JoyDirectionKey(int nDirection, int64_t e)
{
    if (e < 0 || e >= KX_JOYSTICKS) return -1;
    return KX_JOY_FIRST_KEY + KX_JOY_KEYS * static_cast<int>(e) + nDirection;
}

// The key code of joystick button e mod 32 of joystick e div 32, or -1 outside 16 x 32 buttons.
int JoyButtonKey(int64_t e)
{
    if (e < 0 || e >= KX_JOYSTICKS * KX_JOY_BUTTONS) return -1;
    const int n = static_cast<int>(e);
    return KX_JOY_FIRST_KEY + KX_JOY_DIRECTIONS + KX_JOY_KEYS * (n / KX_JOY_BUTTONS) + n % KX_JOY_BUTTONS;
}

int MappedKey(int nIndex)
{
    return g_abKeyMap[nIndex];
}

int64_t HoldCounter(int nKey)
{
    return nKey >= 0 && nKey < KX_KEY_CODES ? g_allKeyCounter[nKey] : 0;
}

int64_t PressCount(int nKey)
{
    return nKey >= 0 && nKey < KX_KEY_CODES ? g_allKeyPresses[nKey] : 0;
}

int64_t KeyNumber(int nKey)
{
    return nKey >= 0 ? nKey : 0;
}

// Numbers 144..547.
int64_t ReadKeyVar(int nVar, int64_t llElem)
{
    if (nVar == SV_KEY_HOLD) return llElem >= 1 && llElem < KX_KEY_CODES ? g_allKeyCounter[llElem] : 0;
    if (nVar == SV_LAST_KEY) return g_nLastKeyDown;
    if (nVar == SV_LAST_MOUSE_BUTTON) return g_nLastMouseButton;
    if (nVar >= SV_MAP_HOLD_FIRST && nVar <= SV_MAP_HOLD_LAST) return HoldCounter(MappedKey(nVar - SV_MAP_HOLD_FIRST));
    if (nVar >= SV_JOY_DIR_HOLD_FIRST && nVar <= SV_JOY_DIR_HOLD_LAST)
        return HoldCounter(JoyDirectionKey(nVar - SV_JOY_DIR_HOLD_FIRST, llElem));
    if (nVar == SV_JOY_BUTTON_HOLD) return HoldCounter(JoyButtonKey(llElem));
    if (nVar >= SV_MAP_PRESS_FIRST && nVar <= SV_MAP_PRESS_LAST) return PressCount(MappedKey(nVar - SV_MAP_PRESS_FIRST));
    if (nVar >= SV_JOY_DIR_PRESS_FIRST && nVar <= SV_JOY_DIR_PRESS_LAST)
        return PressCount(JoyDirectionKey(nVar - SV_JOY_DIR_PRESS_FIRST, llElem));
    if (nVar == SV_JOY_BUTTON_PRESS) return PressCount(JoyButtonKey(llElem));
    if (nVar >= SV_MAP_KEY_FIRST && nVar <= SV_MAP_KEY_LAST) return MappedKey(nVar - SV_MAP_KEY_FIRST);
    if (nVar >= SV_JOY_DIR_KEY_FIRST && nVar <= SV_JOY_DIR_KEY_LAST)
        return KeyNumber(JoyDirectionKey(nVar - SV_JOY_DIR_KEY_FIRST, llElem));
    if (nVar == SV_JOY_BUTTON_KEY) return KeyNumber(JoyButtonKey(llElem));
    return 0;
}

int64_t ReadMouse(int nVar)
{
    const bool bY = nVar >= SV_MOUSE_Y_FIRST;
    const int nOffset = nVar - (bY ? SV_MOUSE_Y_FIRST : SV_MOUSE_X_FIRST);
    const int nWindow = nOffset == 0 ? 0 : nOffset - 1;
    int32_t x = 0, y = 0;
    GetWindowMousePos(nWindow, &x, &y);
    return bY ? y : x;
}

// ---- Texts ----

int PutText(char* pszOut, const char* pszText)
{
    return static_cast<int>(CopyTextBounded(pszOut, KX_VAR_TEXT_BUFFER, pszText ? pszText : ""));
}

// Entry k of the file list; outside the list (its count, or the NULL that ends it): 107010.
int ReadFileEntry(char* pszOut, int64_t k)
{
    int nLen = -1;
    LockEngine();
    if (g_apszFileList && k >= 0 && k < g_nFileListCount) {
        int64_t i = 0;
        while (i < k && g_apszFileList[i]) ++i;
        if (g_apszFileList[i]) nLen = PutText(pszOut, g_apszFileList[i]);
    }
    UnlockEngine();
    if (nLen >= 0) return nLen;
    ReportScriptError(KX_ERR_SYSVAR_FILE_INDEX, 1);
    return 0;
}

// A folder (the game folder, the working folder) with one trailing backslash, so that a script
// can append a file name to it.
int ReadFolder(char* pszOut, const char* pszFolder)
{
    size_t n = CopyTextBounded(pszOut, KX_VAR_TEXT_BUFFER, pszFolder);
    const bool bEndsWithSeparator = n > 0 && pszOut[n - 1] == '\\' && FindFileNamePart(pszOut) == pszOut + n;
    if (!bEndsWithSeparator && n + 1 < KX_VAR_TEXT_BUFFER) {
        pszOut[n++] = '\\';
        pszOut[n] = '\0';
    }
    return static_cast<int>(n);
}

const char* ReadCallFrameText(int nVar, int64_t k)
{
    const CALL_FRAME* f = CurrentCallFrame();
    if (!f) return "";
    int i;
    if (nVar == SV_ARG_TEXT) {
        i = CountedItem(k, f->abArgTextGiven);
        return i >= 0 ? f->apszArgText[i] : "";
    }
    i = CallItem(k);
    return i >= 0 ? f->apszRetText[i] : "";
}

// ---- Writes ----

int RefuseWrite(void)
{
    ReportScriptError(KX_ERR_SYSVAR_READ_ONLY, 1);
    return -1;
}

int WrongReference(void)
{
    ReportScriptError(KX_ERR_SYSVAR_REF_TYPE, 1);
    return -1;
}

// v op value for the nine assignment operators; division and remainder by 0 leave v.
int64_t ApplyIntOp(int64_t v, int nOp, int64_t llValue)
{
    switch (nOp) {
    case 0: return llValue;
    case 1: return AddInt64(v, llValue);
    case 2: return SubInt64(v, llValue);
    case 3: return MulInt64(v, llValue);
    case 4: return DivInt64(v, llValue, v);
    case 5: return ModInt64(v, llValue, v);
    case 6: return v & llValue;
    case 7: return v | llValue;
    case 8: return v ^ llValue;
    default: return v;
    }
}

void WriteKeyPresses(int nKey, int64_t llValue)
{
    if (nKey >= 0 && nKey < KX_KEY_CODES) g_allKeyPresses[nKey] = llValue;
}

// Copies nLen bytes into a buffer of nCap bytes, cut at a whole character; returns the length.
int32_t StoreBounded(char* pszDst, size_t nCap, const char* pbText, size_t nLen)
{
    if (!pszDst) return 0;
    return static_cast<int32_t>(CopyTextBoundedN(pszDst, nCap, pbText ? pbText : "", pbText ? nLen : 0));
}

}  // namespace

int GetSysVarType(int nVar)
{
    switch (nVar) {
    case SV_PI: case SV_INDIRECT_FLOAT: case SV_ARG_FLOAT: case SV_RET_FLOAT: case SV_PARAM_FLOAT:
        return KX_VAR_TYPE_FLOAT;
    case SV_CMDLINE_WORD: case SV_FILE_ENTRY: case SV_INDIRECT_TEXT: case SV_ARG_TEXT: case SV_RET_TEXT:
    case SV_PARAM_TEXT: case SV_GAME_FOLDER: case SV_WORK_FOLDER: case SV_SAVE_FOLDER: case SV_APPDATA_FOLDER:
    case SV_DOCUMENTS_FOLDER: case SV_MESSAGE_TEXT: case SV_MESSAGE_CODES: case SV_THREAD_NAME: case SV_BYTE_TEXT:
    case SV_LAYER_PATH: case SV_SOUND_PATH: case SV_THREAD_PATH: case SV_MENU_PATH:
        return KX_VAR_TYPE_STRING;
    default:
        return nVar >= 0 && nVar <= KX_SYSVAR_LAST ? KX_VAR_TYPE_INT : KX_VAR_TYPE_NONE;
    }
}

int64_t GetSysVarInt(int nVar, int64_t llElem)
{
    switch (nVar) {
    case SV_LOCAL_TIME: return ReadLocalTime(llElem);
    case SV_CLOCK: return ReadClock(llElem);
    case SV_OS_CODE: return g_nOSCode;
    case SV_DIRECTX: return g_nDirectXVersion;
    case SV_SOUND_ON: return g_nSoundMode != 0 ? 1 : 0;
    case SV_MEM_TOTAL: case SV_MEM_LOAD: case SV_MEM_AVAIL: return ReadMemory(nVar);
    case SV_FOLDER_READ_ONLY: return g_bFolderReadOnly;
    case SV_DEBUG: return g_bDebug;
    case SV_CMDLINE_COUNT: return g_nCmdLineArgCount;
    case SV_FILE_COUNT: {
        LockEngine();
        const int64_t n = g_nFileListCount;
        UnlockEngine();
        return n;
    }
    case SV_LOOP_PASS: return ReadLoopPass();
    case SV_999: return 999;
    case SV_INDIRECT_INT: return ReadIndirectInt(llElem);
    case SV_ARG_INT: case SV_ARG_GIVEN: case SV_ARG_INT_GIVEN: case SV_ARG_FLOAT_GIVEN: case SV_ARG_TEXT_GIVEN:
    case SV_RET_INT: case SV_RET_GIVEN: case SV_RET_INT_GIVEN: case SV_RET_FLOAT_GIVEN: case SV_RET_TEXT_GIVEN:
        return ReadCallFrameInt(nVar, llElem);
    case SV_PARAM_INT: {
        const int i = ThreadParam(llElem);
        return i >= 0 ? g_pCurThread->allParam[i] : 0;
    }
    case SV_REF_TYPE: return ReadReferencedType(llElem);
    case SV_TABLE_VERSION: return kTableVersion;
    case SV_FRAME_COUNT: return g_llFrameCount;
    case SV_PASS_COUNT: return g_llPassCount;
    case SV_TIMER_1: return ReadScriptTimer(1);
    case SV_SAVE_MODE: return g_nSaveFolderMode;
    case SV_DIRECT3D: return g_bDirect3D;
    case SV_DESKTOP_BITS: return g_nDesktopBits;
    case SV_DESKTOP_WIDTH: return g_nDesktopWidth;
    case SV_DESKTOP_HEIGHT: return g_nDesktopHeight;
    case SV_MAXIMIZE_EVENT: return g_nMaximizeEvent;
    case SV_MINIMIZE_EVENT: return g_nMinimizeEvent;
    case SV_CLOSE_EVENT: return g_bCloseEvent;
    case SV_CAPTION_DBLCLICK: return g_nCaptionDblClick;
    case SV_USER_SWITCH: return g_nUserSwitch;
    case SV_VAR_TABLE_EXTRA: return g_nVarTableExtra;
    case SV_THREAD_COUNT: return g_pThreadRoot ? g_pThreadRoot->nChildCount : 0;
    case SV_MENU_COMMAND: return g_llMenuCommand;
    default: break;
    }
    if (nVar >= SV_MOUSE_X_FIRST && nVar < SV_ZERO_143) return ReadMouse(nVar);
    if (nVar >= SV_KEY_HOLD && nVar <= KX_SYSVAR_LAST) return ReadKeyVar(nVar, llElem);
    return 0;
}

double GetSysVarFloat(int nVar, int64_t llElem)
{
    switch (nVar) {
    case SV_PI: return kPi;
    case SV_INDIRECT_FLOAT: return ReadIndirectFloat(llElem);
    case SV_ARG_FLOAT: {
        const CALL_FRAME* f = CurrentCallFrame();
        const int i = f ? CountedItem(llElem, f->abArgFloatGiven) : -1;
        return i >= 0 ? f->adArgFloat[i] : 0.0;
    }
    case SV_RET_FLOAT: {
        const CALL_FRAME* f = CurrentCallFrame();
        const int i = CallItem(llElem);
        return f && i >= 0 ? f->adRetFloat[i] : 0.0;
    }
    case SV_PARAM_FLOAT: {
        const int i = ThreadParam(llElem);
        return i >= 0 ? g_pCurThread->adParam[i] : 0.0;
    }
    default: return 0.0;
    }
}

int GetSysVarString(int nVar, char* pszOut, int64_t llElem)
{
    if (!pszOut) return 0;
    pszOut[0] = '\0';
    switch (nVar) {
    case SV_CMDLINE_WORD:
        return llElem >= 0 && llElem < KX_CMDLINE_ARGS ? PutText(pszOut, g_apszCmdLineArgs[llElem]) : 0;
    case SV_FILE_ENTRY: return ReadFileEntry(pszOut, llElem);
    case SV_INDIRECT_TEXT: return PutText(pszOut, ReadIndirectText(llElem));
    case SV_ARG_TEXT: case SV_RET_TEXT: return PutText(pszOut, ReadCallFrameText(nVar, llElem));
    case SV_PARAM_TEXT: {
        const int i = ThreadParam(llElem);
        return i >= 0 ? PutText(pszOut, g_pCurThread->apszParam[i]) : 0;
    }
    case SV_GAME_FOLDER: return ReadFolder(pszOut, g_szExeDir);
    case SV_WORK_FOLDER: return ReadFolder(pszOut, g_szWorkDir);
    case SV_SAVE_FOLDER: return PutText(pszOut, g_szSaveFolder);
    case SV_APPDATA_FOLDER: return PutText(pszOut, g_szAppDataDir);
    case SV_DOCUMENTS_FOLDER: return PutText(pszOut, g_szDocumentsDir);
    case SV_MESSAGE_TEXT: return g_pTextBuffer ? PutText(pszOut, g_pTextBuffer->pszText) : 0;
    case SV_MESSAGE_CODES: return g_pTextBuffer ? PutText(pszOut, g_pTextBuffer->pszCodes) : 0;
    case SV_THREAD_NAME: return g_pCurThreadNode ? PutText(pszOut, g_pCurThreadNode->pszName) : 0;
    case SV_BYTE_TEXT:
        pszOut[0] = static_cast<char>(static_cast<uint8_t>(llElem));
        pszOut[1] = '\0';
        return pszOut[0] ? 1 : 0;
    case SV_LAYER_PATH: return PutText(pszOut, g_pszLayerPath);
    case SV_SOUND_PATH: return PutText(pszOut, g_pszSoundPath);
    case SV_THREAD_PATH: return PutText(pszOut, g_pszThreadPath);
    case SV_MENU_PATH: return PutText(pszOut, g_pszMenuPath);
    default: return 0;
    }
}

int AssignSysVarInt(int nVar, int64_t llElem, int nOp, int64_t llValue)
{
    switch (nVar) {
    case SV_FILE_COUNT:
        LockEngine();
        g_nFileListCount = static_cast<int32_t>(llValue);
        UnlockEngine();
        return 0;
    case SV_INDIRECT_INT: {
        int nTarget = 0;
        int64_t e;
        VAR_DESC* p = ReferencedVar(llElem, &nTarget, &e);
        if (!p || p->bType != KX_VAR_TYPE_INT) return WrongReference();
        if (nOp >= 0 && nOp < KX_ELEM_OPS && g_apfnElemOps[nOp].pfnInt && InRange(p, e))
            g_apfnElemOps[nOp].pfnInt(p, static_cast<int32_t>(e), llValue);
        return 0;
    }
    case SV_ARG_INT: {
        CALL_FRAME* f = CurrentCallFrameForWrite();
        const int i = f ? CountedItem(llElem, f->abArgIntGiven) : -1;
        if (i >= 0) f->allArgInt[i] = ApplyIntOp(f->allArgInt[i], nOp, llValue);
        return 0;
    }
    case SV_MAXIMIZE_EVENT: g_nMaximizeEvent = static_cast<uint8_t>(llValue); return 0;
    case SV_MINIMIZE_EVENT: g_nMinimizeEvent = static_cast<uint8_t>(llValue); return 0;
    case SV_CLOSE_EVENT: g_bCloseEvent = static_cast<uint8_t>(llValue); return 0;
    case SV_CAPTION_DBLCLICK: g_nCaptionDblClick = static_cast<uint8_t>(llValue); return 0;
    case SV_MENU_COMMAND: g_llMenuCommand = llValue; return 0;
    case SV_KEY_HOLD:
        if (llElem >= 1 && llElem < KX_KEY_CODES) SetKeyCounter(static_cast<int>(llElem), llValue);
        return 0;
    case SV_LAST_KEY: g_nLastKeyDown = static_cast<int32_t>(llValue); return 0;
    case SV_LAST_MOUSE_BUTTON: g_nLastMouseButton = static_cast<int32_t>(llValue); return 0;
    case SV_JOY_BUTTON_HOLD: SetKeyCounter(JoyButtonKey(llElem), llValue); return 0;
    case SV_JOY_BUTTON_PRESS: WriteKeyPresses(JoyButtonKey(llElem), llValue); return 0;
    default: break;
    }
    if (nVar >= SV_MAP_HOLD_FIRST && nVar <= SV_MAP_HOLD_LAST) {
        SetKeyCounter(MappedKey(nVar - SV_MAP_HOLD_FIRST), llValue);
        return 0;
    }
    if (nVar >= SV_JOY_DIR_HOLD_FIRST && nVar <= SV_JOY_DIR_HOLD_LAST) {
        SetKeyCounter(JoyDirectionKey(nVar - SV_JOY_DIR_HOLD_FIRST, llElem), llValue);
        return 0;
    }
    if (nVar >= SV_MAP_PRESS_FIRST && nVar <= SV_MAP_PRESS_WRITE_LAST) {
        WriteKeyPresses(MappedKey(nVar - SV_MAP_PRESS_FIRST), llValue);
        return 0;
    }
    if (nVar >= SV_JOY_DIR_PRESS_FIRST && nVar <= SV_JOY_DIR_PRESS_LAST) {
        WriteKeyPresses(JoyDirectionKey(nVar - SV_JOY_DIR_PRESS_FIRST, llElem), llValue);
        return 0;
    }
    return RefuseWrite();
}

int AssignSysVarFloat(int nVar, int64_t llElem, int nOp, double dValue)
{
    if (nVar == SV_INDIRECT_FLOAT) {
        int nTarget = 0;
        int64_t e;
        VAR_DESC* p = ReferencedVar(llElem, &nTarget, &e);
        if (!p || p->bType != KX_VAR_TYPE_FLOAT) return WrongReference();
        if (InRange(p, e) && p->pdValues) p->pdValues[e] = dValue;
        return 0;
    }
    if (nVar == SV_ARG_FLOAT) {
        CALL_FRAME* f = CurrentCallFrameForWrite();
        const int i = f ? CountedItem(llElem, f->abArgFloatGiven) : -1;
        if (i < 0) return 0;
        double& d = f->adArgFloat[i];
        switch (nOp) {
        case 0: d = dValue; break;
        case 1: d += dValue; break;
        case 2: d -= dValue; break;
        case 3: d *= dValue; break;
        case 4: d /= dValue; break;
        default: break;
        }
    }
    return 0;
}

int AssignSysVarString(int nVar, int64_t llElem, const char* pbText, size_t nLen)
{
    switch (nVar) {
    case SV_INDIRECT_TEXT: {
        int nTarget = 0;
        int64_t e;
        VAR_DESC* p = ReferencedVar(llElem, &nTarget, &e);
        if (!p || p->bType != KX_VAR_TYPE_STRING) return WrongReference();
        if (!InRange(p, e)) return 0;
        return WriteVarStringBytes(p, e, pbText, pbText ? nLen : 0);
    }
    case SV_MESSAGE_TEXT:
        if (g_pTextBuffer) g_pTextBuffer->nTextLen = StoreBounded(g_pTextBuffer->pszText, KX_TEXT_BUFFER_BYTES, pbText, nLen);
        return 0;
    case SV_MESSAGE_CODES:
        if (g_pTextBuffer) g_pTextBuffer->nCodeCount = StoreBounded(g_pTextBuffer->pszCodes, KX_TEXT_BUFFER_BYTES, pbText, nLen);
        return 0;
    case SV_LAYER_PATH: StoreBounded(g_pszLayerPath, KX_MAX_OBJECT_PATH, pbText, nLen); return 0;
    case SV_MENU_PATH: StoreBounded(g_pszMenuPath, KX_MAX_OBJECT_PATH, pbText, nLen); return 0;
    default: return RefuseWrite();
    }
}

int WriteSysVar(int nVar, int64_t llElem, int nKind, int64_t llValue, double dValue, const char* pbText, size_t nLen)
{
    const VAR_DESC* pVar = GetVarDesc(nVar);
    const int nType = pVar && pVar->bType != KX_VAR_TYPE_NONE ? pVar->bType : GetSysVarType(nVar);
    const bool bTextGiven = nKind == KX_VAR_TYPE_STRING;
    switch (nType) {
    case KX_VAR_TYPE_INT:
    case KX_VAR_TYPE_FLOAT:
        if (bTextGiven) break;
        if (nType == KX_VAR_TYPE_INT)
            return AssignSysVarInt(nVar, llElem, 0, nKind == KX_VAR_TYPE_FLOAT ? DoubleToInt64(dValue) : llValue);
        return AssignSysVarFloat(nVar, llElem, 0, nKind == KX_VAR_TYPE_FLOAT ? dValue : static_cast<double>(llValue));
    case KX_VAR_TYPE_STRING:
        if (!bTextGiven) break;
        return AssignSysVarString(nVar, llElem, pbText, nLen);
    default:
        return RefuseWrite();
    }
    ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1);
    return -1;
}

void InstallSystemVariables(void)
{
    g_SysVarHooks.pfnReadInt = GetSysVarInt;
    g_SysVarHooks.pfnReadFloat = GetSysVarFloat;
    g_SysVarHooks.pfnReadString = GetSysVarString;
    g_SysVarHooks.pfnWrite = WriteSysVar;
}
