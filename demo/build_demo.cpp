// kxdemo: writes the demo game, a short visual novel of our own, into a folder as one pack,
// "data.kpf": the compiled script, the pictures, the music and the sound effects, all made by this
// builder (pictures.cpp, sounds.cpp, script.cpp); and beside it the movie, "intro.ogv", a Theora
// movie it encodes itself (movies play from loose files only).
//
//   kxdemo [--threaded] FOLDER
//
// --threaded writes the game's configuration with the frames on a thread of their own (what
// scripts/tsan.sh plays).
//
// The story, "星降る丘で / On the Hill of Falling Stars": a title screen with a menu (new game,
// continue, quit); an opening in which pictures cross the title in several blend modes and a movie
// plays; a mosaic transition into the first scene, where a message window tells in Japanese and
// English of a star falling over a hill; the game saves its place with a thumbnail (memory slot and
// file); a choice between following the star and staying, each with its own ending; then the title
// again, from which "continue" loads the save and returns to the choice. script.cpp tells the
// script's course in full.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "demo/demo.h"
#include "tools/lib/script_builder.h"

int main(int argc, char** argv)
{
    using namespace demo;
    const bool bThreaded = argc == 3 && std::string(argv[1]) == "--threaded";
    if (argc != 2 && !bThreaded) {
        std::fprintf(stderr, "usage: kxdemo [--threaded] FOLDER   (writes FOLDER/data.kpf and FOLDER/intro.ogv, the "
                             "demo game; --threaded: its frames on a thread of their own)\n");
        return 2;
    }
    const char* pszFolder = argv[argc - 1];
    SCRIPT_BUILDER b;
    if (BuildScript(&b) != 0) return 1;
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = kScreenW;
    game.config.nHeight = kScreenH;
    game.config.strTitle = "KOLVEX demo";
    game.config.nSoundMode = 1;   // sound when a device opens, silence otherwise
    game.config.nThreaded = bThreaded ? 1 : 0;
    for (uint16_t nVar :
         {kVarTurn, kVarPick, kVarAnswer, kVarScene, kVarSaved, kVarSize, kVarStarUp, kVarFocus, kVarFullscreen})
        game.defs.push_back(MakeIntVarDef(nVar, 0));
    game.scripts.push_back(ScriptFromBuilder("demo.txt", b));
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    files.push_back({"title.bmp", DrawTitle()});
    files.push_back({"hill.bmp", DrawHill()});
    files.push_back({"sun.bmp", DrawSun(160)});
    files.push_back({"band.bmp", DrawBand(kScreenW, 120)});
    files.push_back({"ring.bmp", DrawRing(200)});
    files.push_back({"pinwheel.kfs", DrawStarSheet()});
    files.push_back({"msgbox.bmp", DrawPanel(kBoxW, kBoxH)});
    files.push_back({"button.bmp", DrawPanel(kButtonW, kButtonH)});
    files.push_back({"hilite.bmp", DrawHighlight(kButtonW, kButtonH)});
    files.push_back({"thumbframe.bmp", DrawPanel(kThumbW + 12, kThumbH + 12)});
    files.push_back({"music.ogg", MakeTune()});
    files.push_back({"chime.wav", MakeChime()});
    files.push_back({"sparkle.wav", MakeSparkle()});

    std::error_code ec;
    std::filesystem::create_directories(pszFolder, ec);
    const std::string strPack = std::string(pszFolder) + "/data.kpf";
    if (WriteGamePack(strPack, files) != 0) {
        std::fprintf(stderr, "kxdemo: cannot write %s\n", strPack.c_str());
        return 1;
    }
    const std::string strMovie = std::string(pszFolder) + "/intro.ogv";
    const std::vector<uint8_t> movie = MakeMovie();
    std::FILE* f = std::fopen(strMovie.c_str(), "wb");
    const bool bWritten = f && !movie.empty() && std::fwrite(movie.data(), 1, movie.size(), f) == movie.size();
    if ((f && std::fclose(f) != 0) || !bWritten) {
        std::fprintf(stderr, "kxdemo: cannot write %s\n", strMovie.c_str());
        return 1;
    }
    return 0;
}
