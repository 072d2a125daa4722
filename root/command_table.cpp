// The command table: every command id of the engine bound to its handler.
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
};

const CMD_BINDING kCommandBindings[] = {
    {CMDID_NOP, CmdNop},
    {CMDID_LAYER, CmdLayer},
    {CMDID_IMAGE_EFFECT, CmdImageEffect},
    {CMDID_LAYER_DELETE, CmdLayerDelete},
    {CMDID_LAYER_INFO, CmdLayerInfo},
    {CMDID_CLIPBOARD_COPY, CmdClipboardCopy},
    {CMDID_CLIPBOARD_PASTE, CmdClipboardPaste},
    {CMDID_CSV_READ, CmdCsvRead},
    {CMDID_CSV_COUNT, CmdCsvCount},
    {CMDID_NOP9, CmdNop},
    {CMDID_MESSAGE_BOX, CmdMessageBox},
    {CMDID_ELSE, CmdElse},
    {CMDID_EMOTE, CmdEmote},
    {CMDID_QUIT, CmdQuit},
    {CMDID_SET_SWITCHES, CmdSetSwitches},
    {CMDID_ARGS_ONLY15, CmdArgsOnly15},
    {CMDID_FILE, CmdFile},
    {CMDID_FILE_QUERY, CmdFileQuery},
    {CMDID_FLASH_OPEN, CmdFlashOpen},
    {CMDID_FLASH_CLOSE, CmdFlashClose},
    {CMDID_FLASH_GET, CmdFlashGet},
    {CMDID_DECLARE_FLOAT, CmdDeclareFloat},
    {CMDID_TEXT_STYLE, CmdTextStyle},
    {CMDID_TEXT_STYLE_INFO, CmdTextStyleInfo},
    {CMDID_FRAME_RATE, CmdFrameRate},
    {CMDID_GOTO, CmdGoto},
    {CMDID_GOSUB, CmdGosub},
    {CMDID_IF, CmdIf},
    {CMDID_BRANCH_END, CmdBranchEnd},
    {CMDID_IF_BREAK, CmdIfBreak},
    {CMDID_IF_RETRY, CmdIfRetry},
    {CMDID_END_IF, CmdEndIf},
    {CMDID_INPUT_SWITCHES, CmdInputSwitches},
    {CMDID_DECLARE_INT, CmdDeclareInt},
    {CMDID_NOP51, CmdNop51},
    {CMDID_LABEL_EXISTS, CmdLabelExists},
    {CMDID_ASSIGN, CmdAssign},
    {CMDID_LOAD, CmdLoad},
    {CMDID_LOOP, CmdLoop},
    {CMDID_BREAK, CmdBreak},
    {CMDID_CONTINUE, CmdContinue},
    {CMDID_LOOP_END, CmdLoopEnd},
    {CMDID_MATH, CmdMath},
    {CMDID_MOTION_STEP, CmdMotionStep},
    {CMDID_MENU_ITEM, CmdMenuItem},
    {CMDID_MENU_POPUP, CmdMenuPopup},
    {CMDID_MENU_DELETE, CmdMenuDelete},
    {CMDID_MENU_GET, CmdMenuGet},
    {CMDID_ARGS_ONLY66, CmdArgsOnly66},
    {CMDID_ARGS_ONLY67, CmdArgsOnly67},
    {CMDID_ARGS_ONLY68, CmdArgsOnly68},
    {CMDID_MOUSE, CmdMouse},
    {CMDID_MOVIE, CmdMovie},
    {CMDID_MOVIE_STOP, CmdMovieStop},
    {CMDID_MOVIE_GET, CmdMovieGet},
    {CMDID_OGV_PLAY, CmdOgvPlay},
    {CMDID_OGV_STOP, CmdOgvStop},
    {CMDID_OGV_GET, CmdOgvGet},
    {CMDID_MOVIE_NOP, CmdMovieNop},
    {CMDID_NOP77, CmdNop},
    {CMDID_REG_READ, CmdRegRead},
    {CMDID_RETURN, CmdReturn},
    {CMDID_NOP80, CmdNop},
    {CMDID_TEXT_END, CmdTextEnd},
    {CMDID_NOP82, CmdNop},
    {CMDID_NOP83, CmdNop},
    {CMDID_NOP84, CmdNop},
    {CMDID_SAVE, CmdSave},
    {CMDID_SAVE_CLEAR, CmdSaveClear},
    {CMDID_ARGS_ONLY88, CmdArgsOnly88},
    {CMDID_SOUND, CmdSound},
    {CMDID_SOUND_DELETE, CmdSoundDelete},
    {CMDID_SOUND_GET, CmdSoundGet},
    {CMDID_DECLARE_STRING, CmdDeclareString},
    {CMDID_ENGINE_SETTINGS, CmdEngineSettings},
    {CMDID_SCRIPT_LIST, CmdScriptList},
    {CMDID_THREAD, CmdThread},
    {CMDID_THREAD_END, CmdThreadEnd},
    {CMDID_THREAD_INFO, CmdThreadInfo},
    {CMDID_READ_TEXT_LINES, CmdReadTextLines},
    {CMDID_ARGS_ONLY99, CmdArgsOnly99},
    {CMDID_TRAY_ICON, CmdTrayIcon},
    {CMDID_ARGS_ONLY101, CmdArgsOnly101},
    {CMDID_VAR_UTIL, CmdVarUtil},
    {CMDID_VAR_QUERY, CmdVarQuery},
    {CMDID_WAIT, CmdWait},
    {CMDID_WINDOW, CmdWindow},
    {CMDID_WINDOW_HIDE, CmdWindowHide},
    {CMDID_WINDOW_INFO, CmdWindowInfo},
    {CMDID_TEXT_APPEND, CmdTextAppend},
    {CMDID_FRAME_SHEET_LOAD, CmdFrameSheetLoad},
    {CMDID_FRAME_SHEET_FREE, CmdFrameSheetFree},
    {CMDID_FRAME_SHEET_INFO, CmdFrameSheetInfo},
    {CMDID_TEXT_APPEND_EXPR, CmdTextAppendExpr},
    {CMDID_SYSTEM, CmdSystem},
};

}  // namespace

void InstallCommandHandlers(void)
{
    for (int i = 0; i < KX_COMMAND_IDS; ++i) {
        g_apfnCommandTable[i] = nullptr;
    }
    for (const CMD_BINDING& b : kCommandBindings) g_apfnCommandTable[b.nId] = b.pfn;
    FillCmdHandlers(KX_COMMAND_IDS);
}
