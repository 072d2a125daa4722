// The real kolvex executable writing its files (a text file of the system command, a registry
// delete, a save file, the diagnostic screenshot) while it is killed inside a write, while the disk
// is full, while the files are read-only: each file holds its old content or the new one whole,
// every failure is reported, and the temporaries of killed writers go away at the next run.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "image/cmd_layer.h"
#include "script/cmd_file.h"
#include "tests/support/test_support.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

namespace {

constexpr uint16_t kVar = 1000;

// The files the game writes, relative to the game folder, and the native names the switches use.
const char* const kText = "save/note.txt";
const char* const kStore = "save/registry.reg";
const char* const kSave = "save/slot.sd";
const char* const kShot = "save/shot.png";
const char* const kPic = "save/pic.bmp";
const char* const kDamaged = "save/registry.reg.damaged";
const char* const kAll[] = {kText, kStore, kPic, kSave, kShot};

// The game: writes a text file (function 15), deletes a registry value and its key (function 33),
// saves a layer's picture as save\pic.bmp (the file command), saves a variable of the given value
// into save\slot.sd, then idles. The save comes last: its failure is fatal and ends the script.
std::vector<GAME_FILE> WriterGame(int64_t llValue, const std::string& strText)
{
    const auto I = [](int nArg, int64_t v) { return ExprArg(static_cast<uint8_t>(nArg), MakeExprInt(v)); };
    const auto T = [](int nArg, const std::string& s) {
        return ExprArg(static_cast<uint8_t>(nArg), MakeExprText(s), EVALTYPE_TEXT);
    };
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    EXPECT_GE(AddLabel(&b, "SYSTEM_START"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, {I(0, 15), T(22, "save\\note.txt"), T(23, strText)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SYSTEM, {I(0, 33), T(22, "Software\\Kx"), T(23, "v")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_LAYER, {T(LAYER_ARG_PATH, "pic"), I(LAYER_ARG_ORDER, 1), T(LAYER_ARG_IMAGE, "pic.bmp")}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_FILE, {T(FILE_ARG_PATH, "save\\pic"), T(FILE_ARG_LAYER, "pic"), I(FILE_ARG_BMP, 1)}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SAVE, {I(2, 1), ExprArg(3, MakeExprVar(kVar))}), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_SAVE, {T(0, "slot")}), 0);
    EXPECT_GE(AddLabel(&b, "IDLE"), 0);
    EXPECT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1)}), 0);
    EXPECT_GE(EmitGoto(&b, "IDLE"), 0);
    EXPECT_EQ(FinishScriptBody(&b), 0);
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = 160;
    game.config.nHeight = 120;
    game.defs.push_back(MakeIntVarDef(kVar, llValue));
    game.errors.push_back({102140, "%s: %s cannot be written (error %d: %s)"});
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    std::vector<GAME_FILE> files = BuildGameFiles(game);
    std::vector<uint32_t> px(40 * 30);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint32_t(i * 2654435761u) & 0xFFFFFFu;
    files.push_back({"pic.bmp", WriteBmp(40, 30, BMP_WRITER_OPTIONS{}, px.data(), nullptr)});
    return files;
}

const std::string kOldStore =
    "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Kx]\r\n\"v\"=\"1\"\r\n\"w\"=\"2\"\r\n";
// A store with a line that is not valid: it is copied aside before any rewrite.
const std::string kDamagedStore =
    "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Kx]\r\n\"v\"=\"1\"\r\nnot a value line\r\n\"w\"=\"2\"\r\n";

std::string ReadFileOr(const std::string& strPath, const char* pszMissing = "<missing>")
{
    FILE* f = std::fopen(strPath.c_str(), "rb");
    if (!f) return pszMissing;
    std::string s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

void WriteFileBytes(const std::string& strPath, const std::string& s)
{
    FILE* f = std::fopen(strPath.c_str(), "wb");
    ASSERT_NE(f, nullptr) << strPath;
    ASSERT_EQ(std::fwrite(s.data(), 1, s.size(), f), s.size());
    ASSERT_EQ(std::fclose(f), 0);
}

// The temporaries left in a folder.
std::vector<std::string> TemporariesIn(const std::string& strDir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(strDir, ec)) {
        const std::string strName = e.path().filename().string();
        if (strName.rfind(".kxtmp", 0) == 0) names.push_back(strName);
    }
    return names;
}

unsigned ModeOf(const std::string& strPath)
{
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

// One game folder with the old files in place: the game of the old value ran there once, the text,
// the store and the picture hold old content of their own.
struct WRITE_SCENE {
    TEMP_DIR dir;
    std::string strGame;
    std::map<std::string, std::string> old;   // relative path -> old bytes

    std::string Path(const char* pszRelative) const { return strGame + "/" + pszRelative; }

    std::vector<std::string> Env(std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> env = {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "KOLVEX_AUDIO=null",
                                        "XDG_RUNTIME_DIR=" + dir.strNative, "XDG_DATA_HOME=" + dir.strNative + "/data",
                                        "KOLVEX_QUIT_AFTER_FRAMES=10", "KOLVEX_REGISTRY=" + Path(kStore),
                                        "KOLVEX_SCREENSHOT=" + Path(kShot)};
        env.insert(env.begin(), extra.begin(), extra.end());
        return env;
    }

    PROGRAM_RESULT Run(std::vector<std::string> extra = {}) const
    {
        return RunProgramCaptured(KX_KOLVEX_PATH, {"--game", strGame}, Env(std::move(extra)));
    }
};

// The old save file: what the game of the old value saves.
const std::string& OldSaveBytes()
{
    static std::string s_strOld;
    if (s_strOld.empty()) {
        TEMP_DIR dir;
        const std::string strGame = dir.strNative + "/game";
        EXPECT_EQ(WriteGameFolder(strGame, WriterGame(41, "old")), 0);
        const PROGRAM_RESULT r = RunProgramCaptured(
            KX_KOLVEX_PATH, {"--game", strGame},
            {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy", "KOLVEX_AUDIO=null", "XDG_RUNTIME_DIR=" + dir.strNative,
             "KOLVEX_QUIT_AFTER_FRAMES=10", "KOLVEX_REGISTRY=" + strGame + "/save/registry.reg"});
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        s_strOld = ReadFileOr(strGame + "/save/slot.sd", "");
        EXPECT_GT(s_strOld.size(), 4000u);
    }
    return s_strOld;
}

// Makes the scene: the game of the new value, with the old files.
void MakeScene(WRITE_SCENE* pScene, const std::string& strStore = kOldStore)
{
    pScene->strGame = pScene->dir.strNative + "/game";
    ASSERT_EQ(WriteGameFolder(pScene->strGame, WriterGame(42, "new text")), 0);
    std::filesystem::create_directories(pScene->strGame + "/save");
    pScene->old = {{kText, "old text\r\n"}, {kStore, strStore}, {kPic, "old bitmap"}, {kSave, OldSaveBytes()},
                   {kShot, "old picture"}};
    for (const auto& [strRel, strBytes] : pScene->old) ASSERT_NO_FATAL_FAILURE(WriteFileBytes(pScene->Path(strRel.c_str()), strBytes));
}

// What a clean run of the scene's game writes over the old files.
const std::map<std::string, std::string>& NewBytes()
{
    static std::map<std::string, std::string> s_new;
    if (s_new.empty()) {
        WRITE_SCENE scene;
        MakeScene(&scene);
        const PROGRAM_RESULT r = scene.Run();
        EXPECT_EQ(r.nStatus, 0) << r.strErr;
        for (const char* psz : kAll) s_new[psz] = ReadFileOr(scene.Path(psz));
        EXPECT_EQ(s_new[kText], "new text\r\n");
        EXPECT_EQ(s_new[kStore], "REGEDIT4\r\n");
        EXPECT_NE(s_new[kSave], OldSaveBytes());
        EXPECT_EQ(s_new[kShot].substr(1, 3), "PNG");
        EXPECT_EQ(s_new[kPic].size(), 54u + 40 * 3 * 30);
    }
    return s_new;
}

// Every file holds its old bytes or the new ones whole.
void ExpectOldOrNew(const WRITE_SCENE& scene, const std::string& strCase)
{
    for (const char* psz : kAll) {
        const std::string s = ReadFileOr(scene.Path(psz));
        // A run that stopped early (a failed save is fatal) shows another picture: any whole PNG.
        static const std::string kPngStart("\x89PNG\r\n\x1a\n", 8), kPngEnd("IEND\xae\x42\x60\x82", 8);
        const bool bWholePng = s.size() > 16 && s.compare(0, 8, kPngStart) == 0 && s.compare(s.size() - 8, 8, kPngEnd) == 0;
        EXPECT_TRUE(s == scene.old.at(psz) || s == NewBytes().at(psz) || (psz == kShot && bWholePng))
            << strCase << ": " << psz << " holds " << s.size() << " bytes of neither";
    }
}

// A small file system of its own for the save folder, filled up; only root can mount one.
struct FULL_DISK {
    std::string strMount;
    bool bMounted = false;
    ~FULL_DISK()
    {
        if (bMounted) umount2(strMount.c_str(), MNT_DETACH);
    }
};

// Mounts a tmpfs on the scene's save folder with the old files, then fills it.
::testing::AssertionResult MountFullSaveFolder(WRITE_SCENE* pScene, FULL_DISK* pDisk)
{
    pDisk->strMount = pScene->Path("save");
    if (geteuid() != 0) return ::testing::AssertionFailure() << "not root";
    if (mount("tmpfs", pDisk->strMount.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
        return ::testing::AssertionFailure() << "mount: " << std::strerror(errno);
    pDisk->bMounted = true;
    for (const auto& [strRel, strBytes] : pScene->old) WriteFileBytes(pScene->Path(strRel.c_str()), strBytes);
    FILE* f = std::fopen((pDisk->strMount + "/filler").c_str(), "wb");
    if (!f) return ::testing::AssertionFailure() << "no filler";
    std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {}
    std::fclose(f);
    return ::testing::AssertionSuccess();
}

}  // namespace

// A kill at a byte inside each file's write (and after its last byte, before the rename): every
// file keeps its old content or holds the new one; the next run removes the killed run's temporary
// and writes everything.
TEST(KolvexWrites, AKillInsideAWriteLeavesOldOrNewContent)
{
    ASSERT_FALSE(NewBytes().empty());
    for (const char* pszFile : kAll) {
        const size_t nSize = NewBytes().at(pszFile).size();
        for (size_t nAt : {size_t(0), size_t(1), nSize / 2, nSize - 1, nSize}) {
            const std::string strCase = std::string(pszFile) + " killed at " + std::to_string(nAt);
            SCOPED_TRACE(strCase);
            WRITE_SCENE scene;
            ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
            const std::string strName = std::filesystem::path(pszFile).filename().string();
            const PROGRAM_RESULT r = scene.Run({"KOLVEX_WRITE_FAULT=kill@" + std::to_string(nAt) + "," + strName});
            EXPECT_EQ(r.nStatus, -3) << r.strErr;   // killed by the switch
            EXPECT_EQ(ReadFileOr(scene.Path(pszFile)), scene.old.at(pszFile));
            ExpectOldOrNew(scene, strCase);
            EXPECT_EQ(TemporariesIn(scene.Path("save")).size(), 1u);

            const PROGRAM_RESULT again = scene.Run();
            EXPECT_EQ(again.nStatus, 0) << again.strErr;
            for (const char* psz : kAll)
                EXPECT_EQ(ReadFileOr(scene.Path(psz)), NewBytes().at(psz)) << psz;
            EXPECT_TRUE(TemporariesIn(scene.Path("save")).empty());
        }
    }
}

// A write that fails as on a full disk (injected) is reported with the system's text and keeps the
// old file; the save's failure is fatal, the others let the game go on.
TEST(KolvexWrites, AFailedWriteIsReportedAndKeepsTheOldFile)
{
    ASSERT_FALSE(NewBytes().empty());
    struct CASE {
        const char* pszFile;
        int nStatus;
        const char* pszReport;
    };
    const CASE cases[] = {
        {kText, 0, "save\\note.txt cannot be written (error 28: No space left on device)"},
        {kStore, 0, "registry.reg cannot be written (error 28: No space left on device)"},
        {kPic, 0, "File Create Error."},
        {kSave, 1, "slot.sd cannot be written (error 28: No space left on device)"},
        {kShot, 0, "shot.png could not be written: No space left on device"},
    };
    for (const CASE& c : cases) {
        for (int nAt : {0, 5}) {   // every file is longer than 5 bytes
            SCOPED_TRACE(std::string(c.pszFile) + " full at " + std::to_string(nAt));
            WRITE_SCENE scene;
            ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
            const std::string strName = std::filesystem::path(c.pszFile).filename().string();
            const PROGRAM_RESULT r = scene.Run({"KOLVEX_WRITE_FAULT=enospc@" + std::to_string(nAt) + "," + strName});
            EXPECT_EQ(r.nStatus, c.nStatus) << r.strErr;
            EXPECT_NE(r.strErr.find(c.pszReport), std::string::npos) << r.strErr;
            EXPECT_EQ(ReadFileOr(scene.Path(c.pszFile)), scene.old.at(c.pszFile));
            ExpectOldOrNew(scene, c.pszFile);
            EXPECT_TRUE(TemporariesIn(scene.Path("save")).empty());
            EXPECT_EQ(r.strErr.find("Sanitizer"), std::string::npos) << r.strErr;
        }
    }
}

// A real full disk: every write fails, each is reported, every old file is kept whole, and no
// temporary is left behind.
TEST(KolvexWrites, AFullDiskKeepsEveryOldFile)
{
    WRITE_SCENE scene;
    ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
    FULL_DISK disk;
    const ::testing::AssertionResult mounted = MountFullSaveFolder(&scene, &disk);
    if (!mounted) GTEST_SKIP() << "no small file system for the save folder: " << mounted.message();
    const PROGRAM_RESULT r = scene.Run();
    // The first report shows (the text file's); the failed save is fatal, so the status is 1; the
    // screenshot's line comes at the end. The reports of each kind are checked one by one above.
    EXPECT_EQ(r.nStatus, 1) << r.strErr;
    for (const char* psz : {"note.txt cannot be written (error 28", "File Create Error.", "shot.png could not be written: No space left"})
        EXPECT_NE(r.strErr.find(psz), std::string::npos) << psz << "\n" << r.strErr;
    for (const auto& [strRel, strBytes] : scene.old) EXPECT_EQ(ReadFileOr(scene.Path(strRel.c_str())), strBytes) << strRel;
    EXPECT_TRUE(TemporariesIn(scene.Path("save")).empty());
}

// Read-only files are not replaced: each write fails with a report, the files keep their content
// and their mode. (Checked by the mode, so it holds for root too.)
TEST(KolvexWrites, ReadOnlyFilesAreNotReplaced)
{
    WRITE_SCENE scene;
    ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
    for (const char* psz : kAll) ASSERT_EQ(chmod(scene.Path(psz).c_str(), 0444), 0);
    const PROGRAM_RESULT r = scene.Run();
    EXPECT_EQ(r.nStatus, 1) << r.strErr;
    for (const char* psz : {"note.txt cannot be written (error 13: Permission denied)", "File Create Error.",
                            "shot.png could not be written: Permission denied"})
        EXPECT_NE(r.strErr.find(psz), std::string::npos) << psz << "\n" << r.strErr;
    for (const char* psz : kAll) {
        EXPECT_EQ(ReadFileOr(scene.Path(psz)), scene.old.at(psz)) << psz;
        EXPECT_EQ(ModeOf(scene.Path(psz)), 0444u) << psz;
    }
}

// A rewrite keeps the file's mode: the store and the text file stay as their owner set them.
TEST(KolvexWrites, ARewriteKeepsTheFilesMode)
{
    WRITE_SCENE scene;
    ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
    ASSERT_EQ(chmod(scene.Path(kStore).c_str(), 0644), 0);
    ASSERT_EQ(chmod(scene.Path(kText).c_str(), 0640), 0);
    const PROGRAM_RESULT r = scene.Run();
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(ReadFileOr(scene.Path(kStore)), "REGEDIT4\r\n");
    EXPECT_EQ(ModeOf(scene.Path(kStore)), 0644u);
    EXPECT_EQ(ModeOf(scene.Path(kText)), 0640u);
}

// Temporaries of writers that died go; a live writer's stays.
TEST(KolvexWrites, TemporariesOfDeadWritersAreRemoved)
{
    WRITE_SCENE scene;
    ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
    // 999999999 lies above any process id the system hands out.
    const std::string strSave = scene.Path("save");
    const std::string strLive = ".kxtmp-" + std::to_string(getpid()) + "-live00";
    WriteFileBytes(strSave + "/.kxtmp-999999999-dead00", "half");
    WriteFileBytes(strSave + "/.kxtmpAbC123", "half of an older writer");
    WriteFileBytes(strSave + "/" + strLive, "being written");
    const PROGRAM_RESULT r = scene.Run();
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(TemporariesIn(strSave), std::vector<std::string>{strLive});
}

// A damaged store is copied aside whole before it is rewritten. When the copy cannot be written
// (a full disk) the store is not rewritten either, the failure is reported, and a later run with
// room makes the copy and then the rewrite. A kill inside the copy leaves the store whole.
TEST(KolvexWrites, TheDamagedStoreSurvivesAFullDiskAndAKill)
{
    {
        SCOPED_TRACE("full disk");
        WRITE_SCENE scene;
        ASSERT_NO_FATAL_FAILURE(MakeScene(&scene, kDamagedStore));
        FULL_DISK disk;
        const ::testing::AssertionResult mounted = MountFullSaveFolder(&scene, &disk);
        if (mounted) {
            const PROGRAM_RESULT r = scene.Run();
            EXPECT_EQ(r.nStatus, 1) << r.strErr;
            EXPECT_EQ(ReadFileOr(scene.Path(kStore)), kDamagedStore);
            const std::string strCopy = ReadFileOr(scene.Path(kDamaged));
            EXPECT_TRUE(strCopy == "<missing>" || strCopy == kDamagedStore) << strCopy.size();
            std::remove((disk.strMount + "/filler").c_str());
            const PROGRAM_RESULT again = scene.Run();
            EXPECT_EQ(again.nStatus, 0) << again.strErr;
            EXPECT_EQ(ReadFileOr(scene.Path(kDamaged)), kDamagedStore);
            EXPECT_EQ(ReadFileOr(scene.Path(kStore)), "REGEDIT4\r\n");
        } else {
            std::printf("skipped the full disk: %s\n", mounted.message());
        }
    }
    {
        SCOPED_TRACE("injected full disk");
        WRITE_SCENE scene;
        ASSERT_NO_FATAL_FAILURE(MakeScene(&scene, kDamagedStore));
        const PROGRAM_RESULT r = scene.Run({"KOLVEX_WRITE_FAULT=enospc@10,registry.reg.damaged"});
        EXPECT_NE(r.strErr.find("registry.reg cannot be written (error 28"), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadFileOr(scene.Path(kStore)), kDamagedStore);
        EXPECT_EQ(ReadFileOr(scene.Path(kDamaged)), "<missing>");
    }
    for (size_t nAt : {size_t(0), kDamagedStore.size() / 2, kDamagedStore.size()}) {
        SCOPED_TRACE("killed inside the copy at " + std::to_string(nAt));
        WRITE_SCENE scene;
        ASSERT_NO_FATAL_FAILURE(MakeScene(&scene, kDamagedStore));
        const PROGRAM_RESULT r = scene.Run({"KOLVEX_WRITE_FAULT=kill@" + std::to_string(nAt) + ",registry.reg.damaged"});
        EXPECT_EQ(r.nStatus, -3) << r.strErr;
        EXPECT_EQ(ReadFileOr(scene.Path(kStore)), kDamagedStore);
        EXPECT_EQ(ReadFileOr(scene.Path(kDamaged)), "<missing>");
        const PROGRAM_RESULT again = scene.Run();
        EXPECT_EQ(again.nStatus, 0) << again.strErr;
        EXPECT_EQ(ReadFileOr(scene.Path(kDamaged)), kDamagedStore);
        EXPECT_EQ(ReadFileOr(scene.Path(kStore)), "REGEDIT4\r\n");
        EXPECT_TRUE(TemporariesIn(scene.Path("save")).empty());
    }
}

// Too few file descriptors for the single-instance lock is no second copy: the start fails with
// status 1 and the reason.
TEST(KolvexWrites, TooFewDescriptorsForTheLockEndWithAReason)
{
    WRITE_SCENE scene;
    ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
    for (int nLimit : {4, 5, 6}) {
        SCOPED_TRACE(nLimit);
        // Descriptors a test runner leaves open are closed first, so that the limit counts alone.
        const PROGRAM_RESULT r = RunProgramCaptured(
            "/bin/bash",
            {"-c", "for ((i = 3; i < 256; i++)); do eval \"exec $i>&-\"; done; ulimit -n " + std::to_string(nLimit) +
                       "; exec \"$0\" --game \"$1\"",
             KX_KOLVEX_PATH, scene.strGame},
            scene.Env());
        EXPECT_EQ(r.nStatus, 1) << r.strOut << r.strErr;
        EXPECT_EQ(r.strOut.find("already running"), std::string::npos) << r.strOut;
        EXPECT_NE(r.strErr.find("single-instance lock failed"), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("Too many open files"), std::string::npos) << r.strErr;
    }
}

// A lock folder where no lock file can be made (a read-only file system, which refuses root too)
// is no second copy either: status 1 and the reason.
TEST(KolvexWrites, AnUnusableLockFolderEndsWithAReason)
{
    WRITE_SCENE scene;
    ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
    FULL_DISK ro;
    ro.strMount = scene.dir.strNative + "/run";
    std::filesystem::create_directories(ro.strMount);
    if (geteuid() != 0 || mount("tmpfs", ro.strMount.c_str(), "tmpfs", MS_RDONLY, "size=16k") != 0)
        GTEST_SKIP() << "no read-only file system for the lock folder (needs root)";
    ro.bMounted = true;
    const PROGRAM_RESULT r = scene.Run({"XDG_RUNTIME_DIR=" + ro.strMount});
    EXPECT_EQ(r.nStatus, 1) << r.strOut << r.strErr;
    EXPECT_EQ(r.strOut.find("already running"), std::string::npos) << r.strOut;
    EXPECT_NE(r.strErr.find("single-instance lock failed"), std::string::npos) << r.strErr;
    EXPECT_NE(r.strErr.find("Read-only file system"), std::string::npos) << r.strErr;
    EXPECT_EQ(ReadFileOr(scene.Path(kSave)), scene.old.at(kSave));   // the game never ran
}

// Not a test of its own: scripts/kill_writes.sh calls it with KX_WRITE_SCENE=FOLDER to get a scene
// (FOLDER/game with the old files) and what a clean run writes (FOLDER/new/<name>), then kills
// kolvex at random moments on copies of the scene.
TEST(KolvexWrites, SceneForTheKillScript)
{
    const char* pszOut = std::getenv("KX_WRITE_SCENE");
    if (!pszOut || !*pszOut) GTEST_SKIP() << "for scripts/kill_writes.sh (KX_WRITE_SCENE=FOLDER)";
    const std::string strOut = pszOut;
    WRITE_SCENE scene;
    ASSERT_NO_FATAL_FAILURE(MakeScene(&scene));
    std::filesystem::create_directories(strOut + "/new");
    std::filesystem::create_directories(strOut + "/old");
    std::filesystem::copy(scene.strGame, strOut + "/game", std::filesystem::copy_options::recursive);
    // The registry delete is two changes (the value, then its key), each written whole: a kill
    // between them leaves the store without the value, and a later run finds no value to delete.
    std::filesystem::create_directories(strOut + "/mid");
    std::string strMid = kOldStore;
    strMid.erase(strMid.find("\"v\"=\"1\"\r\n"), 9);
    WriteFileBytes(strOut + "/mid/registry.reg", strMid);
    for (const auto& [strRel, strBytes] : NewBytes()) {
        const std::string strName = std::filesystem::path(strRel).filename().string();
        WriteFileBytes(strOut + "/new/" + strName, strBytes);
        WriteFileBytes(strOut + "/old/" + strName, scene.old.at(strRel));
    }
}
