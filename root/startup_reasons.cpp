// The English reasons of a failed start.
#include "root/startup_reasons.h"

#include <vector>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "platform/plat_paths.h"
#include "platform/plat_text.h"
#include "script/engine_config.h"
#include "script/script_tables.h"

namespace {

// What the game folder holds, as far as a game is concerned.
struct FOLDER_SURVEY {
    bool bKxbin = false;                 // a kxbin folder
    bool bConfig = false;                // kxbin/kxcfg.kbn in it
    std::vector<std::string> packs;      // *.kpf files, by name
    std::string strScript;               // a script source (*.txt), by name; empty when none
};

// The first script source (*.txt) of a folder that holds nothing but scripts among its files
// (hidden ones aside); empty otherwise.
std::string OnlyScriptsIn(const std::vector<PLAT_DIR_ENTRY>& entries)
{
    std::string strFirst;
    for (const PLAT_DIR_ENTRY& e : entries) {
        if (e.bIsDir || e.strName.empty() || e.strName[0] == '.') continue;
        if (!EndsWithNoCase(e.strName.c_str(), ".txt")) return std::string();
        if (strFirst.empty()) strFirst = e.strName;
    }
    return strFirst;
}

// Looks at the folder, and at its sub-folders for scripts when the folder itself holds no other files.
FOLDER_SURVEY SurveyGameFolder(void)
{
    FOLDER_SURVEY s;
    std::vector<PLAT_DIR_ENTRY> entries;
    if (PlatListDir(g_szExeDir, &entries) != 0) return s;
    s.strScript = OnlyScriptsIn(entries);
    bool bOtherFiles = false;
    for (const PLAT_DIR_ENTRY& e : entries) {
        const char* pszName = e.strName.c_str();
        if (e.bIsDir && CompareNoCaseASCII(pszName, "kxbin") == 0) {
            s.bKxbin = true;
            std::vector<PLAT_DIR_ENTRY> inner;
            if (PlatListDir((std::string(g_szExeDir) + "\\" + e.strName).c_str(), &inner) == 0) {
                for (const PLAT_DIR_ENTRY& f : inner)
                    if (!f.bIsDir && CompareNoCaseASCII(f.strName.c_str(), "kxcfg.kbn") == 0) s.bConfig = true;
            }
        } else if (!e.bIsDir && EndsWithNoCase(pszName, ".kpf")) {
            s.packs.push_back(e.strName);
        } else if (e.bIsDir && CompareNoCaseASCII(pszName, "pac") == 0) {
            s.packs.push_back(e.strName + "/");   // the folder of packs
        }
        if (!e.bIsDir && !e.strName.empty() && e.strName[0] != '.') bOtherFiles = true;
    }
    if (s.strScript.empty() && !bOtherFiles) {
        for (const PLAT_DIR_ENTRY& e : entries) {
            std::vector<PLAT_DIR_ENTRY> inner;
            if (!e.bIsDir || PlatListDir((std::string(g_szExeDir) + "\\" + e.strName).c_str(), &inner) != 0) continue;
            const std::string strFound = OnlyScriptsIn(inner);
            if (!strFound.empty()) {
                s.strScript = e.strName + "\\" + strFound;
                break;
            }
        }
    }
    return s;
}

// A path inside the game folder (engine form, relative or absolute) as the person knows it.
std::string Shown(const std::string& strEnginePath)
{
    return PlatDisplayPath(strEnginePath.c_str());
}

std::string FolderShown(void)
{
    return PlatDisplayPath(g_szExeDir);
}

const char kOpenAGame[] =
    "start kolvex with the folder of a game (kolvex --game FOLDER), or open that folder with KOLVEX "
    "in the file manager";

// The configuration is missing: say what the folder holds instead.
std::string DescribeMissingConfig(void)
{
    const FOLDER_SURVEY s = SurveyGameFolder();
    const std::vector<std::string> leftOut = ListLeftOutPacks();
    const std::string strFolder = FolderShown();
    if (!leftOut.empty()) {
        std::string strNames;
        for (const std::string& p : leftOut) strNames += (strNames.empty() ? "" : ", ") + Shown(p);
        return "the pack " + strNames + " is damaged (it is not a pack archive), and nothing else in " + strFolder +
               " holds the game's configuration kxbin/kxcfg.kbn; copy the game's pack again from where it came";
    }
    if (s.bKxbin && !s.bConfig)
        return "the compiled game in " + strFolder + "/kxbin lacks kxcfg.kbn, the game's configuration; the game is "
               "incomplete: compile its scripts again, or copy the whole game folder again";
    if (!s.packs.empty()) {
        std::string strNames;
        for (const std::string& p : s.packs) strNames += (strNames.empty() ? "" : ", ") + PlatCp932ToUtf8String(p.c_str());
        return "no pack in " + strFolder + " (" + strNames + ") holds the game's configuration kxbin/kxcfg.kbn, "
               "and there is no kxbin folder; copy the pack that holds the game (usually data.kpf) into the folder";
    }
    if (!s.strScript.empty())
        return strFolder + " holds scripts (" + Shown(s.strScript) + ") but not their compiled form, "
               "kxbin/kxcfg.kbn, and kolvex plays compiled games only; compile the scripts with the game's "
               "script compiler (system/KXCom/KXCom.exe in the game folder, run at every start), or start "
               "kolvex with the folder of the compiled game";
    return strFolder + " holds no game: kolvex looked there for kxbin/kxcfg.kbn and for packs (*.kpf) and found "
           "neither; " + kOpenAGame;
}

}  // namespace

std::string DescribeStartupFailure(void)
{
    std::string strArg;
    const int nId = GetFirstFatalReport(&strArg);
    switch (nId) {
    case KX_ERR_FILE_MISSING:
        if (EndsWithNoCase(strArg.c_str(), "kxcfg.kbn")) return DescribeMissingConfig();
        return "the file " + Shown(strArg) + " is missing; the game is incomplete: copy it again";
    case KX_ERR_PACK_DAMAGED:
    case KX_ERR_PACK_VERSION: {
        std::vector<std::string> args;
        GetFirstFatalReportArgs(&args);
        return DescribeReportInEnglish(nId, args);
    }
    case KX_ERR_PACK_OPEN:
        return "the pack " + Shown(strArg) + " cannot be opened; check that it is readable (its permissions)";
    case KX_ERR_FILE_READ:
        return "the file " + Shown(strArg) + " cannot be read or is damaged; copy the game again";
    case KX_ERR_NO_MEMORY:
    case KX_ERR_FILE_NO_MEMORY:
    case KX_ERR_EXPAND_NO_MEMORY:
        return "memory ran out; close other programs and start the game again";
    case KX_ERR_TOO_MANY_PACKS:
    case KX_ERR_TOO_MANY_ENTRIES:
    case KX_ERR_TOO_MANY_FOLDERS:
    case KX_ERR_FOLDERS_TOO_DEEP:
        return FolderShown() + " holds more packs, pack entries or folders than the engine takes; remove what "
               "does not belong to the game";
    case KX_ERR_PATH_TOO_LONG:
        return "the path " + Shown(strArg) + " is too long; move the game to a folder with a shorter path";
    case KX_ERR_CONFIG_TITLE:
    case KX_ERR_CONFIG_VALUE:
    case KX_ERR_SCRIPT_LIST_INDEX:
        return "the compiled game in " + FolderShown() + " is damaged (its configuration or script list); compile "
               "its scripts again, or copy the game again";
    case 0:
        if (GameFolderHoldsNoGame()) return DescribeMissingConfig();
        return "the message above says why";
    default:
        return "the message above (error " + std::to_string(nId) + ") says why";
    }
}

std::string DescribeFatalErrorOfRun(void)
{
    std::vector<std::string> args;
    return DescribeReportInEnglish(GetFirstFatalReportArgs(&args), args);
}

int GameFolderHoldsNoGame(void)
{
    const FOLDER_SURVEY s = SurveyGameFolder();
    return !s.bKxbin && s.packs.empty() && s.strScript.empty();
}

std::string DescribeNoGameForDesktop(void)
{
    return "KOLVEX found no game in " + FolderShown() +
           ".\n\nTo play a game, open its folder with KOLVEX: in the file manager, choose \"Open With\" "
           "and KOLVEX on the game's folder, or run kolvex FOLDER in a terminal. A game's folder holds "
           "its pack (data.kpf) or its compiled scripts (kxbin).";
}
