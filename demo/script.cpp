// The demo game's script: one thread from "SYSTEM_START", driven through the engine's own commands.
//
//   TITLE    the title picture with the game's name and a menu of three buttons: new game,
//            continue (from the save: the memory slot of this run, else the save file), quit (the
//            quit question). The tune fades in.
//   opening  pictures cross the title in add, multiply, screen and difference modes; the movie
//            plays in the middle; a mosaic (the image-effect command) dissolves the title into the
//            first scene, the hilltop at dusk.
//   scene    the message window with a Japanese and an English line per page; a click turns the
//            page (a chime). The game saves its place with a thumbnail of the scene into memory
//            slot 0 and into the file "save1.sd".
//   CHOICE   two buttons: follow the star, or stay on the hill. Each leads to its ending (the
//            star's frame-sheet animation and a sparkle; a darkened sky), the tune fades out and
//            the title comes back.
// A right click opens the popup menu while a page waits (music off and on, quit); the menu bar sets
// the window's size, fullscreen and back, and quits. Every quit asks the quit question first.
// The keyboard plays it too: Space, Return, the mouse wheel turned down (or a left click) turn a
// page; in a menu of buttons the arrow keys and the wheel move the highlight and Return or Space
// choose the highlighted button; Escape leaves fullscreen and F11 switches it on and off.
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "demo/demo.h"
#include "image/cmd_layer.h"
#include "image/cmd_text_style.h"
#include "imageproc/blend_modes.h"
#include "imageproc/cmd_image_effect.h"
#include "platform/plat_text.h"
#include "save/cmd_load.h"
#include "save/cmd_save.h"
#include "script/cmd_dialog.h"
#include "script/cmd_file.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"

namespace demo {
namespace {

// The system variables the script reads: the menu command chosen, the mouse in window 0, the hold
// counters of the mouse buttons (element 1 left, 2 right; 1 in the frame of the press).
constexpr uint16_t kSysMenuCommand = 132, kSysMouseX = 133, kSysMouseY = 138, kSysHold = 144;
// Key codes of the hold counters: the wheel turned up or down and the mouse moved (in that frame),
// then the keyboard's virtual keys.
constexpr int kKeyLeftButton = 1, kKeyWheelUp = 5, kKeyWheelDown = 6, kKeyMouseMoved = 7, kKeyReturn = 13,
              kKeyEscape = 27, kKeySpace = 32, kKeyUp = 38, kKeyDown = 40, kKeyF11 = 122;

// The text slots: a dark one for outlines, a light one for letters, a warm one for the click
// marker, and a large pair for the game's name.
constexpr int kSlotOutline = 1, kSlotLetters = 2, kSlotMarker = 3, kSlotBigOutline = 4, kSlotBigLetters = 5;
constexpr int kBigSize = 44;

// The menus' commands.
enum {
    kMenuQuit = 14, kMenuMusicStop = 21, kMenuMusicPlay = 22,
    kMenuSizeSmall = 31, kMenuSizeLarge = 32, kMenuFullscreen = 33, kMenuWindowed = 34,
};

using EXPR = std::vector<uint8_t>;

BUILDER_ARG I(int nId, int64_t v, uint8_t bOp = ARGOP_SET)
{
    return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v), EVALTYPE_INT, bOp);
}
BUILDER_ARG T(int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); }
// A UTF-8 text of this file as the cp932 text the engine works in.
BUILDER_ARG J(int nId, const char* pszUtf8) { return T(nId, PlatUtf8ToCp932String(pszUtf8)); }
// An argument that names a variable (an output, a save's source, a load's target).
BUILDER_ARG V(int nId, uint16_t nVar) { return ExprArg(static_cast<uint8_t>(nId), MakeExprVar(nVar)); }

// Expressions.
EXPR Var(uint16_t nVar) { return MakeExprVar(nVar); }
EXPR Elem(uint16_t nVar, int64_t i)
{
    EXPR e;
    ExprAsmElement(e, nVar, {i});
    return e;
}
EXPR Op(EXPR a, const EXPR& b, char c)
{
    a.insert(a.end(), b.begin(), b.end());
    ExprAsmOp(a, c);
    return a;
}
EXPR Eq(const EXPR& a, int64_t v) { return Op(a, MakeExprInt(v), '='); }
EXPR Lt(const EXPR& a, int64_t v) { return Op(a, MakeExprInt(v), '<'); }
EXPR Ge(const EXPR& a, int64_t v) { return Op(MakeExprInt(v - 1), a, '<'); }
// 1 in the frame in which one of the keys went down.
EXPR Pressed(std::initializer_list<int> keys)
{
    EXPR e;
    for (int nKey : keys) e = e.empty() ? Eq(Elem(kSysHold, nKey), 1) : Op(e, Eq(Elem(kSysHold, nKey), 1), '|');
    return e;
}

// The script being written; bOk false after the first command the builder refused.
struct DEMO_SCRIPT {
    SCRIPT_BUILDER b;
    bool bOk = true;

    void Cmd(int nOpcode, const std::vector<BUILDER_ARG>& args)
    {
        bOk = bOk && EmitCommand(&b, static_cast<uint8_t>(nOpcode), args) >= 0;
    }
    void Label(const char* psz) { bOk = bOk && AddLabel(&b, psz) >= 0; }
    void Goto(const char* psz) { bOk = bOk && EmitGoto(&b, psz) >= 0; }
    void Call(const char* psz) { bOk = bOk && EmitCall(&b, psz) >= 0; }
    void Return() { bOk = bOk && EmitReturn(&b) >= 0; }
    void If(const EXPR& cond) { bOk = bOk && BeginIf(&b, cond) >= 0; }
    void Else() { bOk = bOk && AddElse(&b) >= 0; }
    void EndIf() { bOk = bOk && ::EndIf(&b) >= 0; }
    void Loop(int64_t n) { bOk = bOk && BeginLoop(&b, MakeExprInt(n)) >= 0; }
    void EndLoop() { bOk = bOk && ::EndLoop(&b) >= 0; }
    void Break() { bOk = bOk && EmitBreak(&b) >= 0; }
    void Wait(int nFrames) { Cmd(KXCMD_WAIT, {I(0, nFrames)}); }
    void Set(uint16_t nVar, int64_t v) { Cmd(KXCMD_ASSIGN, {ExprArg(0, Var(nVar)), I(1, v)}); }
    void Add(uint16_t nVar, int64_t v) { Cmd(KXCMD_ASSIGN, {ExprArg(0, Var(nVar), EVALTYPE_INT, ARGOP_ADD), I(1, v)}); }
    void SetTo(uint16_t nVar, const EXPR& e) { Cmd(KXCMD_ASSIGN, {ExprArg(0, Var(nVar)), ExprArg(1, e)}); }
    void Layer(const std::string& strName, std::vector<BUILDER_ARG> args)
    {
        args.insert(args.begin(), T(LAYER_ARG_PATH, strName));
        Cmd(KXCMD_LAYER, args);
    }
    // A layer's opacity changed by nStep every frame for nFrames frames.
    void Fade(const std::vector<std::string>& layers, int nStep, int nFrames)
    {
        Loop(nFrames);
        for (const std::string& s : layers) Layer(s, {I(LAYER_ARG_OPACITY, nStep < 0 ? -nStep : nStep, nStep < 0 ? ARGOP_SUB : ARGOP_ADD)});
        Wait(1);
        EndLoop();
    }
    void Sound(std::vector<BUILDER_ARG> args) { Cmd(KXCMD_SOUND, args); }
};

// ---- text ----

// Makes every pixel of a layer transparent black (the image effect's whole-pixel fill).
void ClearLayer(DEMO_SCRIPT* s, const std::string& strLayer)
{
    s->Cmd(KXCMD_IMAGE_EFFECT, {T(FX_ARG_LAYER1, strLayer), I(FX_ARG_P, 0), I(FX_SEL_FILL_PIXEL, 1)});
}
// Draws a text into a layer with a text slot's style, its first cell's top-left corner at (x, y); an
// edge of 1 draws it five times, one pixel apart, which thickens it by a pixel all round.
void DrawText(DEMO_SCRIPT* s, const std::string& strLayer, int nSlot, const std::string& strCp932, int x, int y, int nEdge)
{
    s->Cmd(KXCMD_IMAGE_EFFECT, {T(FX_ARG_LAYER1, strLayer), I(FX_SEL_TEXT_SLOT, nSlot), I(FX_SEL_DRAW_TEXT, 1),
                                T(FX_ARG_TEXT, strCp932), I(FX_ARG_X1, x), I(FX_ARG_X1 + 1, y), I(FX_ARG_P, nEdge)});
}
// A line with a dark outline: the outline slot thickened, then the letters over it (both slots of
// one size and face, so the characters advance alike).
void OutlinedText(DEMO_SCRIPT* s, const std::string& strLayer, const char* pszUtf8, int x, int y, bool bBig = false)
{
    const std::string strText = PlatUtf8ToCp932String(pszUtf8);
    DrawText(s, strLayer, bBig ? kSlotBigOutline : kSlotOutline, strText, x, y, bBig ? 2 : 1);
    DrawText(s, strLayer, bBig ? kSlotBigLetters : kSlotLetters, strText, x, y, 0);
}

// The text slots' styles. The face is the system's Gothic, which the engine maps to an installed
// Japanese font; the glyphs are anti-aliased and blended onto the layer's pixels. The letters are
// white fading to a pale blue downwards, the marker yellow to orange.
void SetTextStyles(DEMO_SCRIPT* s)
{
    const auto Style = [s](int nSlot, std::vector<BUILDER_ARG> args) {
        args.insert(args.begin(), I(TEXTSTYLE_ARG_SLOT, nSlot));
        s->Cmd(KXCMD_TEXT_STYLE, args);
    };
    for (int nSlot : {kSlotOutline, kSlotLetters, kSlotMarker, kSlotBigOutline, kSlotBigLetters})
        Style(nSlot, {J(TEXTSTYLE_ARG_FACE, "ＭＳ ゴシック"), I(TEXTSTYLE_ARG_ANTIALIAS, 1), I(TEXTSTYLE_ARG_TRANSPARENT, 1),
                      I(TEXTSTYLE_ARG_SIZE, kTextSize), I(TEXTSTYLE_ARG_HEIGHT, kTextSize)});
    for (int nSlot : {kSlotBigOutline, kSlotBigLetters})
        Style(nSlot, {I(TEXTSTYLE_ARG_SIZE, kBigSize), I(TEXTSTYLE_ARG_HEIGHT, kBigSize)});
    for (int nSlot : {kSlotOutline, kSlotBigOutline}) Style(nSlot, {I(TEXTSTYLE_ARG_COLOR_A, 0x0A0C20), I(TEXTSTYLE_ARG_GRADIENT, 0)});
    Style(kSlotLetters, {I(TEXTSTYLE_ARG_COLOR_A, 0xFFFFFF), I(TEXTSTYLE_ARG_COLOR_B, 0xC8D8FF), I(TEXTSTYLE_ARG_GRADIENT, 1)});
    Style(kSlotBigLetters, {I(TEXTSTYLE_ARG_COLOR_A, 0xFFF4C0), I(TEXTSTYLE_ARG_COLOR_B, 0xFFB850), I(TEXTSTYLE_ARG_GRADIENT, 1)});
    Style(kSlotMarker, {I(TEXTSTYLE_ARG_COLOR_A, 0xFFE8A0), I(TEXTSTYLE_ARG_COLOR_B, 0xFFB040), I(TEXTSTYLE_ARG_GRADIENT, 1),
                        I(TEXTSTYLE_ARG_SIZE, kMarkerSize - 4), I(TEXTSTYLE_ARG_HEIGHT, kMarkerSize - 4)});
}

// ---- sound ----

void PlayEffect(DEMO_SCRIPT* s, const char* pszFile)
{
    s->Sound({T(0, "se"), T(2, pszFile), I(9, 1), I(10, 255), I(3, 1)});
}
// The tune from the start, fading in over nFadeMs, looping.
void StartMusic(DEMO_SCRIPT* s, int nFadeMs)
{
    s->Sound({T(0, "bgm"), T(2, "music.ogg"), I(9, 0), I(10, 200), I(5, nFadeMs), I(3, 1)});
}
void StopMusic(DEMO_SCRIPT* s, int nFadeMs) { s->Sound({T(0, "bgm"), I(5, nFadeMs), I(3, 0)}); }

// ---- menus ----

// The popup menu of a waiting page ("音楽" with stop and play, quit) and the main window's menu bar
// (the window's size, fullscreen and back; quit).
void MakeMenus(DEMO_SCRIPT* s)
{
    const auto Item = [s](const char* pszPath, const char* pszCaption, int nOrder, int nCommand) {
        s->Cmd(KXCMD_MENU_ITEM, {T(0, pszPath), J(1, pszCaption), I(2, nOrder), I(6, nCommand)});
    };
    Item("popup/", "popup", 1, 0);
    Item("popup/music/", "音楽", 1, 0);
    Item("popup/music/stop", "止める", 1, kMenuMusicStop);
    Item("popup/music/play", "流す", 2, kMenuMusicPlay);
    Item("popup/sep", "", 2, 0);
    Item("popup/quit", "終了", 3, kMenuQuit);

    Item("bar/", "bar", 2, 0);
    Item("bar/view/", "表示", 1, 0);
    Item("bar/view/small", "ウィンドウ 等倍", 1, kMenuSizeSmall);
    Item("bar/view/large", "ウィンドウ 1.5 倍", 2, kMenuSizeLarge);
    Item("bar/view/sep", "", 3, 0);
    Item("bar/view/full", "フルスクリーン", 4, kMenuFullscreen);
    Item("bar/view/windowed", "ウィンドウに戻す", 5, kMenuWindowed);
    Item("bar/game/", "ゲーム", 2, 0);
    Item("bar/game/quit", "終了", 1, kMenuQuit);
    // The bar on the main window; closing the window asks the quit question.
    s->Cmd(KXCMD_WINDOW, {I(0, 0), T(22, "bar/"), I(18, 1)});
}

// The quit question: yes ends the game, no goes on.
void AskQuit(DEMO_SCRIPT* s)
{
    s->Cmd(KXCMD_MESSAGE_BOX, {T(MSGBOX_ARG_CAPTION, "KOLVEX demo"), J(MSGBOX_ARG_TEXT, "ゲームを終了しますか？\nQuit the game?"),
                               I(MSGBOX_ARG_YESNO, 1), I(MSGBOX_ARG_ICON, 2), V(MSGBOX_ARG_ANSWER_OUT, kVarAnswer)});
    s->If(Eq(Var(kVarAnswer), 1));
    // The music fades out before the end.
    StopMusic(s, 300);
    s->Wait(24);
    s->Cmd(KXCMD_QUIT, {});
    s->Wait(1);
    s->EndIf();
}

// Inside a wait: a right click opens the popup at the mouse; a command chosen from either menu is
// carried out and cleared.
void HandleMenus(DEMO_SCRIPT* s)
{
    // Escape leaves fullscreen, F11 switches between fullscreen and the window: as the menu bar's
    // items would.
    s->If(Pressed({kKeyEscape, kKeyF11}));
    s->If(Eq(Var(kVarFullscreen), 1));
    s->Set(kSysMenuCommand, kMenuWindowed);
    s->Else();
    s->If(Pressed({kKeyF11}));
    s->Set(kSysMenuCommand, kMenuFullscreen);
    s->EndIf();
    s->EndIf();
    s->EndIf();
    s->If(Eq(Elem(kSysHold, 2), 1));
    s->Cmd(KXCMD_MENU_POPUP, {T(0, "popup/"), I(1, 1)});
    s->EndIf();
    const auto On = [s](int nCommand) {
        s->If(Eq(Var(kSysMenuCommand), nCommand));
        s->Set(kSysMenuCommand, 0);
    };
    On(kMenuMusicStop);
    StopMusic(s, 500);
    s->EndIf();
    On(kMenuMusicPlay);
    StartMusic(s, 1000);
    s->EndIf();
    const auto Window = [s, &On](int nCommand, std::vector<BUILDER_ARG> args) {
        On(nCommand);
        args.insert(args.begin(), I(0, 0));
        s->Cmd(KXCMD_WINDOW, args);
        if (nCommand == kMenuFullscreen || nCommand == kMenuWindowed) s->Set(kVarFullscreen, nCommand == kMenuFullscreen);
        s->EndIf();
    };
    Window(kMenuSizeSmall, {I(13, 0), I(9, kScreenW)});
    Window(kMenuSizeLarge, {I(13, 0), I(9, kScreenW * 3 / 2)});
    Window(kMenuFullscreen, {I(13, 1)});
    Window(kMenuWindowed, {I(13, 0)});
    On(kMenuQuit);
    AskQuit(s);
    s->EndIf();
}

// ---- buttons ----

// kVarPick becomes the number (from 1) of the button under the mouse, of nCount buttons whose top
// edges are pnTop; 0 when none.
void PickButton(DEMO_SCRIPT* s, const int* pnTop, int nCount)
{
    s->Set(kVarPick, 0);
    s->If(Ge(Var(kSysMouseX), kButtonX));
    s->If(Lt(Var(kSysMouseX), kButtonX + kButtonW));
    for (int i = 0; i < nCount; ++i) {
        s->If(Ge(Var(kSysMouseY), pnTop[i]));
        s->If(Lt(Var(kSysMouseY), pnTop[i] + kButtonH));
        s->Set(kVarPick, i + 1);
        s->EndIf();
        s->EndIf();
    }
    s->EndIf();
    s->EndIf();
}
// The buttons (panel layers "<name>1".. at order nOrder), the highlight "<name>hl" over them and a
// layer of their captions on top, all invisible; the captions' Japanese part at the left of each
// button, the English part after it.
void MakeButtons(DEMO_SCRIPT* s, const std::string& strName, const int* pnTop, const std::vector<std::pair<const char*, const char*>>& captions, int nOrder)
{
    for (size_t i = 0; i < captions.size(); ++i)
        s->Layer(strName + std::to_string(i + 1), {I(LAYER_ARG_ORDER, nOrder), T(LAYER_ARG_IMAGE, "button.bmp"),
                                                   I(LAYER_ARG_X, kButtonX), I(LAYER_ARG_Y, pnTop[i]), I(LAYER_ARG_OPACITY, 0)});
    s->Layer(strName + "hl", {I(LAYER_ARG_ORDER, nOrder + 1), T(LAYER_ARG_IMAGE, "hilite.bmp"), I(LAYER_ARG_X, kButtonX),
                              I(LAYER_ARG_Y, pnTop[0]), I(LAYER_ARG_OPACITY, 0)});
    const std::string strText = strName + "text";
    s->Layer(strText, {I(LAYER_ARG_ORDER, nOrder + 2), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kScreenW),
                       I(LAYER_ARG_HEIGHT, kScreenH), I(LAYER_ARG_X, 0), I(LAYER_ARG_Y, 0), I(LAYER_ARG_OPACITY, 0)});
    ClearLayer(s, strText);
    for (size_t i = 0; i < captions.size(); ++i) {
        OutlinedText(s, strText, captions[i].first, kButtonX + 18, pnTop[i] + 10);
        OutlinedText(s, strText, captions[i].second, kButtonX + 204, pnTop[i] + 10);
    }
}
// Waits until a button is chosen (kVarPick its number): clicked, or highlighted and chosen with
// Return or Space. The highlight follows the mouse when it moves; the arrow keys and the wheel move
// it from button to button (round), and Return or Space with nothing highlighted highlights the
// first. The menus work meanwhile.
void WaitForButton(DEMO_SCRIPT* s, const std::string& strName, const int* pnTop, int nCount)
{
    const std::string strHighlight = strName + "hl";
    s->Set(kVarFocus, 0);
    s->Loop(-1);
    PickButton(s, pnTop, nCount);
    s->If(Op(MakeExprInt(0), Elem(kSysHold, kKeyMouseMoved), '<'));
    s->SetTo(kVarFocus, Var(kVarPick));
    s->EndIf();
    s->If(Pressed({kKeyDown, kKeyWheelDown}));
    s->SetTo(kVarFocus, Op(Op(Var(kVarFocus), MakeExprInt(nCount), '%'), MakeExprInt(1), '+'));
    s->EndIf();
    s->If(Pressed({kKeyUp, kKeyWheelUp}));
    s->If(Eq(Var(kVarFocus), 0));
    s->Set(kVarFocus, 1);
    s->EndIf();
    s->SetTo(kVarFocus, Op(Op(Op(Var(kVarFocus), MakeExprInt(nCount - 2), '+'), MakeExprInt(nCount), '%'), MakeExprInt(1), '+'));
    s->EndIf();
    for (int i = 0; i < nCount; ++i) {
        s->If(Eq(Var(kVarFocus), i + 1));
        s->Layer(strHighlight, {I(LAYER_ARG_Y, pnTop[i]), I(LAYER_ARG_OPACITY, 255)});
        s->EndIf();
    }
    s->If(Eq(Var(kVarFocus), 0));
    s->Layer(strHighlight, {I(LAYER_ARG_OPACITY, 0)});
    s->EndIf();
    s->If(Pressed({kKeyLeftButton}));
    s->If(Op(MakeExprInt(0), Var(kVarPick), '<'));
    s->Break();
    s->EndIf();
    s->EndIf();
    s->If(Pressed({kKeyReturn, kKeySpace}));
    s->If(Eq(Var(kVarFocus), 0));
    s->Set(kVarFocus, 1);
    s->Layer(strHighlight, {I(LAYER_ARG_Y, pnTop[0]), I(LAYER_ARG_OPACITY, 255)});
    s->Else();
    s->SetTo(kVarPick, Var(kVarFocus));
    s->Break();
    s->EndIf();
    s->EndIf();
    HandleMenus(s);
    s->Wait(1);
    s->EndLoop();
    s->Layer(strHighlight, {I(LAYER_ARG_OPACITY, 0)});
}
std::vector<std::string> ButtonLayers(const std::string& strName, int nCount)
{
    std::vector<std::string> v;
    for (int i = 1; i <= nCount; ++i) v.push_back(strName + std::to_string(i));
    v.push_back(strName + "text");
    return v;
}

// ---- the message window ----

// A page: the two lines drawn anew, then the wait for a click ("WAIT_CLICK").
void Say(DEMO_SCRIPT* s, const char* pszJa, const char* pszEn)
{
    ClearLayer(s, "msgtext");
    OutlinedText(s, "msgtext", pszJa, kTextX, kLineJaY);
    OutlinedText(s, "msgtext", pszEn, kTextX, kLineEnY);
    s->Call("WAIT_CLICK");
}

// The star's frame for the turn (the sheet is loaded first when given); the turn is counted.
void StarTurn(DEMO_SCRIPT* s, const std::string& strSheet = "")
{
    std::vector<BUILDER_ARG> args = {T(0, "star")};
    if (!strSheet.empty()) args.push_back(T(2, strSheet));
    args.push_back(ExprArg(3, Op(Var(kVarTurn), MakeExprInt(kStarFrames), '%')));
    s->Cmd(KXCMD_FRAME_SHEET_LOAD, args);
    s->Add(kVarTurn, 1);
}

// The subroutine "WAIT_CLICK": the click marker pulses (and the star turns, when it is up) until
// the left button, Space or Return is pressed or the wheel turns down; then a chime. The menus
// work meanwhile.
void WaitClickRoutine(DEMO_SCRIPT* s)
{
    s->Label("WAIT_CLICK");
    // The press that turned the page before is still counted in its frame: not this page's.
    s->Wait(1);
    s->Loop(-1);
    // The star, while it is up, turns in place; the count of turns also paces the marker.
    s->If(Eq(Var(kVarStarUp), 1));
    StarTurn(s);
    s->Else();
    s->Add(kVarTurn, 1);
    s->EndIf();
    {
        EXPR pulse = MakeExprInt(255);
        ExprAsmVar(pulse, kVarTurn);
        ExprAsmInt(pulse, 40);
        ExprAsmOp(pulse, '%');
        ExprAsmInt(pulse, 4);
        ExprAsmOp(pulse, '*');
        ExprAsmOp(pulse, '-');
        s->Cmd(KXCMD_LAYER, {T(LAYER_ARG_PATH, "marker"), ExprArg(LAYER_ARG_OPACITY, pulse)});
    }
    s->If(Pressed({kKeyLeftButton, kKeySpace, kKeyReturn, kKeyWheelDown}));
    s->Break();
    s->EndIf();
    HandleMenus(s);
    s->Wait(1);
    s->EndLoop();
    s->Layer("marker", {I(LAYER_ARG_OPACITY, 0)});
    PlayEffect(s, "chime.wav");
    s->Return();
}

// ---- saving and loading ----

// The place (kVarScene) as record 1 and the thumbnail layer as record 2, into memory slot 0 and
// into the save file.
void SaveGame(DEMO_SCRIPT* s)
{
    // The thumbnail: the scene scaled down by the image-effect command.
    s->Cmd(KXCMD_IMAGE_EFFECT, {T(FX_ARG_LAYER1, "scene"), T(FX_ARG_LAYER2, "thumb"), I(FX_ARG_WIDTH, kThumbW),
                                I(FX_ARG_WIDTH + 1, kThumbH), I(FX_SEL_SCALE_BILINEAR, 1)});
    s->Set(kVarScene, 1);
    s->Cmd(KXCMD_SAVE, {I(SAVE_ARG_DNO, 1), V(SAVE_ARG_VAR, kVarScene)});
    s->Cmd(KXCMD_SAVE, {I(SAVE_ARG_DNO, 2), T(SAVE_ARG_LAYER, "thumb"), I(SAVE_ARG_SLOT, 0)});
    s->Set(kVarSaved, 1);
    s->Cmd(KXCMD_SAVE, {I(SAVE_ARG_DNO, 1), V(SAVE_ARG_VAR, kVarScene)});
    s->Cmd(KXCMD_SAVE, {I(SAVE_ARG_DNO, 2), T(SAVE_ARG_LAYER, "thumb"), T(SAVE_ARG_FILE, "save1")});
}
// The load: from memory slot 0 when this run saved, else from the save file; kVarScene stays 0
// when there is neither.
void LoadGame(DEMO_SCRIPT* s)
{
    s->Set(kVarScene, 0);
    s->If(Eq(Var(kVarSaved), 1));
    s->Cmd(KXCMD_LOAD, {I(LOAD_ARG_SLOT, 0), I(LOAD_ARG_DNO, 1), V(LOAD_ARG_VAR, kVarScene)});
    s->Cmd(KXCMD_LOAD, {I(LOAD_ARG_SLOT, 0), I(LOAD_ARG_DNO, 2), T(LOAD_ARG_LAYER, "thumb")});
    s->Else();
    s->Set(kVarSize, 0);
    s->Cmd(KXCMD_FILE_QUERY, {T(FILEQ_ARG_FILE, "save/save1.sd"), I(FILEQ_ARG_SIZE, 1), V(FILEQ_ARG_OUT, kVarSize)});
    s->If(Op(MakeExprInt(0), Var(kVarSize), '<'));
    s->Cmd(KXCMD_LOAD, {T(LOAD_ARG_FILE, "save1"), I(LOAD_ARG_DNO, 1), V(LOAD_ARG_VAR, kVarScene)});
    s->Cmd(KXCMD_LOAD, {T(LOAD_ARG_FILE, "save1"), I(LOAD_ARG_DNO, 2), T(LOAD_ARG_LAYER, "thumb")});
    s->EndIf();
    s->EndIf();
}

// ---- the game ----

void Title(DEMO_SCRIPT* s)
{
    s->Label("TITLE");
    s->Layer("title", {I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "title.bmp"), I(LAYER_ARG_OPACITY, 0)});
    s->Layer("logo", {I(LAYER_ARG_ORDER, 2), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kScreenW), I(LAYER_ARG_HEIGHT, 160),
                      I(LAYER_ARG_X, 0), I(LAYER_ARG_Y, 30), I(LAYER_ARG_OPACITY, 0)});
    ClearLayer(s, "logo");
    OutlinedText(s, "logo", "星降る丘で", 40, 20, true);
    OutlinedText(s, "logo", "On the Hill of Falling Stars", 44, 80);
    MakeButtons(s, "tb", kTitleButtonY, {{"はじめから", "New game"}, {"つづきから", "Continue"}, {"おわる", "Quit"}}, 3);
    StartMusic(s, 2000);
    std::vector<std::string> all = ButtonLayers("tb", 3);
    all.insert(all.begin(), {"title", "logo"});
    s->Fade(all, 16, 16);

    // The menu waits for a click on a button.
    s->Label("TITLE_WAIT");
    WaitForButton(s, "tb", kTitleButtonY, 3);
    PlayEffect(s, "chime.wav");
    s->If(Eq(Var(kVarPick), 3));
    AskQuit(s);
    s->Wait(1);
    s->Goto("TITLE_WAIT");
    s->EndIf();
    s->If(Eq(Var(kVarPick), 2));
    s->Goto("CONTINUE");
    s->EndIf();

    // New game: the menu and the name fade out.
    all.erase(all.begin());
    s->Fade(all, -16, 16);
}

void Opening(DEMO_SCRIPT* s)
{
    // Three pictures cross the title, each with its own blend mode, fading in as they move.
    s->Layer("sun", {I(LAYER_ARG_ORDER, 2), T(LAYER_ARG_IMAGE, "sun.bmp"), I(LAYER_ARG_BLEND, BLEND_ADD), I(LAYER_ARG_X, -200),
                     I(LAYER_ARG_Y, 200), I(LAYER_ARG_OPACITY, 0)});
    s->Layer("band", {I(LAYER_ARG_ORDER, 3), T(LAYER_ARG_IMAGE, "band.bmp"), I(LAYER_ARG_BLEND, BLEND_MULTIPLY),
                      I(LAYER_ARG_X, 0), I(LAYER_ARG_Y, 480), I(LAYER_ARG_OPACITY, 0)});
    s->Layer("ring", {I(LAYER_ARG_ORDER, 4), T(LAYER_ARG_IMAGE, "ring.bmp"), I(LAYER_ARG_BLEND, BLEND_SCREEN), I(LAYER_ARG_X, 400),
                      I(LAYER_ARG_Y, 140), I(LAYER_ARG_OPACITY, 0)});
    s->Loop(48);
    s->Layer("sun", {I(LAYER_ARG_X, 12, ARGOP_ADD), I(LAYER_ARG_Y, 1, ARGOP_SUB), I(LAYER_ARG_OPACITY, 5, ARGOP_ADD)});
    s->Layer("band", {I(LAYER_ARG_Y, 5, ARGOP_SUB), I(LAYER_ARG_OPACITY, 5, ARGOP_ADD)});
    s->Layer("ring", {I(LAYER_ARG_X, 4, ARGOP_SUB), I(LAYER_ARG_Y, 1, ARGOP_ADD), I(LAYER_ARG_OPACITY, 4, ARGOP_ADD)});
    s->Wait(1);
    s->EndLoop();
    s->Wait(20);
    // The ring turns to the difference mode for a moment; then all three fade out.
    s->Layer("ring", {I(LAYER_ARG_BLEND, BLEND_DIFFERENCE)});
    s->Wait(16);
    s->Fade({"sun", "band", "ring"}, -12, 24);
    for (const char* p : {"sun", "band", "ring"}) s->Cmd(KXCMD_LAYER_DELETE, {T(0, p)});

    // The movie plays in a layer of its own, then the layer goes.
    s->Layer("movie", {I(LAYER_ARG_ORDER, 5), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kMovieW), I(LAYER_ARG_HEIGHT, kMovieH),
                       I(LAYER_ARG_X, kMovieX), I(LAYER_ARG_Y, kMovieY)});
    s->Cmd(KXCMD_OGV_PLAY, {T(0, "movie"), T(2, "intro.ogv")});
    s->Wait(kMovieWaitFrames);
    s->Cmd(KXCMD_OGV_STOP, {});
    s->Cmd(KXCMD_LAYER_DELETE, {T(0, "movie")});

    // The transition: the title breaks into ever larger blocks, which turn into the scene's and
    // grow small again (the image effect's mosaic into a layer over both).
    s->Layer("scene", {I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "hill.bmp"), I(LAYER_ARG_OPACITY, 0)});
    s->Layer("fx", {I(LAYER_ARG_ORDER, 5), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kScreenW), I(LAYER_ARG_HEIGHT, kScreenH),
                    I(LAYER_ARG_X, 0), I(LAYER_ARG_Y, 0)});
    for (const char* pszFrom : {"title", "scene"}) {
        const bool bOut = pszFrom[0] == 't';
        for (int k = 1; k <= 16; ++k) {
            const int nBlock = 2 * (bOut ? k : 17 - k);
            s->Cmd(KXCMD_IMAGE_EFFECT, {T(FX_ARG_LAYER1, pszFrom), T(FX_ARG_LAYER2, "fx"), I(FX_ARG_P, nBlock), I(FX_SEL_MOSAIC, 1)});
            s->Wait(1);
        }
    }
    s->Layer("scene", {I(LAYER_ARG_OPACITY, 255)});
    s->Cmd(KXCMD_LAYER_DELETE, {T(0, "fx")});
    s->Layer("title", {I(LAYER_ARG_OPACITY, 0)});
}

// The message window, invisible: the box, a transparent layer over it for the lines, the marker.
void MakeMessageWindow(DEMO_SCRIPT* s)
{
    s->Layer("msgbox", {I(LAYER_ARG_ORDER, 10), T(LAYER_ARG_IMAGE, "msgbox.bmp"), I(LAYER_ARG_X, kBoxX), I(LAYER_ARG_Y, kBoxY),
                        I(LAYER_ARG_OPACITY, 0)});
    s->Layer("msgtext", {I(LAYER_ARG_ORDER, 11), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kBoxW), I(LAYER_ARG_HEIGHT, kBoxH),
                         I(LAYER_ARG_X, kBoxX), I(LAYER_ARG_Y, kBoxY), I(LAYER_ARG_OPACITY, 0)});
    s->Layer("marker", {I(LAYER_ARG_ORDER, 12), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kMarkerSize),
                        I(LAYER_ARG_HEIGHT, kMarkerSize), I(LAYER_ARG_X, kBoxX + kMarkerX), I(LAYER_ARG_Y, kBoxY + kMarkerY),
                        I(LAYER_ARG_OPACITY, 0)});
    ClearLayer(s, "msgtext");
    ClearLayer(s, "marker");
    DrawText(s, "marker", kSlotMarker, PlatUtf8ToCp932String("▼"), 2, 2, 0);
}

void Scene(DEMO_SCRIPT* s)
{
    MakeMessageWindow(s);
    s->Fade({"msgbox", "msgtext"}, 16, 16);
    Say(s, "夏の終わりの夜、ひとりで丘に登った。", "On summer's last night, I climbed the hill.");
    Say(s, "空から、星がひとつ、ゆっくり降りてくる。", "A single star was drifting slowly down.");
    // The save, and its thumbnail beside the message.
    s->Layer("thumbframe", {I(LAYER_ARG_ORDER, 13), T(LAYER_ARG_IMAGE, "thumbframe.bmp"), I(LAYER_ARG_X, kThumbX - 6),
                            I(LAYER_ARG_Y, kThumbY - 6), I(LAYER_ARG_OPACITY, 255)});
    s->Layer("thumb", {I(LAYER_ARG_ORDER, 14), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kThumbW), I(LAYER_ARG_HEIGHT, kThumbH),
                       I(LAYER_ARG_X, kThumbX), I(LAYER_ARG_Y, kThumbY)});
    SaveGame(s);
    Say(s, "ここまでを記録しました。", "Your place has been saved (slot and file).");
    for (const char* p : {"thumb", "thumbframe"}) s->Layer(p, {I(LAYER_ARG_OPACITY, 0)});
}

// The choice and its endings.
void Choice(DEMO_SCRIPT* s)
{
    s->Label("CHOICE");
    ClearLayer(s, "msgtext");
    OutlinedText(s, "msgtext", "どうしよう？", kTextX, kLineJaY);
    OutlinedText(s, "msgtext", "What shall I do?", kTextX, kLineEnY);
    MakeButtons(s, "cb", kChoiceButtonY, {{"星を追いかける", "Follow it"}, {"丘に残る", "Stay here"}}, 16);
    s->Fade(ButtonLayers("cb", 2), 32, 8);
    WaitForButton(s, "cb", kChoiceButtonY, 2);
    PlayEffect(s, "chime.wav");
    s->Fade(ButtonLayers("cb", 2), -32, 8);

    s->If(Eq(Var(kVarPick), 1));
    // Following the star: it flies in turning, with a sparkle, and away to the top right.
    s->Layer("star", {I(LAYER_ARG_ORDER, 9), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kStarSize), I(LAYER_ARG_HEIGHT, kStarSize),
                      I(LAYER_ARG_X, -kStarSize), I(LAYER_ARG_Y, 120), I(LAYER_ARG_OPACITY, 255)});
    StarTurn(s, "pinwheel.kfs");
    s->Set(kVarStarUp, 1);
    PlayEffect(s, "sparkle.wav");
    s->Loop(48);
    StarTurn(s);
    s->Layer("star", {I(LAYER_ARG_X, 8, ARGOP_ADD)});
    s->Wait(1);
    s->EndLoop();
    Say(s, "星は光の尾を引いて、夜空へ消えていった。", "The star left a trail of light and was gone.");
    StopMusic(s, 1500);
    s->Loop(40);
    StarTurn(s);
    s->Layer("star", {I(LAYER_ARG_X, 12, ARGOP_ADD), I(LAYER_ARG_Y, 6, ARGOP_SUB)});
    s->Wait(1);
    s->EndLoop();
    s->Cmd(KXCMD_LAYER_DELETE, {T(0, "star")});
    s->Set(kVarStarUp, 0);
    Say(s, "おわり　～星を追って～", "The End: After the Star");
    s->Else();
    // Staying: the sky darkens (a multiplied band of night) and the music fades.
    s->Layer("night", {I(LAYER_ARG_ORDER, 2), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kScreenW), I(LAYER_ARG_HEIGHT, kScreenH),
                       I(LAYER_ARG_BLEND, BLEND_MULTIPLY), I(LAYER_ARG_X, 0), I(LAYER_ARG_Y, 0), I(LAYER_ARG_OPACITY, 0)});
    s->Cmd(KXCMD_IMAGE_EFFECT, {T(FX_ARG_LAYER1, "night"), I(FX_ARG_P, 0x304070), I(FX_SEL_FILL_COLOR, 1)});
    s->Fade({"night"}, 8, 24);
    Say(s, "丘に座って、朝が来るまで星を数えた。", "I sat and counted the stars until dawn.");
    StopMusic(s, 1500);
    Say(s, "おわり　～丘の上で～", "The End: On the Hill");
    s->Cmd(KXCMD_LAYER_DELETE, {T(0, "night")});
    s->EndIf();

    // Back to the title.
    s->Fade({"msgbox", "msgtext", "scene"}, -16, 16);
    for (const char* p : {"msgbox", "msgtext", "marker", "scene", "thumb", "thumbframe"}) s->Cmd(KXCMD_LAYER_DELETE, {T(0, p)});
    s->Goto("TITLE");
}

// Continue: the save is loaded (from the slot or the file); its thumbnail shows under the title
// while the scene comes back, then the game goes on at the choice. Without a save, back to the menu.
void Continue(DEMO_SCRIPT* s)
{
    s->Label("CONTINUE");
    s->Layer("thumbframe", {I(LAYER_ARG_ORDER, 13), T(LAYER_ARG_IMAGE, "thumbframe.bmp"), I(LAYER_ARG_X, kThumbX - 6),
                            I(LAYER_ARG_Y, kThumbY - 6), I(LAYER_ARG_OPACITY, 255)});
    s->Layer("thumb", {I(LAYER_ARG_ORDER, 14), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kThumbW), I(LAYER_ARG_HEIGHT, kThumbH),
                       I(LAYER_ARG_X, kThumbX), I(LAYER_ARG_Y, kThumbY)});
    LoadGame(s);
    s->If(Eq(Var(kVarScene), 0));
    for (const char* p : {"thumb", "thumbframe"}) s->Cmd(KXCMD_LAYER_DELETE, {T(0, p)});
    s->Cmd(KXCMD_MESSAGE_BOX, {T(MSGBOX_ARG_CAPTION, "KOLVEX demo"), J(MSGBOX_ARG_TEXT, "記録がありません。\nThere is no saved game.")});
    s->Wait(1);   // the click that chose "continue" is not counted again
    s->Goto("TITLE_WAIT");
    s->EndIf();
    // The loaded layer keeps only its picture: its place again.
    s->Layer("thumb", {I(LAYER_ARG_ORDER, 14), I(LAYER_ARG_X, kThumbX), I(LAYER_ARG_Y, kThumbY), I(LAYER_ARG_OPACITY, 255)});
    std::vector<std::string> menu = ButtonLayers("tb", 3);
    menu.push_back("logo");
    s->Fade(menu, -16, 16);
    s->Layer("scene", {I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "hill.bmp"), I(LAYER_ARG_OPACITY, 0)});
    s->Fade({"scene"}, 16, 16);
    s->Layer("title", {I(LAYER_ARG_OPACITY, 0)});
    MakeMessageWindow(s);
    s->Fade({"msgbox", "msgtext"}, 16, 16);
    Say(s, "記録から再開します。", "Resuming from your saved place.");
    for (const char* p : {"thumb", "thumbframe"}) s->Layer(p, {I(LAYER_ARG_OPACITY, 0)});
    s->Goto("CHOICE");
}

}  // namespace

int BuildScript(SCRIPT_BUILDER* pOut)
{
    DEMO_SCRIPT s;
    InitScriptBuilder(&s.b, 0);
    s.Label("SYSTEM_START");
    MakeMenus(&s);
    SetTextStyles(&s);
    Title(&s);
    Opening(&s);
    Scene(&s);
    Choice(&s);
    Continue(&s);
    WaitClickRoutine(&s);
    if (!s.bOk || FinishScriptBody(&s.b) != 0) {
        std::fprintf(stderr, "kxdemo: script: %s\n", s.b.strError.c_str());
        return -1;
    }
    *pOut = s.b;
    return 0;
}

}  // namespace demo
