// The command table: every command id of the engine bound to its handler, built or standing in.
// The script runtime owns the table and dispatches through it; the composition root fills it.
#include "root/startup.h"

#include "display/cmd_mouse.h"
#include "display/cmd_window.h"
#include "display/menus.h"
#include "display/tray.h"
#include "image/cmd_layer.h"
#include "image/cmd_layer_info.h"
#include "image/cmd_text_style.h"
#include "image/frame_sheet.h"
#include "imageproc/cmd_image_effect.h"
#include "media/movies.h"
#include "media/emote.h"
#include "media/flash_host.h"
#include "save/cmd_load.h"
#include "save/cmd_save.h"
#include "script/cmd_decl.h"
#include "script/cmd_dialog.h"
#include "script/cmd_engine.h"
#include "script/cmd_file.h"
#include "script/cmd_flow.h"
#include "script/cmd_math.h"
#include "script/cmd_system.h"
#include "script/cmd_text.h"
#include "script/cmd_thread.h"
#include "script/cmd_var_util.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "sound/cmd_sound.h"

namespace {

struct CMD_BINDING {
    int nId;
    CMD_HANDLER pfn;
    uint8_t bBuilt;   // 0: a stand-in that reports the command as not part of this build
};

const CMD_BINDING kCommandBindings[] = {
    {CMDID_NOP, CmdNop, 1},
    {CMDID_LAYER, CmdLayer, 1},
    {CMDID_IMAGE_EFFECT, CmdImageEffect, 1},
    {CMDID_LAYER_DELETE, CmdLayerDelete, 1},
    {CMDID_LAYER_INFO, CmdLayerInfo, 1},
    {CMDID_CLIPBOARD_COPY, CmdClipboardCopy, 1},
    {CMDID_CLIPBOARD_PASTE, CmdClipboardPaste, 1},
    {CMDID_CSV_READ, CmdCsvRead, 1},
    {CMDID_CSV_COUNT, CmdCsvCount, 1},
    {CMDID_NOP9, CmdNop, 1},
    {CMDID_MESSAGE_BOX, CmdMessageBox, 1},
    {CMDID_ELSE, CmdElse, 1},
    {CMDID_EMOTE, CmdEmote, 1},
    {CMDID_QUIT, CmdQuit, 1},
    {CMDID_SET_SWITCHES, CmdSetSwitches, 1},
    {CMDID_ARGS_ONLY15, CmdArgsOnly15, 1},
    {CMDID_FILE, CmdFile, 1},
    {CMDID_FILE_QUERY, CmdFileQuery, 1},
    {CMDID_FLASH_OPEN, CmdFlashOpen, 1},
    {CMDID_FLASH_CLOSE, CmdFlashClose, 1},
    {CMDID_FLASH_GET, CmdFlashGet, 1},
    {CMDID_DECLARE_FLOAT, CmdDeclareFloat, 1},
    {CMDID_TEXT_STYLE, CmdTextStyle, 1},
    {CMDID_TEXT_STYLE_INFO, CmdTextStyleInfo, 1},
    {CMDID_FRAME_RATE, CmdFrameRate, 1},
    {CMDID_GOTO, CmdGoto, 1},
    {CMDID_GOSUB, CmdGosub, 1},
    {CMDID_IF, CmdIf, 1},
    {CMDID_BRANCH_END, CmdBranchEnd, 1},
    {CMDID_IF_BREAK, CmdIfBreak, 1},
    {CMDID_IF_RETRY, CmdIfRetry, 1},
    {CMDID_END_IF, CmdEndIf, 1},
    {CMDID_INPUT_SWITCHES, CmdInputSwitches, 1},
    {CMDID_DECLARE_INT, CmdDeclareInt, 1},
    {CMDID_NOP51, CmdNop51, 1},
    {CMDID_LABEL_EXISTS, CmdLabelExists, 1},
    {CMDID_ASSIGN, CmdAssign, 1},
    {CMDID_LOAD, CmdLoad, 1},
    {CMDID_LOOP, CmdLoop, 1},
    {CMDID_BREAK, CmdBreak, 1},
    {CMDID_CONTINUE, CmdContinue, 1},
    {CMDID_LOOP_END, CmdLoopEnd, 1},
    {CMDID_MATH, CmdMath, 1},
    {CMDID_MOTION_STEP, CmdMotionStep, 1},
    {CMDID_MENU_ITEM, CmdMenuItem, 1},
    {CMDID_MENU_POPUP, CmdMenuPopup, 1},
    {CMDID_MENU_DELETE, CmdMenuDelete, 1},
    {CMDID_MENU_GET, CmdMenuGet, 1},
    {CMDID_ARGS_ONLY66, CmdArgsOnly66, 1},
    {CMDID_ARGS_ONLY67, CmdArgsOnly67, 1},
    {CMDID_ARGS_ONLY68, CmdArgsOnly68, 1},
    {CMDID_MOUSE, CmdMouse, 1},
    {CMDID_MOVIE, CmdMovie, 1},
    {CMDID_MOVIE_STOP, CmdMovieStop, 1},
    {CMDID_MOVIE_GET, CmdMovieGet, 1},
    {CMDID_OGV_PLAY, CmdOgvPlay, 1},
    {CMDID_OGV_STOP, CmdOgvStop, 1},
    {CMDID_OGV_GET, CmdOgvGet, 1},
    {CMDID_MOVIE_NOP, CmdMovieNop, 1},
    {CMDID_NOP77, CmdNop, 1},
    {CMDID_REG_READ, CmdRegRead, 1},
    {CMDID_RETURN, CmdReturn, 1},
    {CMDID_NOP80, CmdNop, 1},
    {CMDID_TEXT_END, CmdTextEnd, 1},
    {CMDID_NOP82, CmdNop, 1},
    {CMDID_NOP83, CmdNop, 1},
    {CMDID_NOP84, CmdNop, 1},
    {CMDID_SAVE, CmdSave, 1},
    {CMDID_SAVE_CLEAR, CmdSaveClear, 1},
    {CMDID_ARGS_ONLY88, CmdArgsOnly88, 1},
    {CMDID_SOUND, CmdSound, 1},
    {CMDID_SOUND_DELETE, CmdSoundDelete, 1},
    {CMDID_SOUND_GET, CmdSoundGet, 1},
    {CMDID_DECLARE_STRING, CmdDeclareString, 1},
    {CMDID_ENGINE_SETTINGS, CmdEngineSettings, 1},
    {CMDID_SCRIPT_LIST, CmdScriptList, 1},
    {CMDID_THREAD, CmdThread, 1},
    {CMDID_THREAD_END, CmdThreadEnd, 1},
    {CMDID_THREAD_INFO, CmdThreadInfo, 1},
    {CMDID_READ_TEXT_LINES, CmdReadTextLines, 1},
    {CMDID_ARGS_ONLY99, CmdArgsOnly99, 1},
    {CMDID_TRAY_ICON, CmdTrayIcon, 1},
    {CMDID_ARGS_ONLY101, CmdArgsOnly101, 1},
    {CMDID_VAR_UTIL, CmdVarUtil, 1},
    {CMDID_VAR_QUERY, CmdVarQuery, 1},
    {CMDID_WAIT, CmdWait, 1},
    {CMDID_WINDOW, CmdWindow, 1},
    {CMDID_WINDOW_HIDE, CmdWindowHide, 1},
    {CMDID_WINDOW_INFO, CmdWindowInfo, 1},
    {CMDID_TEXT_APPEND, CmdTextAppend, 1},
    {CMDID_FRAME_SHEET_LOAD, CmdFrameSheetLoad, 1},
    {CMDID_FRAME_SHEET_FREE, CmdFrameSheetFree, 1},
    {CMDID_FRAME_SHEET_INFO, CmdFrameSheetInfo, 1},
    {CMDID_TEXT_APPEND_EXPR, CmdTextAppendExpr, 1},
    {CMDID_SYSTEM, CmdSystem, 1},
};

}  // namespace

void InstallCommandHandlers(void)
{
    for (int i = 0; i < KX_COMMAND_IDS; ++i) {
        g_apfnCommandTable[i] = nullptr;
        g_abCommandBuilt[i] = 0;
    }
    for (const CMD_BINDING& b : kCommandBindings) {
        g_apfnCommandTable[b.nId] = b.pfn;
        g_abCommandBuilt[b.nId] = b.bBuilt;
    }
    FillCmdHandlers(KX_COMMAND_IDS);
}
