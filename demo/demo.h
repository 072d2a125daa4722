// The demo game's builder: its pictures, sounds and the movie (drawn and composed here, nothing
// taken from outside), and its script. build_demo.cpp puts them together into one pack.
#pragma once
#include <cstdint>
#include <vector>

#include "tools/lib/script_builder.h"

namespace demo {

constexpr int kScreenW = 640, kScreenH = 480;

// The message window near the bottom: the box and the text layer over it share this rectangle.
constexpr int kBoxX = 20, kBoxY = 352, kBoxW = 600, kBoxH = 112;
// Its two lines, drawn by the engine at kTextSize pixels: where each line's first cell starts
// inside the box (a Japanese line above, its English one below).
constexpr int kTextSize = 24, kTextX = 28, kLineJaY = 22, kLineEnY = 64;
// The click marker, a small layer of its own at the box's lower right.
constexpr int kMarkerSize = 24, kMarkerX = 560, kMarkerY = 66;

// The buttons of the title menu and of the choice: kButtonW x kButtonH, left edge kButtonX; the top
// edge of each. The first title button and the first choice hold the middle of the screen.
constexpr int kButtonX = 150, kButtonW = 340, kButtonH = 44;
constexpr int kTitleButtonY[3] = {218, 278, 338};   // new game, continue, quit
constexpr int kChoiceButtonY[2] = {200, 270};       // follow the star, stay on the hill

// The thumbnail of a save: the scene scaled to kThumbW x kThumbH, shown at (kThumbX, kThumbY).
constexpr int kThumbW = 160, kThumbH = 120, kThumbX = 460, kThumbY = 16;

// The spinning star: kStarFrames frames of kStarSize pixels in a frame sheet.
constexpr int kStarSize = 128, kStarFrames = 12;

// The movie between the title and the first scene: kMovieFrames frames at 30 per second,
// kMovieW x kMovieH at (kMovieX, kMovieY): a shooting star crossing a night sky.
constexpr int kMovieFrames = 45, kMovieW = 320, kMovieH = 240, kMovieX = 160, kMovieY = 120;
constexpr int kMovieWaitFrames = 90;   // engine frames the script gives it (1.5 s at 60 per second)

// ---- pictures (pictures.cpp), each a BMP file ----
std::vector<uint8_t> DrawTitle();                    // the night sky over hills, with the moon
std::vector<uint8_t> DrawHill();                     // the first scene: a hilltop at dusk
std::vector<uint8_t> DrawSun(int n);                 // a warm disc on black (add mode)
std::vector<uint8_t> DrawBand(int w, int h);         // a band of hues on white (multiply mode)
std::vector<uint8_t> DrawRing(int n);                // a cyan ring on black (screen mode)
std::vector<uint8_t> DrawPanel(int w, int h);        // a translucent rounded box (window, buttons)
std::vector<uint8_t> DrawHighlight(int w, int h);    // the rim of the button under the mouse
std::vector<uint8_t> DrawStarSheet();                // the star's frame sheet

// ---- sounds and the movie (sounds.cpp) ----
std::vector<uint8_t> MakeTune();      // the music: an Ogg Vorbis loop
std::vector<uint8_t> MakeChime();     // the click's sound effect: a short WAV chime
std::vector<uint8_t> MakeSparkle();   // the star's sound effect: a rising run of bells, WAV
std::vector<uint8_t> MakeMovie();     // the Theora movie
// The movie's sky in row y (from 0 at its top), R, G, B: what shows where nothing passes.
void MovieSkyColour(int y, uint8_t* pRgb);

// ---- the script (script.cpp) ----
// Variables of the game.
enum : uint16_t {
    kVarTurn = 1000,     // frames the star has turned
    kVarPick = 1001,     // the button picked on the title menu or in the choice (1, 2, 3)
    kVarAnswer = 1002,   // a message box's answer
    kVarScene = 1003,    // the saved place: 1 at the choice
    kVarSaved = 1004,    // 1 once a save went into the memory slot in this run
    kVarSize = 1005,     // the size of the save file (0: none)
    kVarStarUp = 1006,   // 1 while the star is on the screen
    kVarFocus = 1007,    // the button the highlight is on, moved by the mouse and the keys (0: none)
    kVarFullscreen = 1008,   // 1 while the main window is fullscreen
};
// The script of the whole game; 0, or -1 with the builder's complaint on standard error.
int BuildScript(SCRIPT_BUILDER* pOut);

}  // namespace demo
