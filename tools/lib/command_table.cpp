// The fixtures' command table.
#include "tools/lib/command_table.h"

#include <string>

#include "script/dispatch.h"

namespace {

KXC_ARG Arg(const std::string& strName, uint8_t bValueKind, uint8_t bCheckKind = 0)
{
    return KXC_ARG{strName, bValueKind, bCheckKind};
}

// Items 1..16 of one value group of the call and return commands.
void AddItems(std::vector<KXC_ARG>& args, const char* pszPrefix, uint8_t bValueKind)
{
    for (int i = 1; i <= 16; i++) args.push_back(Arg(pszPrefix + std::to_string(i), bValueKind));
}

}  // namespace

std::vector<KXC_COMMAND> CanonicalCommands()
{
    std::vector<KXC_COMMAND> cmds(KX_COMMAND_COUNT);
    // The names are the engine's own, so messages in tests read as they do in a game.
    for (int i = 0; i < KX_COMMAND_COUNT; i++) cmds[i].strName = GetCommandName(i);

    // Flow control. The handlers read the records of these commands themselves, and the records
    // that hold command indices in their length fields must never be evaluated: they are kept raw.
    cmds[KXCMD_GOTO].args = {Arg("label", ARGKIND_RAW)};
    cmds[KXCMD_IF].args = {Arg("cond", ARGKIND_RAW), Arg("next", ARGKIND_RAW), Arg("end", ARGKIND_RAW)};
    cmds[KXCMD_ELSE].args = {Arg("cond", ARGKIND_RAW), Arg("next", ARGKIND_RAW)};
    cmds[KXCMD_LOOP].args = {Arg("count", ARGKIND_RAW), Arg("end", ARGKIND_RAW)};
    for (int id : {KXCMD_IF_BREAK, KXCMD_IF_RETRY, KXCMD_BREAK, KXCMD_CONTINUE})
        cmds[id].args = {Arg("n", ARGKIND_INT)};
    cmds[KXCMD_LABEL_EXISTS].args = {Arg("label", ARGKIND_TEXT), Arg("out", ARGKIND_INT), Arg("store", ARGKIND_INT)};

    // Call: the label, then integer, double (kept raw, evaluated as doubles by the handler) and text items.
    std::vector<KXC_ARG>& call = cmds[KXCMD_GOSUB].args;
    call.push_back(Arg("label", ARGKIND_TEXT));
    AddItems(call, "i", ARGKIND_INT);
    AddItems(call, "f", ARGKIND_RAW);
    AddItems(call, "s", ARGKIND_TEXT);
    std::vector<KXC_ARG>& ret = cmds[KXCMD_RETURN].args;
    AddItems(ret, "i", ARGKIND_INT);
    AddItems(ret, "f", ARGKIND_RAW);
    AddItems(ret, "s", ARGKIND_TEXT);

    // Declarations and assignment: the target is read in declaration mode (or for its
    // designation) by the handler, the value by the handler with the evaluator of its type.
    for (int id : {KXCMD_DECLARE_INT, KXCMD_DECLARE_FLOAT, KXCMD_DECLARE_STRING, KXCMD_ASSIGN})
        cmds[id].args = {Arg("target", ARGKIND_RAW), Arg("value", ARGKIND_RAW)};

    // Variable utilities and queries: the source and the target are designated by integer
    // arguments (a text variable evaluates to 0 there but still designates); the selectors' presence
    // chooses the operation; the query's search text is a text.
    std::vector<KXC_ARG>& vu = cmds[KXCMD_VAR_UTIL].args;
    vu = {Arg("source", ARGKIND_INT), Arg("target", ARGKIND_INT)};
    for (const char* psz : {"remove", "extract", "first", "count", "convert", "upper", "upperwide", "lower",
                            "lowerwide", "fullwidth", "halfwidth", "resize", "insert", "delete", "reset"})
        vu.push_back(Arg(psz, ARGKIND_INT));
    for (const char* pszGroup : {"int", "float", "text"})
        for (int c = 1; c <= 4; c++) vu.push_back(Arg(std::string("reset") + pszGroup + std::to_string(c), ARGKIND_INT));
    std::vector<KXC_ARG>& vq = cmds[KXCMD_VAR_QUERY].args;
    vq = {Arg("source", ARGKIND_INT), Arg("target", ARGKIND_INT), Arg("type", ARGKIND_INT), Arg("width", ARGKIND_INT),
          Arg("dims", ARGKIND_INT)};
    for (int d = 0; d < 8; d++) vq.push_back(Arg("dim" + std::to_string(d), ARGKIND_INT));
    for (const char* psz : {"chars", "search", "smallest", "code", "findint", "findfloat"}) vq.push_back(Arg(psz, ARGKIND_INT));
    vq.push_back(Arg("findtext", ARGKIND_TEXT));
    vq.push_back(Arg("from", ARGKIND_INT));
    vq.push_back(Arg("to", ARGKIND_INT));

    // Engine control. The switch of command k is argument k + 2 of setswitches.
    cmds[KXCMD_QUIT].args = {Arg("restart", ARGKIND_INT)};
    std::vector<KXC_ARG>& sw = cmds[KXCMD_SET_SWITCHES].args;
    for (int i = 0; i <= KX_SWITCHES_LAST_ARG; i++) sw.push_back(Arg("sw" + std::to_string(i), ARGKIND_INT));
    cmds[KXCMD_FRAME_RATE].args = {Arg("fps", ARGKIND_INT), Arg("skip", ARGKIND_INT)};
    cmds[KXCMD_INPUT_SWITCHES].args = {Arg("keyboard", ARGKIND_INT), Arg("joystick", ARGKIND_INT), Arg("mouse", ARGKIND_INT)};
    cmds[KXCMD_ENGINE_SETTINGS].args = {Arg("screensaver", ARGKIND_INT), Arg("background", ARGKIND_INT),
                                        Arg("width", ARGKIND_INT),       Arg("height", ARGKIND_INT),
                                        Arg("timer1", ARGKIND_INT),      Arg("timer2", ARGKIND_INT),
                                        Arg("timer3", ARGKIND_INT),      Arg("timer4", ARGKIND_INT)};
    cmds[KXCMD_WAIT].args = {Arg("frames", ARGKIND_INT), Arg("time", ARGKIND_INT)};

    // Math: the output designated by an integer argument, the operands kept for the handler to
    // evaluate, the text, then the selectors whose presence chooses the function. Motion: the
    // parameter and state arrays, designated by integer arguments.
    std::vector<KXC_ARG>& math = cmds[KXCMD_MATH].args;
    math = {Arg("out", ARGKIND_INT), Arg("x", ARGKIND_RAW), Arg("y", ARGKIND_RAW), Arg("text", ARGKIND_TEXT)};
    for (const char* psz : {"sin", "asin", "sinh", "cos", "acos", "cosh", "tan", "atan", "atan2", "tanh", "sqrt",
                            "abs", "exp", "log", "log10", "pow", "rand", "crc32", "calc"})
        math.push_back(Arg(psz, ARGKIND_INT));
    cmds[KXCMD_MOTION_STEP].args = {Arg("params", ARGKIND_INT), Arg("state", ARGKIND_INT)};

    // Message texts: the literal's bytes and the expression are read by the handlers themselves;
    // the text end's record carries two numbers and is never decoded.
    cmds[KXCMD_TEXT_APPEND].args = {Arg("text", ARGKIND_RAW)};
    cmds[KXCMD_TEXT_APPEND_EXPR].args = {Arg("expr", ARGKIND_RAW)};
    cmds[KXCMD_TEXT_END].args = {Arg("marks", ARGKIND_RAW)};
    // Script threads: the thread named by a text (empty: the running one), then selectors whose
    // presence chooses what the command does, and the output designated by an integer argument.
    cmds[KXCMD_SCRIPT_LIST].args = {Arg("name", ARGKIND_INT),  Arg("count", ARGKIND_INT), Arg("value", ARGKIND_INT),
                                    Arg("emote", ARGKIND_INT), Arg("index", ARGKIND_INT), Arg("out", ARGKIND_INT)};
    std::vector<KXC_ARG>& thread = cmds[KXCMD_THREAD].args;
    thread = {Arg("name", ARGKIND_TEXT), Arg("runa", ARGKIND_INT), Arg("runb", ARGKIND_INT), Arg("key", ARGKIND_INT)};
    for (int i = 1; i <= 10; i++) thread.push_back(Arg("i" + std::to_string(i), ARGKIND_INT));
    for (int i = 1; i <= 10; i++) thread.push_back(Arg("f" + std::to_string(i), ARGKIND_INT));
    for (int i = 1; i <= 10; i++) thread.push_back(Arg("s" + std::to_string(i), ARGKIND_TEXT));
    thread.push_back(Arg("label", ARGKIND_TEXT));
    thread.push_back(Arg("state", ARGKIND_TEXT));
    thread.push_back(Arg("unused36", ARGKIND_INT));
    thread.push_back(Arg("rerun", ARGKIND_INT));
    cmds[KXCMD_THREAD_END].args = {Arg("name", ARGKIND_TEXT)};
    std::vector<KXC_ARG>& info = cmds[KXCMD_THREAD_INFO].args;
    info = {Arg("name", ARGKIND_TEXT), Arg("out", ARGKIND_INT)};
    for (const char* psz : {"exists", "runa", "runb", "key", "file", "script", "line", "file0", "script0", "line0",
                            "textend1", "textend2", "unused14", "unused15", "ifdepth", "calldepth", "loopdepth", "state"})
        info.push_back(Arg(psz, ARGKIND_INT));
    // Frame sheets: the layer by path and number, then the sheet file and the frame (109), or the
    // output designated by an integer argument and the selectors whose presence chooses the answer.
    cmds[KXCMD_FRAME_SHEET_LOAD].args = {Arg("layer", ARGKIND_TEXT), Arg("number", ARGKIND_INT),
                                         Arg("file", ARGKIND_TEXT), Arg("frame", ARGKIND_INT)};
    cmds[KXCMD_FRAME_SHEET_FREE].args = {Arg("layer", ARGKIND_TEXT), Arg("number", ARGKIND_INT)};
    cmds[KXCMD_FRAME_SHEET_INFO].args = {Arg("layer", ARGKIND_TEXT), Arg("number", ARGKIND_INT),
                                         Arg("out", ARGKIND_INT),    Arg("count", ARGKIND_INT),
                                         Arg("value1", ARGKIND_INT), Arg("value2", ARGKIND_INT),
                                         Arg("value3", ARGKIND_INT)};
    // E-mote: the layer by path and number, the three values, the switch and its five values, the
    // 253 switch, a text and its mode, the time, and the name and value variables (designated by
    // integer arguments) with their count.
    std::vector<KXC_ARG>& emote = cmds[KXCMD_EMOTE].args;
    emote = {Arg("layer", ARGKIND_TEXT), Arg("number", ARGKIND_INT), Arg("value1", ARGKIND_INT),
             Arg("value2", ARGKIND_INT), Arg("value3", ARGKIND_INT), Arg("switch", ARGKIND_INT)};
    for (int i = 1; i <= 5; i++) emote.push_back(Arg("f" + std::to_string(i), ARGKIND_INT));
    emote.push_back(Arg("call", ARGKIND_INT));
    emote.push_back(Arg("text", ARGKIND_TEXT));
    for (const char* psz : {"mode", "time", "names", "values", "count"}) emote.push_back(Arg(psz, ARGKIND_INT));
    // Flash: the file, the play switch, the rectangle and the kept value; the close takes nothing;
    // the query's selectors choose the answer, the output is designated by an integer argument.
    cmds[KXCMD_FLASH_OPEN].args = {Arg("file", ARGKIND_TEXT), Arg("play", ARGKIND_INT), Arg("x", ARGKIND_INT),
                                   Arg("y", ARGKIND_INT),     Arg("w", ARGKIND_INT),    Arg("h", ARGKIND_INT),
                                   Arg("value", ARGKIND_INT)};
    std::vector<KXC_ARG>& flashGet = cmds[KXCMD_FLASH_GET].args;
    for (const char* psz : {"playing", "variable", "x", "y", "w", "h", "frame", "value", "total", "out"})
        flashGet.push_back(Arg(psz, ARGKIND_INT));

    // Layers: the layer named by a text and a number; texts for paths and the image file, integers
    // for the rest (the handlers clamp their values themselves). Ids not read are declared too.
    std::vector<KXC_ARG>& layer = cmds[KXCMD_LAYER].args;
    for (int i = 0; i <= 57; i++) {
        const bool bText = i == 0 || i == 43 || i == 46 || i == 47 || i == 48 || i == 51;
        layer.push_back(Arg("l" + std::to_string(i), bText ? ARGKIND_TEXT : ARGKIND_INT));
    }
    // Image effects: four layer names and their numbers, the two parameters kept for the handler
    // to evaluate, the text to draw, and integers for the rectangle, the sizes and the selectors.
    std::vector<KXC_ARG>& fx = cmds[KXCMD_IMAGE_EFFECT].args;
    for (int i = 0; i <= 70; i++) {
        const bool bText = i <= 3 || i == 11;
        const bool bRaw = i == 9 || i == 10;
        fx.push_back(Arg("e" + std::to_string(i), bText ? ARGKIND_TEXT : bRaw ? ARGKIND_RAW : ARGKIND_INT));
    }
    // Text styles: the slot, the font by number or by face name (a text), integers for the style
    // values. The information command takes a text to measure and designates its output by an
    // integer argument after the questions.
    cmds[KXCMD_TEXT_STYLE].args = {Arg("slot", ARGKIND_INT),        Arg("font", ARGKIND_INT),
                                   Arg("face", ARGKIND_TEXT),       Arg("antialias", ARGKIND_INT),
                                   Arg("colora", ARGKIND_INT),      Arg("colorb", ARGKIND_INT),
                                   Arg("gradient", ARGKIND_INT),    Arg("orient", ARGKIND_INT),
                                   Arg("transparent", ARGKIND_INT), Arg("size", ARGKIND_INT),
                                   Arg("height", ARGKIND_INT),      Arg("bold", ARGKIND_INT)};
    std::vector<KXC_ARG>& tinfo = cmds[KXCMD_TEXT_STYLE_INFO].args;
    for (const char* psz : {"font", "name", "antialias", "colora", "colorb", "gradient", "orient", "transparent", "size",
                            "height", "bold", "count", "zero", "nonjapanese", "advance", "glyphheight", "unused16"})
        tinfo.push_back(Arg(psz, ARGKIND_INT));
    tinfo.push_back(Arg("text", ARGKIND_TEXT));
    tinfo.push_back(Arg("out", ARGKIND_INT));
    cmds[KXCMD_LAYER_DELETE].args = {Arg("name", ARGKIND_TEXT), Arg("number", ARGKIND_INT)};
    std::vector<KXC_ARG>& linfo = cmds[KXCMD_LAYER_INFO].args;
    linfo = {Arg("name", ARGKIND_TEXT), Arg("number", ARGKIND_INT)};
    for (int i = 2; i <= 35; i++) linfo.push_back(Arg("i" + std::to_string(i), ARGKIND_INT));

    // Save data: the file, the memory slot and the DNO, the variable designated by an integer
    // argument (a whole-variable reference or one element), the layer by path and number, and the
    // twelve container selectors whose presence chooses the class and type.
    std::vector<KXC_ARG>& save = cmds[KXCMD_SAVE].args;
    save = {Arg("file", ARGKIND_TEXT), Arg("slot", ARGKIND_INT),   Arg("dno", ARGKIND_INT),
            Arg("var", ARGKIND_INT),   Arg("layer", ARGKIND_TEXT), Arg("number", ARGKIND_INT)};
    for (int i = 6; i <= 17; i++) save.push_back(Arg("c" + std::to_string(i), ARGKIND_INT));
    // The load command: the same first six arguments, the variable or the layer being the target.
    cmds[KXCMD_LOAD].args = {Arg("file", ARGKIND_TEXT),  Arg("slot", ARGKIND_INT),  Arg("dno", ARGKIND_INT),
                             Arg("var", ARGKIND_INT),    Arg("layer", ARGKIND_TEXT), Arg("number", ARGKIND_INT)};

    // Sound: the object by path, the file by name, integers for the rest; the get command's output
    // is designated by an integer argument after the 22 selectors whose presence chooses the answer.
    cmds[KXCMD_SOUND].args = {Arg("path", ARGKIND_TEXT),    Arg("enabled", ARGKIND_INT), Arg("file", ARGKIND_TEXT),
                              Arg("play", ARGKIND_INT),     Arg("pause", ARGKIND_INT),   Arg("fade", ARGKIND_INT),
                              Arg("start", ARGKIND_INT),    Arg("loopstart", ARGKIND_INT), Arg("end", ARGKIND_INT),
                              Arg("plays", ARGKIND_INT),    Arg("volume", ARGKIND_INT),  Arg("pan", ARGKIND_INT),
                              Arg("frequency", ARGKIND_INT), Arg("nop", ARGKIND_INT)};
    cmds[KXCMD_SOUND_DELETE].args = {Arg("path", ARGKIND_TEXT)};
    std::vector<KXC_ARG>& sget = cmds[KXCMD_SOUND_GET].args;
    sget = {Arg("path", ARGKIND_TEXT)};
    for (int i = 1; i <= 22; i++) sget.push_back(Arg("p" + std::to_string(i), ARGKIND_INT));
    sget.push_back(Arg("out", ARGKIND_INT));

    // Windows: the window command's index, title, the numbers of its effects and its four paths (layer
    // set, menu bar, shape, click layer); the information command designates its output by an integer
    // argument before the selectors whose presence chooses the answer.
    std::vector<KXC_ARG>& win = cmds[KXCMD_WINDOW].args;
    for (const char* psz : {"index", "title", "alpha", "visible", "x", "y", "zorder", "width", "height", "clientwidth",
                            "clientheight", "foreground", "maximizebox", "fullscreen", "minimize", "maximize",
                            "maximizeallowed", "minimizeallowed", "closemode", "flashcount", "flashinterval", "layerset",
                            "menu", "shape", "clicklayer", "resizable"}) {
        const std::string strName = psz;
        const bool bText = strName == "title" || strName == "layerset" || strName == "menu" || strName == "shape" ||
                           strName == "clicklayer";
        win.push_back(Arg(strName, bText ? ARGKIND_TEXT : ARGKIND_INT));
    }
    cmds[KXCMD_WINDOW_HIDE].args = {Arg("index", ARGKIND_INT)};
    std::vector<KXC_ARG>& winfo = cmds[KXCMD_WINDOW_INFO].args;
    winfo = {Arg("index", ARGKIND_INT), Arg("out", ARGKIND_INT)};
    for (int i = 2; i <= 17; i++) winfo.push_back(Arg("q" + std::to_string(i), ARGKIND_INT));
    // The mouse command: numbers, then the cursor layer's path; the tray command: show, tooltip,
    // icon layer and popup menu paths.
    std::vector<KXC_ARG>& mouse = cmds[KXCMD_MOUSE].args;
    for (const char* psz : {"mode", "idle", "revealmove", "revealbutton", "revealwheel", "x", "y", "cursor", "hotx", "hoty"})
        mouse.push_back(Arg(psz, ARGKIND_INT));
    mouse.push_back(Arg("layer", ARGKIND_TEXT));
    cmds[KXCMD_TRAY_ICON].args = {Arg("show", ARGKIND_INT), Arg("tip", ARGKIND_TEXT), Arg("icon", ARGKIND_TEXT),
                                  Arg("menu", ARGKIND_TEXT)};
    cmds[KXCMD_ARGS_ONLY101].args = {Arg("a0", ARGKIND_INT), Arg("a1", ARGKIND_INT), Arg("a2", ARGKIND_INT)};
    // Menus: the item by path, its caption, the order key with its operator and the item's states;
    // the get command's output is designated by its first argument, then the path and the
    // selectors whose presence chooses the answer.
    cmds[KXCMD_MENU_ITEM].args = {Arg("path", ARGKIND_TEXT),    Arg("caption", ARGKIND_TEXT), Arg("order", ARGKIND_INT),
                                  Arg("visible", ARGKIND_INT),  Arg("enabled", ARGKIND_INT),  Arg("checked", ARGKIND_INT),
                                  Arg("command", ARGKIND_INT)};
    cmds[KXCMD_MENU_POPUP].args = {Arg("path", ARGKIND_TEXT), Arg("open", ARGKIND_INT)};
    cmds[KXCMD_MENU_DELETE].args = {Arg("path", ARGKIND_TEXT)};
    cmds[KXCMD_MENU_GET].args = {Arg("out", ARGKIND_INT),     Arg("path", ARGKIND_TEXT),   Arg("caption", ARGKIND_INT),
                                 Arg("exists", ARGKIND_INT),  Arg("order", ARGKIND_INT),   Arg("visible", ARGKIND_INT),
                                 Arg("enabled", ARGKIND_INT), Arg("checked", ARGKIND_INT), Arg("command", ARGKIND_INT)};

    // Files: paths and texts as texts, switches and numbers as integers; outputs are designated by
    // their arguments (text arrays by a text argument naming an element).
    std::vector<KXC_ARG>& file = cmds[KXCMD_FILE].args;
    for (int i = 0; i <= 17; i++) {
        const bool bText = i <= 2 || i == 8 || i == 10;
        file.push_back(Arg("f" + std::to_string(i), bText ? ARGKIND_TEXT : ARGKIND_INT));
    }
    std::vector<KXC_ARG>& fquery = cmds[KXCMD_FILE_QUERY].args;
    for (int i = 0; i <= 7; i++) fquery.push_back(Arg("q" + std::to_string(i), i <= 3 ? ARGKIND_TEXT : ARGKIND_INT));
    cmds[KXCMD_READ_TEXT_LINES].args = {Arg("file", ARGKIND_TEXT), Arg("out", ARGKIND_TEXT), Arg("clear", ARGKIND_INT)};
    cmds[KXCMD_CSV_READ].args = {Arg("file", ARGKIND_TEXT), Arg("out", ARGKIND_TEXT)};
    cmds[KXCMD_CSV_COUNT].args = {Arg("file", ARGKIND_TEXT), Arg("unused1", ARGKIND_INT), Arg("out", ARGKIND_INT)};

    // Dialogs, clipboard and registry.
    std::vector<KXC_ARG>& box = cmds[KXCMD_MESSAGE_BOX].args;
    for (int i = 0; i <= 20; i++) {
        const bool bText = i <= 1 || i == 9 || i == 10;
        box.push_back(Arg("m" + std::to_string(i), bText ? ARGKIND_TEXT : ARGKIND_INT));
    }
    cmds[KXCMD_CLIPBOARD_COPY].args = {Arg("copy", ARGKIND_INT), Arg("text", ARGKIND_TEXT)};
    cmds[KXCMD_CLIPBOARD_PASTE].args = {Arg("paste", ARGKIND_INT), Arg("out", ARGKIND_TEXT)};
    cmds[KXCMD_REG_READ].args = {Arg("key", ARGKIND_TEXT), Arg("name", ARGKIND_TEXT), Arg("out", ARGKIND_INT)};

    // The system command: the code, the result and the numbers N, P, Q, R designated by integer
    // arguments, the texts A and B by text arguments.
    std::vector<KXC_ARG>& sys = cmds[KXCMD_SYSTEM].args;
    for (int i = 0; i <= 23; i++) sys.push_back(Arg("s" + std::to_string(i), i >= 22 ? ARGKIND_TEXT : ARGKIND_INT));

    // Movies: a window movie's file, play switch, rectangle and volume, and its questions into an
    // output; a Theora movie's layer, file and size, and its questions into an output.
    cmds[KXCMD_MOVIE].args = {Arg("file", ARGKIND_TEXT), Arg("play", ARGKIND_INT), Arg("x", ARGKIND_INT),
                              Arg("y", ARGKIND_INT),     Arg("w", ARGKIND_INT),    Arg("h", ARGKIND_INT),
                              Arg("volume", ARGKIND_INT)};
    cmds[KXCMD_MOVIE_GET].args = {Arg("playing", ARGKIND_INT), Arg("x", ARGKIND_INT),      Arg("y", ARGKIND_INT),
                                  Arg("w", ARGKIND_INT),       Arg("h", ARGKIND_INT),      Arg("volume", ARGKIND_INT),
                                  Arg("mpeg", ARGKIND_TEXT),   Arg("out", ARGKIND_INT)};
    cmds[KXCMD_OGV_PLAY].args = {Arg("layer", ARGKIND_TEXT), Arg("number", ARGKIND_INT), Arg("file", ARGKIND_TEXT),
                                 Arg("unused", ARGKIND_INT), Arg("w", ARGKIND_INT),      Arg("h", ARGKIND_INT)};
    cmds[KXCMD_OGV_GET].args = {Arg("playing", ARGKIND_INT), Arg("sample", ARGKIND_INT), Arg("h", ARGKIND_INT),
                                Arg("volume", ARGKIND_INT),  Arg("mpeg", ARGKIND_TEXT),  Arg("out", ARGKIND_INT)};
    cmds[KXCMD_MOVIE_NOP].args = {Arg("value", ARGKIND_INT)};
    return cmds;
}

KXC_TABLE CanonicalCommandTable()
{
    KXC_TABLE table;
    table.commands = CanonicalCommands();
    for (int i = 0; i < KXC_ERRNO_TEXTS; i++) table.errnoTexts.push_back("errno " + std::to_string(i));
    table.keyMap = IdentityKeyMap();
    return table;
}
