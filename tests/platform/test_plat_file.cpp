// Files and folders addressed by engine paths (cp932, '\').
#include "platform/plat_file.h"
#include "tests/platform/plat_test_util.h"

#include <sys/wait.h>
#include <csignal>
#include <algorithm>
#include <fcntl.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <string>
#include <cstring>
#include <ctime>
#include <dirent.h>

namespace {

// cp932 forms of the Japanese names used on disk below.
#define SOURCE_932 "\x83\x5C\x81\x5B\x83\x58"   // ソース: ソ is 83 5C
#define COVER_932 "\x95\x5C\x8E\x86"            // 表紙: 表 is 95 5C

class PlatFileTest : public TempFolderTest {};

TEST_F(PlatFileTest, ResolvesMixedCaseAndCp932Components)
{
    ASSERT_EQ(mkdir(Native("Data").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(Native("Data/ソース").c_str(), 0755), 0);
    WriteNativeFile(Native("Data/ソース/表紙.PNG"), "png");
    WriteNativeFile(Native("Data/abc.txt"), "lower");
    WriteNativeFile(Native("Data/ABC.txt"), "upper");

    struct RESOLVE_CASE {
        std::string strEngine;
        int nExpect;
        std::string strNative;
    };
    const RESOLVE_CASE aCases[] = {
        {Engine("data\\" SOURCE_932 "\\" COVER_932 ".png"), 0, Native("Data/ソース/表紙.PNG")},
        {Engine("DATA/" SOURCE_932 "/" COVER_932 ".Png"), 0, Native("Data/ソース/表紙.PNG")},
        {Engine("Data\\\\" SOURCE_932 "\\"), 0, Native("Data/ソース")},
        {Engine("Data\\abc.txt"), 0, Native("Data/abc.txt")},     // the exact name first
        {Engine("data\\Abc.TXT"), 0, Native("Data/ABC.txt")},     // else the first in name order
        {Engine("data\\" SOURCE_932 "\\..\\ABC.TXT"), 0, Native("Data/ソース/../ABC.txt")},
        {Engine("data\\new\\" COVER_932 ".txt"), -1, Native("Data/new/表紙.txt")},
        {Engine("data\\abc.txt\\x"), -1, Native("Data/abc.txt/x")},
        {Engine("data\\abc.txt\\"), -1, Native("Data/abc.txt")},   // a file is no folder
        {Engine("data\\\x85\x40"), -2, ""},
    };
    for (const RESOLVE_CASE& c : aCases) {
        std::string strNative;
        EXPECT_EQ(PlatResolvePath(c.strEngine.c_str(), &strNative), c.nExpect) << c.strNative;
        EXPECT_EQ(strNative, c.strNative);
    }

    // Relative paths start at the current folder.
    ASSERT_EQ(chdir(m_strDir.c_str()), 0);
    std::string strNative;
    EXPECT_EQ(PlatResolvePath("DATA\\" SOURCE_932 "\\" COVER_932 ".png", &strNative), 0);
    EXPECT_EQ(strNative, "Data/ソース/表紙.PNG");
    std::vector<uint8_t> aData;
    ASSERT_EQ(PlatReadFile("data\\" SOURCE_932 "\\" COVER_932 ".png", &aData), 0);
    EXPECT_EQ(std::string(aData.begin(), aData.end()), "png");
    EXPECT_EQ(PlatSetCurrentDir("DATA\\" SOURCE_932), 0);
    EXPECT_EQ(PlatGetCurrentDir(), Engine("Data\\" SOURCE_932));
}

// Sets a folder's modification time an hour (plus nSeconds) back, so that its listing may be kept.
void BackdateFolder(const std::string& strPath, int nSeconds)
{
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 3600 + nSeconds;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, strPath.c_str(), times, 0), 0);
}

TEST_F(PlatFileTest, KeptListingsFollowChangesToTheFolder)
{
    ASSERT_EQ(mkdir(Native("Data").c_str(), 0755), 0);
    WriteNativeFile(Native("Data/abc.txt"), "lower");
    WriteNativeFile(Native("Data/ABC.txt"), "upper");
    BackdateFolder(Native("Data"), 0);
    std::string strNative;
    EXPECT_EQ(PlatResolvePath(Engine("Data\\aBc.txt").c_str(), &strNative), 0);
    EXPECT_EQ(strNative, Native("Data/ABC.txt"));

    WriteNativeFile(Native("Data/New.TXT"), "new");
    EXPECT_EQ(PlatResolvePath(Engine("Data\\new.txt").c_str(), &strNative), 0);
    EXPECT_EQ(strNative, Native("Data/New.TXT"));
    BackdateFolder(Native("Data"), 0);
    EXPECT_EQ(PlatResolvePath(Engine("Data\\NEW.txt").c_str(), &strNative), 0);

    ASSERT_EQ(unlink(Native("Data/ABC.txt").c_str()), 0);
    BackdateFolder(Native("Data"), 10);
    EXPECT_EQ(PlatResolvePath(Engine("Data\\aBc.txt").c_str(), &strNative), 0);
    EXPECT_EQ(strNative, Native("Data/abc.txt"));
    ASSERT_EQ(unlink(Native("Data/New.TXT").c_str()), 0);
    BackdateFolder(Native("Data"), 20);
    EXPECT_EQ(PlatResolvePath(Engine("Data\\NEW.txt").c_str(), &strNative), -1);
}

TEST_F(PlatFileTest, OpenReadWriteSeekAndStat)
{
    std::string strPath = Engine("Save.DAT");
    PLAT_FILE* pFile = PlatFileOpen(strPath.c_str(), PLAT_FILE_READ);
    EXPECT_EQ(pFile, nullptr);   // missing files do not open for reading

    pFile = PlatFileOpen(strPath.c_str(), PLAT_FILE_WRITE);
    ASSERT_NE(pFile, nullptr);
    EXPECT_EQ(PlatFileWrite(pFile, "0123456789", 10), 10);
    EXPECT_EQ(PlatFileSize(pFile), 10);
    EXPECT_EQ(PlatFileClose(pFile), 0);

    pFile = PlatFileOpen(Engine("save.dat").c_str(), PLAT_FILE_READWRITE);
    ASSERT_NE(pFile, nullptr);
    char buf[8] = {};
    EXPECT_EQ(PlatFileSeek(pFile, -4, PLAT_SEEK_END), 6);
    EXPECT_EQ(PlatFileRead(pFile, buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "67");
    EXPECT_EQ(PlatFileWrite(pFile, "xy", 2), 2);   // a write right after a read lands at the position
    EXPECT_EQ(PlatFileTell(pFile), 10);
    EXPECT_EQ(PlatFileRead(pFile, buf, 8), 0);
    EXPECT_EQ(PlatFileSeek(pFile, -1, PLAT_SEEK_SET), -1);
    EXPECT_EQ(PlatFileClose(pFile), 0);
    EXPECT_EQ(ReadNativeFile(Native("Save.DAT")), "01234567xy");

    pFile = PlatFileOpen(Engine("SAVE.dat").c_str(), PLAT_FILE_APPEND);
    ASSERT_NE(pFile, nullptr);
    EXPECT_EQ(PlatFileWrite(pFile, "!", 1), 1);
    EXPECT_EQ(PlatFileClose(pFile), 0);
    EXPECT_EQ(ReadNativeFile(Native("Save.DAT")), "01234567xy!");

    PLAT_FILE_STAT st;
    ASSERT_EQ(PlatFileStat(Engine("save.DAT").c_str(), &st), 0);
    EXPECT_EQ(st.bExists, 1);
    EXPECT_EQ(st.bIsDir, 0);
    EXPECT_EQ(st.nSize, 11);
    EXPECT_GT(st.nModifiedTime, 0);
    ASSERT_EQ(PlatFileStat(Engine("nothing").c_str(), &st), 0);
    EXPECT_EQ(st.bExists, 0);
    EXPECT_EQ(PlatFileOpen(EngineForm(m_strDir).c_str(), PLAT_FILE_READ), nullptr);   // a folder is no file
}

TEST_F(PlatFileTest, ListsSortedByCp932BytesAndLeavesOutUnrepresentableNames)
{
    // In UTF-8 the kanji sorts before the half-width katakana; in cp932 (E5 41 against B1) after it.
    const char* apszNames[] = {"b.txt", "A.txt", "蘂.txt", "ｱ.txt", "ア.txt", "é.txt", "😀.txt", "‖.txt", "back\\slash"};
    for (const char* pszName : apszNames) WriteNativeFile(Native(pszName), "12345");
    ASSERT_EQ(mkdir(Native("Sub").c_str(), 0755), 0);

    std::vector<PLAT_DIR_ENTRY> aEntries;
    ASSERT_EQ(PlatListDir(EngineForm(m_strDir).c_str(), &aEntries), 0);
    std::vector<std::string> aNames;
    for (const PLAT_DIR_ENTRY& e : aEntries) aNames.push_back(e.strName);
    const std::vector<std::string> aExpect = {"A.txt", "Sub", "b.txt", "\x83\x41.txt", "\xB1.txt", "\xE5\x41.txt"};
    EXPECT_EQ(aNames, aExpect);
    ASSERT_EQ(aEntries.size(), aExpect.size());
    EXPECT_EQ(aEntries[0].nSize, 5);
    EXPECT_EQ(aEntries[0].bIsDir, 0);
    EXPECT_EQ(aEntries[1].bIsDir, 1);
    EXPECT_EQ(PlatListDir(Engine("missing").c_str(), &aEntries), -1);
    EXPECT_TRUE(aEntries.empty());
}

TEST_F(PlatFileTest, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile)
{
    std::string strPath = Engine(COVER_932 ".sav");
    ASSERT_EQ(PlatWriteFileAtomic(strPath.c_str(), "first", 5), 0);
    EXPECT_EQ(ReadNativeFile(Native("表紙.sav")), "first");
    ASSERT_EQ(chmod(Native("表紙.sav").c_str(), 0600), 0);

    std::string strBig(300000, 'z');
    ASSERT_EQ(PlatWriteFileAtomic(Engine(COVER_932 ".SAV").c_str(), strBig.data(), strBig.size()), 0);
    EXPECT_EQ(ReadNativeFile(Native("表紙.sav")), strBig);   // the existing name, whatever the case asked
    struct stat st;
    ASSERT_EQ(stat(Native("表紙.sav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);   // the target keeps its permissions

    EXPECT_EQ(PlatWriteFileAtomic(Engine("nofolder\\x.sav").c_str(), "x", 1), -1);
    ASSERT_EQ(mkdir(Native("dir.sav").c_str(), 0755), 0);
    EXPECT_EQ(PlatWriteFileAtomic(Engine("dir.sav").c_str(), "x", 1), -1);

    DIR* pDir = opendir(m_strDir.c_str());
    ASSERT_NE(pDir, nullptr);
    int nEntries = 0;
    while (struct dirent* pEnt = readdir(pDir))
        if (strcmp(pEnt->d_name, ".") && strcmp(pEnt->d_name, "..")) nEntries++;
    closedir(pDir);
    EXPECT_EQ(nEntries, 2);   // the file and the folder, no leftovers
}

// The names in the test folder that start with the writer's temporary prefix.
static std::vector<std::string> TemporaryNames(const std::string& strDir)
{
    std::vector<std::string> names;
    if (DIR* pDir = opendir(strDir.c_str())) {
        while (struct dirent* pEnt = readdir(pDir))
            if (strncmp(pEnt->d_name, ".kxtmp", 6) == 0) names.push_back(pEnt->d_name);
        closedir(pDir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A failed write leaves the old file as it was and says why through errno: a read-only file
// (refused by its mode, also for root), a full disk (the test switch), a folder that is missing.
TEST_F(PlatFileTest, AtomicWriteFailuresKeepTheOldFileAndTellTheError)
{
    WriteNativeFile(Native("ro.sav"), "old");
    ASSERT_EQ(chmod(Native("ro.sav").c_str(), 0444), 0);
    errno = 0;
    EXPECT_EQ(PlatWriteFileAtomic(Engine("ro.sav").c_str(), "new", 3), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(ReadNativeFile(Native("ro.sav")), "old");
    struct stat st;
    ASSERT_EQ(stat(Native("ro.sav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);

    WriteNativeFile(Native("full.sav"), "old content");
    const std::string strBig(100000, 'n');
    for (const char* pszFault : {"enospc@0", "enospc@5000", "enospc@99999", "enospc@0,full.sav"}) {
        setenv("KOLVEX_WRITE_FAULT", pszFault, 1);
        errno = 0;
        EXPECT_EQ(PlatWriteFileAtomic(Engine("full.sav").c_str(), strBig.data(), strBig.size()), -1) << pszFault;
        EXPECT_EQ(errno, ENOSPC) << pszFault;
        EXPECT_EQ(ReadNativeFile(Native("full.sav")), "old content") << pszFault;
    }
    // A fault for another file's name, or after the last byte, leaves this write alone.
    for (const char* pszFault : {"enospc@0,other.sav", "enospc@100000"}) {
        setenv("KOLVEX_WRITE_FAULT", pszFault, 1);
        EXPECT_EQ(PlatWriteFileAtomic(Engine("full.sav").c_str(), strBig.data(), strBig.size()), 0) << pszFault;
        EXPECT_EQ(ReadNativeFile(Native("full.sav")), strBig) << pszFault;
    }
    unsetenv("KOLVEX_WRITE_FAULT");

    errno = 0;
    EXPECT_EQ(PlatWriteHostFileAtomic(Native("missing/x.png").c_str(), "x", 1), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(TemporaryNames(m_strDir).empty());
}

// A rewrite keeps the mode the owner gave the file; a new file gets the mode less the file mask;
// a symbolic link stays a link and its file gets the content.
TEST_F(PlatFileTest, AtomicWriteKeepsModesAndLinks)
{
    WriteNativeFile(Native("a.txt"), "old");
    ASSERT_EQ(chmod(Native("a.txt").c_str(), 0644), 0);
    ASSERT_EQ(PlatWriteFileAtomic(Engine("a.txt").c_str(), "new", 3), 0);
    struct stat st;
    ASSERT_EQ(stat(Native("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    const mode_t old = umask(027);
    ASSERT_EQ(PlatWriteNativeFileAtomic(Native("b.reg"), "b", 1, 0600), 0);
    ASSERT_EQ(PlatWriteFileAtomic(Engine("c.txt").c_str(), "c", 1), 0);
    umask(old);
    ASSERT_EQ(stat(Native("b.reg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(Native("c.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    ASSERT_EQ(symlink("a.txt", Native("link.txt").c_str()), 0);
    ASSERT_EQ(PlatWriteFileAtomic(Engine("link.txt").c_str(), "through", 7), 0);
    ASSERT_EQ(lstat(Native("link.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadNativeFile(Native("a.txt")), "through");
}

// The first write into a folder removes the temporaries of writers that are gone (a process id
// that no longer runs; the older form without an id, from before this process) and leaves a
// live writer's alone. The temporaries are made by a child process that the test switch kills.
TEST_F(PlatFileTest, AtomicWriteSweepsTemporariesOfDeadWriters)
{
    // A writer killed inside its write leaves exactly its temporary, and the old file.
    WriteNativeFile(Native("k.sav"), "old");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("KOLVEX_WRITE_FAULT", "kill@3", 1);
        PlatWriteHostFileAtomic(Native("k.sav").c_str(), "new content", 11);
        _exit(0);
    }
    int nStatus = 0;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(nStatus));
    EXPECT_EQ(WTERMSIG(nStatus), SIGKILL);
    EXPECT_EQ(ReadNativeFile(Native("k.sav")), "old");
    const std::vector<std::string> left = TemporaryNames(m_strDir);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind(".kxtmp-" + std::to_string(pid) + "-", 0), 0u) << left[0];
    EXPECT_EQ(ReadNativeFile(Native(left[0])), "new");

    const std::string strLive = ".kxtmp-" + std::to_string(getppid()) + "-AAAAAA";
    WriteNativeFile(Native(strLive), "a live writer's");
    WriteNativeFile(Native(".kxtmpB1b2C3"), "an older writer's");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Native(".kxtmpB1b2C3").c_str(), times, 0), 0);
    WriteNativeFile(Native(".kxtmp-999999999-CCCCCC"), "a dead writer's");
    WriteNativeFile(Native(".kxtmpnot-a-temporary.txt"), "not ours");
    ASSERT_EQ(PlatWriteFileAtomic(Engine("other.sav").c_str(), "x", 1), 0);
    EXPECT_EQ(TemporaryNames(m_strDir), (std::vector<std::string>{strLive, ".kxtmpnot-a-temporary.txt"}));
}

TEST_F(PlatFileTest, CopyRenameDeleteAndFolders)
{
    WriteNativeFile(Native("Src.txt"), "data");
    EXPECT_EQ(PlatFileCopy(Engine("src.TXT").c_str(), Engine("copy.txt").c_str(), 1), 0);
    EXPECT_EQ(ReadNativeFile(Native("copy.txt")), "data");
    EXPECT_EQ(PlatFileCopy(Engine("src.txt").c_str(), Engine("COPY.txt").c_str(), 1), -1);
    WriteNativeFile(Native("copy.txt"), "old");
    EXPECT_EQ(PlatFileCopy(Engine("src.txt").c_str(), Engine("COPY.txt").c_str(), 0), 0);
    EXPECT_EQ(ReadNativeFile(Native("copy.txt")), "data");
    EXPECT_EQ(PlatFileCopy(Engine("src.txt").c_str(), Engine("SRC.txt").c_str(), 0), 0);   // onto itself
    EXPECT_EQ(ReadNativeFile(Native("Src.txt")), "data");
    EXPECT_EQ(PlatFileCopy(Engine("none.txt").c_str(), Engine("x.txt").c_str(), 0), -1);

    WriteNativeFile(Native("target.txt"), "replaced");
    EXPECT_EQ(PlatFileRename(Engine("COPY.TXT").c_str(), Engine("Target.txt").c_str()), 0);
    EXPECT_EQ(ReadNativeFile(Native("target.txt")), "data");
    EXPECT_EQ(access(Native("copy.txt").c_str(), F_OK), -1);
    EXPECT_EQ(PlatFileRename(Engine("target.txt").c_str(), Engine("TARGET.txt").c_str()), 0);   // case only
    EXPECT_EQ(ReadNativeFile(Native("TARGET.txt")), "data");

    EXPECT_EQ(PlatFileDelete(Engine("target.TXT").c_str()), 0);
    EXPECT_EQ(access(Native("TARGET.txt").c_str(), F_OK), -1);
    EXPECT_EQ(PlatFileDelete(Engine("target.txt").c_str()), -1);

    ASSERT_EQ(mkdir(Native("Save").c_str(), 0755), 0);
    EXPECT_EQ(PlatMakeDirs(Engine("SAVE\\a\\" SOURCE_932 "\\c").c_str()), 0);
    struct stat st;
    EXPECT_EQ(stat(Native("Save/a/ソース/c").c_str(), &st), 0);
    EXPECT_EQ(PlatMakeDir(Engine("save\\a").c_str()), 0);   // already there
    EXPECT_EQ(PlatMakeDirs(Engine("src.txt\\sub").c_str()), -1);
    EXPECT_EQ(PlatRemoveDir(Engine("save\\a").c_str()), -1);   // not empty
    EXPECT_EQ(PlatRemoveDir(Engine("save\\A\\" SOURCE_932 "\\C").c_str()), 0);
    EXPECT_EQ(PlatFileDelete(Engine("save").c_str()), -1);     // folders are not files
    EXPECT_EQ(PlatRemoveDir("\\"), -1);
}

}  // namespace
