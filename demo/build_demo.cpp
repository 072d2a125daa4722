// kxdemo: writes the demo game into a folder as one pack, "data.kpf": the compiled scripts and the
// pictures, all drawn here (gradients and simple shapes), and beside it a short Theora movie,
// "intro.ogv" (movies play from loose files only).
//
//   kxdemo FOLDER
//
// The game: the title picture fades in, then three pictures cross it with different blend modes
// (a sun that adds light, a band of colour that multiplies, a ring that screens) while they move
// and fade; they fade out again. A short movie plays in a window in the middle of the picture: a
// colour that changes every frame with a white square crossing it. A spinning star (a frame-sheet animation) flies in and turns
// while a message window fades in below it: a translucent box in which the engine draws a Japanese
// and an English line with the installed fonts, and a pulsing click marker. A left click (or ten
// seconds without one) sends the star away and the window fades, the title stays a moment and the
// game quits by itself. A tune made here (an Ogg Vorbis loop) plays throughout and fades out at the
// end. While the message window waits, a right click opens a popup menu: the music can be stopped
// and started again, and "終了" ends the wait as a click does. The window's menu bar sets the
// window's size, fullscreen and back, and quits the same way.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/cmd_layer.h"
#include "image/cmd_text_style.h"
#include "imageproc/blend_modes.h"
#include "imageproc/cmd_image_effect.h"
#include "platform/plat_text.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/frame_sheet_writer.h"
#include "tools/lib/jpeg_writer.h"
#include "tools/lib/ogg_writer.h"
#include "tools/lib/ogv_writer.h"
#include "tools/lib/script_builder.h"

namespace {

constexpr int kScreenW = 640, kScreenH = 480;
// The message window near the bottom: the box and the text layer over it share this rectangle.
constexpr int kBoxX = 20, kBoxY = 352, kBoxW = 600, kBoxH = 112;
// Its two lines (UTF-8 here, cp932 in the script), drawn by the engine at kTextSize pixels: where
// each line's first cell starts inside the box.
const char* const kLineJa = "ようこそ、KOLVEXのデモへ。クリックで進みます。";
const char* const kLineEn = "Welcome to the KOLVEX demo. Click to go on.";
constexpr int kTextSize = 24, kTextX = 28, kLineJaY = 22, kLineEnY = 64;
// The click marker, a small layer of its own beside the end of the English line.
constexpr int kMarkerSize = 24, kMarkerX = 560, kMarkerY = 66;

uint32_t Rgb(int r, int g, int b)
{
    auto c = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return (c(r) << 16) | (c(g) << 8) | c(b);
}

std::vector<uint8_t> Bmp24(int w, int h, const std::vector<uint32_t>& px)
{
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 24;
    return WriteBmp(w, h, opt, px.data(), nullptr);
}

// The title: a night sky gradient over rolling hills, with a pale moon and a row of stars.
// Its top rows are the sky's top colour, RGB (24, 32, 96), from x 0 to 400 (tests look for it).
std::vector<uint8_t> DrawTitle()
{
    std::vector<uint32_t> px(size_t(kScreenW) * kScreenH);
    for (int y = 0; y < kScreenH; ++y) {
        const double t = double(y) / (kScreenH - 1);
        for (int x = 0; x < kScreenW; ++x) {
            int r = int(24 + 150 * t), g = int(32 + 60 * t), b = int(96 + 40 * t);
            const double hill = 330 + 30 * std::sin(x / 70.0) + 15 * std::sin(x / 23.0 + 1.0);
            if (y > hill) {
                const double d = (y - hill) / (kScreenH - hill + 1);
                r = int(20 + 30 * d);
                g = int(70 - 30 * d);
                b = int(40 - 10 * d);
            }
            const double mx = x - 480.0, my = y - 110.0;
            if (mx * mx + my * my < 40.0 * 40.0) {
                r = 240;
                g = 236;
                b = 200;
            }
            if (y > 20 && y < 200 && (x * 37 + y * 91) % 997 == 0) r = g = b = 255;
            px[size_t(y) * kScreenW + x] = Rgb(r, g, b);
        }
    }
    return Bmp24(kScreenW, kScreenH, px);
}

// A soft warm disc on black: black adds nothing, so only the disc shows under the add mode.
std::vector<uint8_t> DrawSun(int n)
{
    std::vector<uint32_t> px(size_t(n) * n);
    const double c = (n - 1) / 2.0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double d = std::sqrt((x - c) * (x - c) + (y - c) * (y - c)) / c;
            const double k = d >= 1 ? 0 : (1 - d) * (1 - d);
            px[size_t(y) * n + x] = Rgb(int(255 * k), int(160 * k), int(60 * k));
        }
    return Bmp24(n, n, px);
}

// A band of hues on white: white leaves the picture below alone under the multiply mode.
std::vector<uint8_t> DrawBand(int w, int h)
{
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const double e = std::sin(3.14159265 * y / (h - 1));   // 0 at the edges, 1 in the middle
        for (int x = 0; x < w; ++x) {
            const double a = 6.2831853 * x / w;
            const int r = int(255 - e * (127 - 127 * std::cos(a)));
            const int g = int(255 - e * (127 - 127 * std::cos(a + 2.094)));
            const int b = int(255 - e * (127 - 127 * std::cos(a + 4.189)));
            px[size_t(y) * w + x] = Rgb(r, g, b);
        }
    }
    return Bmp24(w, h, px);
}

// A cyan ring on black for the screen mode.
std::vector<uint8_t> DrawRing(int n)
{
    std::vector<uint32_t> px(size_t(n) * n);
    const double c = (n - 1) / 2.0;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double d = std::sqrt((x - c) * (x - c) + (y - c) * (y - c)) / c;
            const double k = std::fmax(0.0, 1 - std::fabs(d - 0.8) * 8);
            px[size_t(y) * n + x] = Rgb(int(60 * k), int(220 * k), int(255 * k));
        }
    return Bmp24(n, n, px);
}

// The spinning star: kStarFrames frames of a five-pointed star turned by 72 / kStarFrames degrees
// each, so the last frame leads back to the first. Its middle is RGB (255, 220, 60), its tips
// orange; the alpha part is the star's shape with smoothed edges.
constexpr int kStarSize = 128, kStarFrames = 12;

// Whether (x, y), relative to the middle, lies inside a five-pointed star of outer radius r turned
// by the angle a.
bool InStar(double x, double y, double r, double a)
{
    const double kPi = 3.14159265358979;
    const double d = std::sqrt(x * x + y * y);
    if (d >= r) return false;
    double t = std::atan2(y, x) - a + kPi / 2;   // a point straight up at angle 0
    const double seg = 2 * kPi / 5;
    t = std::fmod(std::fmod(t, seg) + seg, seg);   // 0..seg, a tip at 0 and at seg
    const double u = std::fabs(t - seg / 2) / (seg / 2);   // 1 at a tip, 0 between two tips
    const double rInner = r * 0.42;
    return d < rInner + (r - rInner) * u * u;
}

std::vector<uint8_t> DrawStarSheet()
{
    const double kPi = 3.14159265358979;
    const double c = (kStarSize - 1) / 2.0, r = kStarSize / 2.0 - 4;
    std::vector<SHEET_FRAME> frames;
    for (int f = 0; f < kStarFrames; ++f) {
        const double a = 2 * kPi / 5 * f / kStarFrames;
        std::vector<uint8_t> rgb(size_t(kStarSize) * kStarSize * 3), grey(size_t(kStarSize) * kStarSize);
        for (int y = 0; y < kStarSize; ++y)
            for (int x = 0; x < kStarSize; ++x) {
                const double dx = x - c, dy = y - c;
                const double k = std::fmin(1.0, std::sqrt(dx * dx + dy * dy) / r);   // 0 middle, 1 tips
                uint8_t* p = &rgb[(size_t(y) * kStarSize + x) * 3];
                p[0] = 255;
                p[1] = uint8_t(220 - 100 * k);
                p[2] = uint8_t(60 - 40 * k);
                // Four samples per pixel smooth the edge.
                int n = 0;
                for (double sy : {-0.25, 0.25})
                    for (double sx : {-0.25, 0.25}) n += InStar(dx + sx, dy + sy, r, a);
                grey[size_t(y) * kStarSize + x] = uint8_t(n * 255 / 4);
            }
        frames.push_back({EncodeJpegSamples(rgb, kStarSize, kStarSize, 3, 92),
                          EncodeJpegSamples(grey, kStarSize, kStarSize, 1, 95)});
    }
    return WriteFrameSheetBytes(frames, kStarFrames);
}

// The message window's box: a dark blue rounded rectangle, translucent so that the title shows
// through, with a pale rim; its edges are smoothed over a pixel. 32-bit with alpha.
std::vector<uint8_t> DrawMessageBox(int w, int h)
{
    const double kRadius = 14, kRim = 2;
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Signed distance of the pixel's middle from the rounded outline (negative inside).
            const double qx = std::fabs(x + 0.5 - w / 2.0) - (w / 2.0 - kRadius);
            const double qy = std::fabs(y + 0.5 - h / 2.0) - (h / 2.0 - kRadius);
            const double d = std::hypot(std::fmax(qx, 0.0), std::fmax(qy, 0.0)) + std::fmin(std::fmax(qx, qy), 0.0) - kRadius;
            const double cover = std::clamp(0.5 - d, 0.0, 1.0);
            const double inner = std::clamp(-d - kRim + 0.5, 0.0, 1.0);   // 0 on the rim, 1 inside it
            // The inside darkens a little downwards; the rim is pale blue and more opaque.
            const double t = double(y) / (h - 1);
            auto mix = [&](double rim, double fill) { return int(std::lround(rim + (fill - rim) * inner)); };
            const int a = int(std::lround(cover * mix(230, 200)));
            px[size_t(y) * w + x] = uint32_t(a) << 24 | Rgb(mix(150, 18 - 8 * t), mix(170, 22 - 10 * t), mix(230, 60 - 26 * t));
        }
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 32;
    return WriteBmp(w, h, opt, px.data(), nullptr);
}

// The tune: an eight-bar loop at 96 beats a minute, a pentatonic melody in eighths over a bass note
// per half bar, soft bell-like notes (a sine with its octave, decaying). 22050 Hz stereo, the
// melody a little to the left and the bass a little to the right.
std::vector<uint8_t> MakeTune()
{
    const int kRate = 22050;
    const double kEighth = 60.0 / 96 / 2;
    const int kMelody[] = {0, 2, 4, 7, 9, 7, 4, 2, 4, 7, 9, 12, 9, 7, 4, 7,
                           2, 4, 7, 9, 7, 4, 2, 0, -3, 0, 2, 4, 2, 0, -3, 0,
                           0, 4, 7, 12, 11, 9, 7, 4, 5, 9, 12, 14, 12, 9, 5, 4,
                           2, 7, 11, 14, 12, 11, 7, 2, 0, 4, 7, 12, 7, 4, 0, -1};
    const int kBass[] = {-12, -12, -15, -15, -20, -20, -17, -17, -12, -12, -7, -10, -17, -17, -12, -12};
    const int nSteps = int(sizeof kMelody / sizeof kMelody[0]);
    const size_t nFrames = size_t(nSteps * kEighth * kRate);
    std::vector<float> samples(nFrames * 2, 0.0f);
    auto note = [&](double dStart, double dLength, int nSemitone, double dGain, double dPan) {
        const double dHz = 523.25 * std::pow(2.0, nSemitone / 12.0);   // from C5
        const size_t n0 = size_t(dStart * kRate), n = size_t(dLength * kRate);
        for (size_t i = 0; i < n && n0 + i < nFrames; ++i) {
            const double t = double(i) / kRate;
            const double env = std::min(1.0, t * 200.0) * std::exp(-3.0 * t / dLength);
            const double v = dGain * env * (std::sin(6.2831853 * dHz * t) + 0.3 * std::sin(12.5663706 * dHz * t));
            samples[(n0 + i) * 2] += float(v * (1.0 - dPan));
            samples[(n0 + i) * 2 + 1] += float(v * (1.0 + dPan));
        }
    };
    for (int i = 0; i < nSteps; ++i) note(i * kEighth, kEighth * 1.6, kMelody[i], 0.22, -0.25);
    for (int i = 0; i < nSteps / 4; ++i) note(i * kEighth * 4, kEighth * 4, kBass[i], 0.28, 0.25);
    for (float& f : samples) f = std::max(-1.0f, std::min(1.0f, f));
    OGG_WRITER_OPTIONS opt;
    opt.nChannels = 2;
    opt.nRate = kRate;
    opt.fQuality = 0.3f;
    return WriteOggVorbisSamples(opt, samples.data(), nFrames);
}

BUILDER_ARG I(int nId, int64_t v, uint8_t bOp = ARGOP_SET)
{
    return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v), EVALTYPE_INT, bOp);
}
BUILDER_ARG T(int nId, const std::string& s)
{
    return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT);
}

struct DEMO_SCRIPT {
    SCRIPT_BUILDER b;
    bool bOk = true;   // false after the first command the builder refused
};

void EmitLayer(DEMO_SCRIPT* pS, const std::string& strName, std::vector<BUILDER_ARG> args)
{
    args.insert(args.begin(), T(LAYER_ARG_PATH, strName));
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_LAYER, args) >= 0;
}
void EmitWait(DEMO_SCRIPT* pS, int nFrames) { pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_WAIT, {I(0, nFrames)}) >= 0; }
void EmitLoop(DEMO_SCRIPT* pS, int nCount) { pS->bOk = pS->bOk && BeginLoop(&pS->b, MakeExprInt(nCount)) >= 0; }
void EmitLoopEnd(DEMO_SCRIPT* pS) { pS->bOk = pS->bOk && EndLoop(&pS->b) >= 0; }

// Sets a text slot's style (the style command; slot 0 is current again afterwards).
void EmitTextStyle(DEMO_SCRIPT* pS, int nSlot, std::vector<BUILDER_ARG> args)
{
    args.insert(args.begin(), I(TEXTSTYLE_ARG_SLOT, nSlot));
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_TEXT_STYLE, args) >= 0;
}
// Makes every pixel of a layer transparent black (the image effect's whole-pixel fill).
void EmitClearLayer(DEMO_SCRIPT* pS, const std::string& strLayer)
{
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_IMAGE_EFFECT,
                                     {T(FX_ARG_LAYER1, strLayer), I(FX_ARG_P, 0), I(FX_SEL_FILL_PIXEL, 1)}) >= 0;
}
// Draws a cp932 text into a layer with a text slot's style, its first cell's top-left corner at
// (x, y); an edge of 1 draws it five times, one pixel apart, which thickens it by a pixel all round.
void EmitDrawText(DEMO_SCRIPT* pS, const std::string& strLayer, int nSlot, const std::string& strText, int x, int y,
                  int nEdge)
{
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_IMAGE_EFFECT,
                                     {T(FX_ARG_LAYER1, strLayer), I(FX_SEL_TEXT_SLOT, nSlot), I(FX_SEL_DRAW_TEXT, 1),
                                      T(FX_ARG_TEXT, strText), I(FX_ARG_X1, x), I(FX_ARG_X1 + 1, y),
                                      I(FX_ARG_P, nEdge)}) >= 0;
}
// The text slots of the message window: a dark one for the outline, a light one for the letters
// and a warm one, smaller, for the click marker.
constexpr int kSlotOutline = 1, kSlotLetters = 2, kSlotMarker = 3;
// A line with a dark outline: the outline slot thickened, then the letters over it (both slots
// of one size and face, so the characters advance alike).
void EmitOutlinedText(DEMO_SCRIPT* pS, const std::string& strLayer, const std::string& strUtf8, int x, int y)
{
    const std::string strText = PlatUtf8ToCp932String(strUtf8.c_str());
    EmitDrawText(pS, strLayer, kSlotOutline, strText, x, y, 1);
    EmitDrawText(pS, strLayer, kSlotLetters, strText, x, y, 0);
}

// The frames the star has turned so far, a variable of the game.
constexpr uint16_t kVarTurn = 1000;
// The code of "turn % kStarFrames", the star's frame now.
std::vector<uint8_t> StarFrameNow()
{
    std::vector<uint8_t> c;
    ExprAsmVar(c, kVarTurn);
    ExprAsmInt(c, kStarFrames);
    ExprAsmOp(c, '%');
    return c;
}
// Shows the star's frame for the turn and counts the turn (the sheet file is loaded first when given).
void EmitStarTurn(DEMO_SCRIPT* pS, const std::string& strSheet = "")
{
    std::vector<BUILDER_ARG> args = {T(0, "star")};
    if (!strSheet.empty()) args.push_back(T(2, strSheet));
    args.push_back(ExprArg(3, StarFrameNow()));
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_FRAME_SHEET_LOAD, args) >= 0;
    std::vector<uint8_t> target;
    ExprAsmVar(target, kVarTurn);
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_ASSIGN, {ExprArg(0, target, EVALTYPE_INT, ARGOP_ADD), I(1, 1)}) >= 0;
}

// The menus' commands.
enum {
    kMenuMusicStop = 21, kMenuMusicPlay = 22, kMenuQuit = 14,
    kMenuSizeSmall = 31, kMenuSizeLarge = 32, kMenuFullscreen = 33, kMenuWindowed = 34,
};

// The popup menu of the message window: a "音楽" submenu with stop and play, a separator, quit.
void EmitPopupMenu(DEMO_SCRIPT* pS)
{
    const auto Item = [pS](const char* pszPath, const char* pszCaptionUtf8, int nOrder, int nCommand) {
        pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_MENU_ITEM, {T(0, pszPath), T(1, PlatUtf8ToCp932String(pszCaptionUtf8)),
                                                                   I(2, nOrder), I(6, nCommand)}) >= 0;
    };
    Item("popup/", "popup", 1, 0);
    Item("popup/music/", "音楽", 1, 0);
    Item("popup/music/stop", "止める", 1, kMenuMusicStop);
    Item("popup/music/play", "流す", 2, kMenuMusicPlay);
    Item("popup/sep", "", 2, 0);
    Item("popup/quit", "終了", 3, kMenuQuit);

    // The main window's menu bar: the window's size and fullscreen, and quit.
    Item("bar/", "bar", 2, 0);
    Item("bar/view/", "表示", 1, 0);
    Item("bar/view/small", "ウィンドウ 等倍", 1, kMenuSizeSmall);
    Item("bar/view/large", "ウィンドウ 1.5 倍", 2, kMenuSizeLarge);
    Item("bar/view/sep", "", 3, 0);
    Item("bar/view/full", "フルスクリーン", 4, kMenuFullscreen);
    Item("bar/view/windowed", "ウィンドウに戻す", 5, kMenuWindowed);
    Item("bar/game/", "ゲーム", 2, 0);
    Item("bar/game/quit", "終了", 1, kMenuQuit);
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_WINDOW, {I(0, 0), T(22, "bar/")}) >= 0;
}

// The menu command (system variable 132) is n.
std::vector<uint8_t> MenuChosen(int64_t n)
{
    std::vector<uint8_t> e;
    ExprAsmVar(e, 132);
    ExprAsmInt(e, n);
    ExprAsmOp(e, '=');
    return e;
}

// Inside the wait: a right click opens the popup at the mouse; a chosen command is carried out and
// cleared. Quit leaves the loop.
void EmitPopupHandling(DEMO_SCRIPT* pS)
{
    std::vector<uint8_t> pressed;
    ExprAsmElement(pressed, 144, {2});
    ExprAsmInt(pressed, 1);
    ExprAsmOp(pressed, '=');
    pS->bOk = pS->bOk && BeginIf(&pS->b, pressed) >= 0;
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_MENU_POPUP, {T(0, "popup/"), I(1, 1)}) >= 0;
    pS->bOk = pS->bOk && EndIf(&pS->b) >= 0;
    const auto Clear = [pS] {
        pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_ASSIGN, {ExprArg(0, MakeExprVar(132)), I(1, 0)}) >= 0;
    };
    pS->bOk = pS->bOk && BeginIf(&pS->b, MenuChosen(kMenuMusicStop)) >= 0;
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_SOUND, {T(0, "bgm"), I(5, 500), I(3, 0)}) >= 0;
    Clear();
    pS->bOk = pS->bOk && EndIf(&pS->b) >= 0;
    pS->bOk = pS->bOk && BeginIf(&pS->b, MenuChosen(kMenuMusicPlay)) >= 0;
    pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_SOUND, {T(0, "bgm"), I(10, 200), I(5, 1000), I(3, 1)}) >= 0;
    Clear();
    pS->bOk = pS->bOk && EndIf(&pS->b) >= 0;
    // The window's size, fullscreen and back: the window command carries them out.
    const auto WindowCommand = [pS, &Clear](int64_t nCommand, std::vector<BUILDER_ARG> args) {
        pS->bOk = pS->bOk && BeginIf(&pS->b, MenuChosen(nCommand)) >= 0;
        args.insert(args.begin(), I(0, 0));
        pS->bOk = pS->bOk && EmitCommand(&pS->b, KXCMD_WINDOW, args) >= 0;
        Clear();
        pS->bOk = pS->bOk && EndIf(&pS->b) >= 0;
    };
    WindowCommand(kMenuSizeSmall, {I(13, 0), I(9, kScreenW)});
    WindowCommand(kMenuSizeLarge, {I(13, 0), I(9, kScreenW * 3 / 2)});
    WindowCommand(kMenuFullscreen, {I(13, 1)});
    WindowCommand(kMenuWindowed, {I(13, 0)});
    pS->bOk = pS->bOk && BeginIf(&pS->b, MenuChosen(kMenuQuit)) >= 0;
    Clear();
    pS->bOk = pS->bOk && EmitBreak(&pS->b) >= 0;
    pS->bOk = pS->bOk && EndIf(&pS->b) >= 0;
}

// The script: one thread from "SYSTEM_START" to the quit command.
// The movie between the two scenes: kMovieFrames frames at 30 per second, kMovieW x kMovieH at
// (kMovieX, kMovieY); each frame's colour is OgvFrameColour of its number, and a white square
// crosses the lower half.
constexpr int kMovieFrames = 45, kMovieW = 320, kMovieH = 240, kMovieX = 160, kMovieY = 120;
constexpr int kMovieWaitFrames = 96;   // engine frames the script gives it (1.5 s at 60 per second)

std::vector<uint8_t> MakeMovie()
{
    OGV_WRITER_OPTIONS opt;
    opt.nWidth = kMovieW;
    opt.nHeight = kMovieH;
    opt.nFrames = kMovieFrames;
    opt.bAudio = false;
    opt.nQuality = 48;
    opt.pixel = [](int f, int x, int y, uint8_t* p) {
        const int sx = 8 + f * (kMovieW - 56) / kMovieFrames;
        if (y >= 150 && y < 190 && x >= sx && x < sx + 40) {
            p[0] = p[1] = p[2] = 235;
            return;
        }
        OgvFrameColour(f, p);
    };
    return WriteOgvMovie(opt);
}

int BuildScript(SCRIPT_BUILDER* pOut)
{
    DEMO_SCRIPT s;
    InitScriptBuilder(&s.b, 0);
    s.bOk = AddLabel(&s.b, "SYSTEM_START") >= 0;

    EmitPopupMenu(&s);

    // The tune starts, fading in over two seconds, and loops until the end.
    s.bOk = s.bOk && EmitCommand(&s.b, KXCMD_SOUND, {T(0, "bgm"), T(2, "music.ogg"), I(9, 0), I(10, 200),
                                                     I(5, 2000), I(3, 1)}) >= 0;

    // The title fades in over 32 frames.
    EmitLayer(&s, "title", {I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "title.bmp"), I(LAYER_ARG_OPACITY, 0)});
    EmitLoop(&s, 32);
    EmitLayer(&s, "title", {I(LAYER_ARG_OPACITY, 8, ARGOP_ADD)});
    EmitWait(&s, 1);
    EmitLoopEnd(&s);
    EmitWait(&s, 30);

    // Three pictures enter, each with its own blend mode, all invisible at first.
    EmitLayer(&s, "sun", {I(LAYER_ARG_ORDER, 2), T(LAYER_ARG_IMAGE, "sun.bmp"), I(LAYER_ARG_BLEND, BLEND_ADD),
                    I(LAYER_ARG_X, -200), I(LAYER_ARG_Y, 200), I(LAYER_ARG_OPACITY, 0)});
    EmitLayer(&s, "band", {I(LAYER_ARG_ORDER, 3), T(LAYER_ARG_IMAGE, "band.bmp"), I(LAYER_ARG_BLEND, BLEND_MULTIPLY),
                     I(LAYER_ARG_X, 0), I(LAYER_ARG_Y, 480), I(LAYER_ARG_OPACITY, 0)});
    EmitLayer(&s, "ring", {I(LAYER_ARG_ORDER, 4), T(LAYER_ARG_IMAGE, "ring.bmp"), I(LAYER_ARG_BLEND, BLEND_SCREEN),
                     I(LAYER_ARG_X, 400), I(LAYER_ARG_Y, 140), I(LAYER_ARG_OPACITY, 0)});

    // They move across the title and fade in (64 frames).
    EmitLoop(&s, 64);
    EmitLayer(&s, "sun", {I(LAYER_ARG_X, 10, ARGOP_ADD), I(LAYER_ARG_Y, 1, ARGOP_SUB), I(LAYER_ARG_OPACITY, 4, ARGOP_ADD)});
    EmitLayer(&s, "band", {I(LAYER_ARG_Y, 4, ARGOP_SUB), I(LAYER_ARG_OPACITY, 4, ARGOP_ADD)});
    EmitLayer(&s, "ring", {I(LAYER_ARG_X, 3, ARGOP_SUB), I(LAYER_ARG_Y, 1, ARGOP_ADD), I(LAYER_ARG_OPACITY, 3, ARGOP_ADD)});
    EmitWait(&s, 1);
    EmitLoopEnd(&s);
    EmitWait(&s, 40);

    // The ring switches to the difference mode for a moment, then all three fade out (32 frames).
    EmitLayer(&s, "ring", {I(LAYER_ARG_BLEND, BLEND_DIFFERENCE)});
    EmitWait(&s, 20);
    EmitLoop(&s, 32);
    EmitLayer(&s, "sun", {I(LAYER_ARG_OPACITY, 8, ARGOP_SUB), I(LAYER_ARG_X, 4, ARGOP_ADD)});
    EmitLayer(&s, "band", {I(LAYER_ARG_OPACITY, 8, ARGOP_SUB), I(LAYER_ARG_Y, 2, ARGOP_ADD)});
    EmitLayer(&s, "ring", {I(LAYER_ARG_OPACITY, 8, ARGOP_SUB)});
    EmitWait(&s, 1);
    EmitLoopEnd(&s);

    // The movie plays in a layer of its own between the two scenes, then the layer goes.
    EmitLayer(&s, "movie", {I(LAYER_ARG_ORDER, 5), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kMovieW),
                            I(LAYER_ARG_HEIGHT, kMovieH), I(LAYER_ARG_X, kMovieX), I(LAYER_ARG_Y, kMovieY)});
    s.bOk = s.bOk && EmitCommand(&s.b, KXCMD_OGV_PLAY, {T(0, "movie"), T(2, "intro.ogv")}) >= 0;
    EmitWait(&s, kMovieWaitFrames);
    s.bOk = s.bOk && EmitCommand(&s.b, KXCMD_OGV_STOP, {}) >= 0;
    s.bOk = s.bOk && EmitCommand(&s.b, KXCMD_LAYER_DELETE, {T(0, "movie")}) >= 0;

    // The message window, still invisible: the box, a transparent layer over it that the engine
    // writes a Japanese and an English line into, and the click marker beside the English line.
    EmitLayer(&s, "msgbox", {I(LAYER_ARG_ORDER, 6), T(LAYER_ARG_IMAGE, "msgbox.bmp"), I(LAYER_ARG_X, kBoxX),
                             I(LAYER_ARG_Y, kBoxY), I(LAYER_ARG_OPACITY, 0)});
    EmitLayer(&s, "msgtext", {I(LAYER_ARG_ORDER, 7), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kBoxW),
                              I(LAYER_ARG_HEIGHT, kBoxH), I(LAYER_ARG_X, kBoxX), I(LAYER_ARG_Y, kBoxY),
                              I(LAYER_ARG_OPACITY, 0)});
    EmitLayer(&s, "marker", {I(LAYER_ARG_ORDER, 8), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kMarkerSize),
                             I(LAYER_ARG_HEIGHT, kMarkerSize), I(LAYER_ARG_X, kBoxX + kMarkerX),
                             I(LAYER_ARG_Y, kBoxY + kMarkerY), I(LAYER_ARG_OPACITY, 0)});
    EmitClearLayer(&s, "msgtext");
    EmitClearLayer(&s, "marker");
    // The face is the system's Gothic, which the engine maps to an installed Japanese font. The
    // glyphs are anti-aliased and blended onto the layer's pixels; the letters white fading to a
    // pale blue downwards, the marker yellow to orange.
    const std::string strFace = PlatUtf8ToCp932String("ＭＳ ゴシック");
    for (int nSlot : {kSlotOutline, kSlotLetters, kSlotMarker})
        EmitTextStyle(&s, nSlot, {T(TEXTSTYLE_ARG_FACE, strFace), I(TEXTSTYLE_ARG_ANTIALIAS, 1),
                                  I(TEXTSTYLE_ARG_TRANSPARENT, 1), I(TEXTSTYLE_ARG_SIZE, kTextSize),
                                  I(TEXTSTYLE_ARG_HEIGHT, kTextSize)});
    EmitTextStyle(&s, kSlotOutline, {I(TEXTSTYLE_ARG_COLOR_A, 0x0A0C20), I(TEXTSTYLE_ARG_GRADIENT, 0)});
    EmitTextStyle(&s, kSlotLetters, {I(TEXTSTYLE_ARG_COLOR_A, 0xFFFFFF), I(TEXTSTYLE_ARG_COLOR_B, 0xC8D8FF),
                                     I(TEXTSTYLE_ARG_GRADIENT, 1)});
    EmitTextStyle(&s, kSlotMarker, {I(TEXTSTYLE_ARG_COLOR_A, 0xFFE8A0), I(TEXTSTYLE_ARG_COLOR_B, 0xFFB040),
                                    I(TEXTSTYLE_ARG_GRADIENT, 1), I(TEXTSTYLE_ARG_SIZE, kMarkerSize - 4),
                                    I(TEXTSTYLE_ARG_HEIGHT, kMarkerSize - 4)});
    EmitOutlinedText(&s, "msgtext", kLineJa, kTextX, kLineJaY);
    EmitOutlinedText(&s, "msgtext", kLineEn, kTextX, kLineEnY);
    EmitDrawText(&s, "marker", kSlotMarker, PlatUtf8ToCp932String("▼"), 2, 2, 0);

    // The star flies in from the left, turning (64 frames), while the message window fades in.
    EmitLayer(&s, "star", {I(LAYER_ARG_ORDER, 5), T(LAYER_ARG_IMAGE, ""), I(LAYER_ARG_WIDTH, kStarSize),
                     I(LAYER_ARG_HEIGHT, kStarSize), I(LAYER_ARG_X, -kStarSize), I(LAYER_ARG_Y, 160)});
    EmitStarTurn(&s, "pinwheel.kfs");
    EmitLoop(&s, 64);
    EmitStarTurn(&s);
    EmitLayer(&s, "star", {I(LAYER_ARG_X, 6, ARGOP_ADD)});
    EmitLayer(&s, "msgbox", {I(LAYER_ARG_OPACITY, 4, ARGOP_ADD)});
    EmitLayer(&s, "msgtext", {I(LAYER_ARG_OPACITY, 4, ARGOP_ADD)});
    EmitWait(&s, 1);
    EmitLoopEnd(&s);

    // The star turns and the click marker pulses until the left button is pressed (its hold counter,
    // system variable 144 element 1, is 1 in the frame of the press), ten seconds at most.
    EmitLoop(&s, 600);
    EmitStarTurn(&s);
    {
        std::vector<uint8_t> pulse = MakeExprInt(255);
        ExprAsmVar(pulse, kVarTurn);
        ExprAsmInt(pulse, 40);
        ExprAsmOp(pulse, '%');
        ExprAsmInt(pulse, 3);
        ExprAsmOp(pulse, '*');
        ExprAsmOp(pulse, '-');
        s.bOk = s.bOk && EmitCommand(&s.b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "marker"), ExprArg(LAYER_ARG_OPACITY, pulse)}) >= 0;
        std::vector<uint8_t> pressed;
        ExprAsmElement(pressed, 144, {1});
        ExprAsmInt(pressed, 1);
        ExprAsmOp(pressed, '=');
        s.bOk = s.bOk && BeginIf(&s.b, pressed) >= 0;
        s.bOk = s.bOk && EmitBreak(&s.b) >= 0;
        s.bOk = s.bOk && EndIf(&s.b) >= 0;
        EmitPopupHandling(&s);
    }
    EmitWait(&s, 1);
    EmitLoopEnd(&s);

    // The marker goes, the tune fades out over a second, the message window fades out (32 frames)
    // and the star flies off to the top right (40 frames).
    s.bOk = s.bOk && EmitCommand(&s.b, KXCMD_SOUND, {T(0, "bgm"), I(5, 1000), I(3, 0)}) >= 0;
    EmitLayer(&s, "marker", {I(LAYER_ARG_OPACITY, 0)});
    EmitLoop(&s, 40);
    EmitStarTurn(&s);
    EmitLayer(&s, "star", {I(LAYER_ARG_X, 12, ARGOP_ADD), I(LAYER_ARG_Y, 6, ARGOP_SUB)});
    EmitLayer(&s, "msgbox", {I(LAYER_ARG_OPACITY, 8, ARGOP_SUB)});
    EmitLayer(&s, "msgtext", {I(LAYER_ARG_OPACITY, 8, ARGOP_SUB)});
    EmitWait(&s, 1);
    EmitLoopEnd(&s);

    // The title alone for a moment, then the game ends.
    EmitWait(&s, 30);
    s.bOk = s.bOk && EmitCommand(&s.b, KXCMD_QUIT, {}) >= 0;
    EmitWait(&s, 1);
    if (!s.bOk || FinishScriptBody(&s.b) != 0) {
        std::fprintf(stderr, "kxdemo: script: %s\n", s.b.strError.c_str());
        return -1;
    }
    *pOut = s.b;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kxdemo FOLDER   (writes FOLDER/data.kpf, the demo game)\n");
        return 2;
    }
    SCRIPT_BUILDER b;
    if (BuildScript(&b) != 0) return 1;
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = kScreenW;
    game.config.nHeight = kScreenH;
    game.config.strTitle = "KOLVEX demo";
    game.config.nSoundMode = 1;   // sound when a device opens, silence otherwise
    game.defs.push_back(MakeIntVarDef(kVarTurn, 0));
    game.scripts.push_back(ScriptFromBuilder("demo.txt", b));
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    files.push_back({"title.bmp", DrawTitle()});
    files.push_back({"sun.bmp", DrawSun(160)});
    files.push_back({"band.bmp", DrawBand(kScreenW, 120)});
    files.push_back({"ring.bmp", DrawRing(200)});
    files.push_back({"pinwheel.kfs", DrawStarSheet()});
    files.push_back({"music.ogg", MakeTune()});
    files.push_back({"msgbox.bmp", DrawMessageBox(kBoxW, kBoxH)});

    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    const std::string strPack = std::string(argv[1]) + "/data.kpf";
    if (WriteGamePack(strPack, files) != 0) {
        std::fprintf(stderr, "kxdemo: cannot write %s\n", strPack.c_str());
        return 1;
    }
    const std::string strMovie = std::string(argv[1]) + "/intro.ogv";
    const std::vector<uint8_t> movie = MakeMovie();
    std::FILE* f = std::fopen(strMovie.c_str(), "wb");
    const bool bWritten = f && !movie.empty() && std::fwrite(movie.data(), 1, movie.size(), f) == movie.size();
    if ((f && std::fclose(f) != 0) || !bWritten) {
        std::fprintf(stderr, "kxdemo: cannot write %s\n", strMovie.c_str());
        return 1;
    }
    return 0;
}
