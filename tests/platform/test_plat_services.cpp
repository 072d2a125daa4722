// The registry store, the dialogs (hook, headless default, missing and fake zenity), the clipboard,
// opening with the associated program, disk space and the administrator test.
#include "platform/plat_clipboard.h"
#include "platform/plat_dialog.h"
#include "platform/plat_process.h"
#include "platform/plat_registry.h"
#include "platform/plat_sysinfo.h"
#include "tests/platform/plat_test_util.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string ReadAll(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class RegistryStore : public ::testing::Test {
protected:
    std::string strDir, strPath;
    void SetUp() override
    {
        strDir = MakeTempFolder();
        strPath = strDir + "/sub/registry.reg";
        PlatSetRegistryPathForTest(strPath.c_str());
    }
    void TearDown() override
    {
        PlatSetRegistryPathForTest(nullptr);
        RemoveTree(strDir);
    }
    std::string Query(const char* pszKey, const char* pszName, int* pnType = nullptr)
    {
        char buf[64] = {};
        size_t n = 0;
        if (PlatRegQueryValue("HKEY_CURRENT_USER", pszKey, pszName, buf, sizeof buf, &n, pnType) != 0) return "<none>";
        return std::string(buf, n);
    }
};

TEST_F(RegistryStore, RoundTripOfTextsNumbersAndBinaryKeepsCaseAndEscapes)
{
    const uint32_t dw = 0x0A0B0C0D;
    const char abBin[] = {1, 2, 0, (char)0xFF};
    const char* pszText = "C:\\Games\\\"x\" \x83\x5C";   // a quote, backslashes, a trail byte 0x5C
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Path", PLAT_REG_SZ, pszText, strlen(pszText)), 0);
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Count", PLAT_REG_DWORD, &dw, 4), 0);
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Bin", PLAT_REG_BINARY, abBin, 4), 0);
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", nullptr, PLAT_REG_SZ, "def", 3), 0);
    const std::string strFile = ReadAll(strPath);
    EXPECT_EQ(strFile.compare(0, 10, "REGEDIT4\r\n"), 0);
    EXPECT_NE(strFile.find("\"Count\"=dword:0a0b0c0d"), std::string::npos);
    EXPECT_NE(strFile.find("\"Bin\"=hex:01,02,00,ff"), std::string::npos);
    EXPECT_NE(strFile.find("@=\"def\""), std::string::npos);

    int nType = 0;
    EXPECT_EQ(Query("software\\KX", "path", &nType), std::string(pszText) + '\0');   // case-blind
    EXPECT_EQ(nType, PLAT_REG_SZ);
    EXPECT_EQ(Query("Software\\Kx", "Count", &nType), std::string("\x0D\x0C\x0B\x0A", 4));
    EXPECT_EQ(nType, PLAT_REG_DWORD);
    EXPECT_EQ(Query("Software\\Kx", "Bin"), std::string(abBin, 4));
    EXPECT_EQ(Query("Software\\Kx", ""), std::string("def", 4));
    EXPECT_EQ(Query("Software\\Other", "Path"), "<none>");
    EXPECT_EQ(PlatRegKeyExists("HKEY_CURRENT_USER", "Software"), 1);   // a key with keys below it
    EXPECT_EQ(PlatRegKeyExists("HKEY_LOCAL_MACHINE", "Software\\Kx"), 0);

    char small[4];
    size_t n = 0;
    EXPECT_EQ(PlatRegQueryValue("HKEY_CURRENT_USER", "Software\\Kx", "Path", small, sizeof small, &n, nullptr), -2);
    EXPECT_EQ(n, strlen(pszText) + 1);
}

TEST_F(RegistryStore, DeletesValuesAndLeafKeysOnly)
{
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "A", "v", PLAT_REG_SZ, "1", 1), 0);
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "A\\B", "w", PLAT_REG_SZ, "2", 1), 0);
    EXPECT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "A", "missing"), -1);
    EXPECT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "a", "V"), 0);
    EXPECT_EQ(Query("A", "v"), "<none>");
    EXPECT_EQ(PlatRegDeleteKey("HKEY_CURRENT_USER", "A"), -1);   // a key below it
    EXPECT_EQ(PlatRegDeleteKey("HKEY_CURRENT_USER", "A\\B"), 0);
    EXPECT_EQ(PlatRegDeleteKey("HKEY_CURRENT_USER", "A"), 0);
    EXPECT_EQ(PlatRegDeleteKey("HKEY_CURRENT_USER", "A"), -1);
    EXPECT_EQ(PlatRegKeyExists("HKEY_CURRENT_USER", "A"), 0);
}

TEST_F(RegistryStore, DamagedStoresAreReadAsFarAsValid)
{
    mkdir((strDir + "/sub").c_str(), 0700);
    static const char kWithNul[] = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\0\"b\"=\"2\"\n";
    struct DAMAGED_CASE {
        std::string strText;
        const char* pszFirst;    // value "a" of [HKEY_CURRENT_USER\K] as read
        const char* pszSecond;   // value "b"
    };
    const DAMAGED_CASE aCases[] = {
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\"b\"=\"2\"\n", "1", "2"},
        {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"a\"=\"1\"\r\ngarbage\r\n\"b\"=\"2\"\r\n", "1", "2"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\n\"b\"=\"2\"\n", "<none>", "2"},   // open quote
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\"b\"=dword:123456789\n", "1", "<none>"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\"b\"=hex:0\n", "1", "<none>"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\"b\"=hex:01,\\\n", "1", "<none>"},   // continuation at the end
        {"REGEDIT4\n\"a\"=\"1\"\n", "<none>", "<none>"},                                     // value before any key
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K\n\"a\"=\"1\"\n", "<none>", "<none>"},
        {std::string(kWithNul, sizeof kWithNul - 1), "1", "2"},                              // zeros dropped
        {"Windows 3.1\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n", "1", "<none>"},
        {"", "<none>", "<none>"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex(2):41,42,\\\n  43\n\"b\"=\"\x83", "ABC", "<none>"},
        // A damaged continuation does not swallow the key line after it.
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex:01,zz,\\\n[HKEY_CURRENT_USER\\K]\n\"b\"=\"2\"\n", "<none>", "2"},
        // Values after a damaged key line belong to no key.
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n[-HKEY_CURRENT_USER\\K]\n\"b\"=\"2\"\n", "1", "<none>"},
        // Type numbers up to 32 bits.
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex(80000000):31\n\"b\"=hex(ffffffff):32\n", "1", "2"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex(100000000):31\n\"b\"=\"2\"\n", "<none>", "2"},
    };
    for (const DAMAGED_CASE& c : aCases) {
        WriteNativeFile(strPath, c.strText);
        std::string a = Query("K", "a"), b = Query("K", "b");
        if (a != "<none>" && !a.empty() && a.back() == '\0') a.pop_back();
        if (b != "<none>" && !b.empty() && b.back() == '\0') b.pop_back();
        EXPECT_EQ(a, c.pszFirst) << c.strText;
        EXPECT_EQ(b, c.pszSecond) << c.strText;
    }
    // A change to a damaged store keeps the damaged file beside the rewritten one.
    std::remove((strPath + ".damaged").c_str());
    for (int k = 1; k < 10; ++k) std::remove((strPath + ".damaged." + std::to_string(k)).c_str());
    WriteNativeFile(strPath, "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\nbroken\n\"b\"=\"2\"\n");
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "K", "c", PLAT_REG_SZ, "3", 1), 0);
    EXPECT_NE(ReadAll(strPath + ".damaged").find("broken"), std::string::npos);
    EXPECT_EQ(Query("K", "a"), std::string("1", 2));
    EXPECT_EQ(Query("K", "c"), std::string("3", 2));
}

// Texts held as hex (NUL, line breaks, a last lead byte) and every other value survive any number
// of rewrites, and the values after them too.
TEST_F(RegistryStore, RewritesReadBackEveryValue)
{
    mkdir((strDir + "/sub").c_str(), 0700);
    struct TEXT_CASE {
        const char* pszName;
        std::string strData;   // the text's bytes, without a terminator
    };
    const TEXT_CASE aCases[] = {
        {"nul", std::string("a\0b", 3)},
        {"crlf", "one\r\ntwo"},
        {"lf", "\n"},
        {"cr", "x\r"},
        {"lead", "end \x83"},
        {"lead only", "\x83"},
        {"quote after lead", "\x83\"\\"},
        {"plain", "C:\\x \"y\""},
    };
    static const char kHex[] = "0123456789abcdef";
    std::string strStore = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n";
    for (const TEXT_CASE& c : aCases) {
        strStore += std::string("\"") + c.pszName + "\"=hex(1):";
        for (size_t i = 0; i < c.strData.size(); ++i) {
            if (i) strStore += ",";
            strStore += kHex[(unsigned char)c.strData[i] >> 4];
            strStore += kHex[(unsigned char)c.strData[i] & 15];
        }
        strStore += "\r\n";
    }
    strStore += "\"type\"=hex(fffffffe):01\r\n\"victim\"=\"v\"\r\n\"last\"=\"after them\"\r\n";
    WriteNativeFile(strPath, strStore);
    auto expect = [&](int nRound) {
        for (const TEXT_CASE& c : aCases) {
            int nType = 0;
            EXPECT_EQ(Query("K", c.pszName, &nType), c.strData + '\0') << c.pszName << " round " << nRound;
            EXPECT_EQ(nType, PLAT_REG_SZ) << c.pszName;
        }
        int nType = 0;
        EXPECT_EQ(Query("K", "type", &nType), "\x01");
        EXPECT_EQ(nType, (int)0xfffffffeu);
        EXPECT_EQ(Query("K", "last"), std::string("after them", 11)) << nRound;
    };
    expect(0);
    ASSERT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "K", "victim"), 0);   // a rewrite
    expect(1);
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "K", "set", PLAT_REG_SZ, "a\r\nb\x83", 5), 0);
    EXPECT_EQ(Query("K", "set"), std::string("a\r\nb\x83", 6));
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "K2", "v", PLAT_REG_SZ, "1", 1), 0);   // another rewrite
    expect(2);
    EXPECT_EQ(Query("K", "set"), std::string("a\r\nb\x83", 6));
    struct stat sb;
    EXPECT_NE(stat((strPath + ".damaged").c_str(), &sb), 0);   // never damaged

    // Names the store's lines could not give back are refused, and nothing is written.
    const std::string strBefore = ReadAll(strPath);
    const struct { const char* pszKey; const char* pszName; } aRefused[] = {
        {"K\nX", "v"}, {"K\rX", "v"}, {"K", "a\nb"}, {"K", "a\rb"},
    };
    for (const auto& r : aRefused) {
        EXPECT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", r.pszKey, r.pszName, PLAT_REG_SZ, "1", 1), -1) << r.pszName;
    }
    EXPECT_EQ(PlatRegSetValue("", "", "v", PLAT_REG_SZ, "1", 1), -1);   // no key path at all
    EXPECT_EQ(ReadAll(strPath), strBefore);
}

// A name or text ending in a lone lead byte (an escape in the file makes one) is written back with
// its escape: a rewrite keeps every value, and no line of the store's own form reads as damaged.
TEST_F(RegistryStore, NamesEndingInALeadByteSurviveRewrites)
{
    mkdir((strDir + "/sub").c_str(), 0700);
    const std::string strStore = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n"
                                 "\"\\\x83\"=\"lead only\"\r\n"
                                 "\"ends \\\x81\"=\"text \\\x81\"\r\n"
                                 "\"pair \x83\\\"=\"\\\x83\\\\\"\r\n"
                                 "\"victim\"=\"v\"\r\n"
                                 "\"last\"=\"after them\"\r\n";
    WriteNativeFile(strPath, strStore);
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "K", "set \x83", PLAT_REG_SZ, "x\x83", 2), 0);
    auto expect = [&](int nRound) {
        EXPECT_EQ(Query("K", "\x83"), std::string("lead only", 10)) << nRound;
        EXPECT_EQ(Query("K", "ends \x81"), std::string("text \x81", 7)) << nRound;
        EXPECT_EQ(Query("K", "pair \x83\\"), std::string("\x83\\", 3)) << nRound;
        EXPECT_EQ(Query("K", "set \x83"), std::string("x\x83", 3)) << nRound;
        EXPECT_EQ(Query("K", "last"), std::string("after them", 11)) << nRound;
    };
    expect(0);
    ASSERT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "K", "victim"), 0);   // a rewrite
    expect(1);
    const std::string strOwn = ReadAll(strPath);
    EXPECT_EQ(PlatRegListForTest(PlatRegRewriteForTest(strOwn)), PlatRegListForTest(strOwn));
    EXPECT_EQ(PlatRegRewriteForTest(strOwn), strOwn);   // the store's own form is its rewrite
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "K2", "v", PLAT_REG_SZ, "1", 1), 0);   // another rewrite
    expect(2);
    struct stat sb;
    EXPECT_NE(stat((strPath + ".damaged").c_str(), &sb), 0);   // no rewrite made a damaged line
}

// A store that cannot be read whole is kept beside it as soon as it is read, each different damaged
// store once.
TEST_F(RegistryStore, DamagedStoresAreKeptWhenRead)
{
    mkdir((strDir + "/sub").c_str(), 0700);
    const std::string strFirst = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\nbroken one\n\"a\"=\"1\"\n";
    const std::string strSecond = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\nbroken two\n\"a\"=\"2\"\n";
    WriteNativeFile(strPath, strFirst);
    EXPECT_EQ(Query("K", "a"), std::string("1", 2));
    EXPECT_EQ(ReadAll(strPath + ".damaged"), strFirst);
    EXPECT_EQ(Query("K", "a"), std::string("1", 2));
    WriteNativeFile(strPath, strSecond);
    EXPECT_EQ(Query("K", "a"), std::string("2", 2));
    EXPECT_EQ(ReadAll(strPath + ".damaged"), strFirst);
    EXPECT_EQ(ReadAll(strPath + ".damaged.1"), strSecond);
    struct stat sb;
    EXPECT_NE(stat((strPath + ".damaged.2").c_str(), &sb), 0);
    // The rewrite repairs the store: no further copies.
    ASSERT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "K", "a"), 0);
    EXPECT_EQ(Query("K", "a"), "<none>");
    EXPECT_NE(stat((strPath + ".damaged.2").c_str(), &sb), 0);
}

// A damaged store whose copy cannot be written is not rewritten: the change fails with the
// system's error (-2), the store keeps every byte, and once the copy can be made the change goes
// through. A store that cannot be written reports -2 and keeps its bytes; a rewrite keeps its mode.
TEST_F(RegistryStore, TheDamagedStoreIsNeverRewrittenWithoutItsCopy)
{
    mkdir((strDir + "/sub").c_str(), 0700);
    const std::string strDamaged = "REGEDIT4\r\n[HKEY_CURRENT_USER\\K]\r\nbroken\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n";
    WriteNativeFile(strPath, strDamaged);
    ASSERT_EQ(chmod(strPath.c_str(), 0644), 0);
    struct stat sb;
    setenv("KOLVEX_WRITE_FAULT", "enospc@5,registry.reg.damaged", 1);
    errno = 0;
    EXPECT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "K", "a"), -2);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "K", "c", PLAT_REG_SZ, "3", 1), -2);
    EXPECT_EQ(PlatRegDeleteKey("HKEY_CURRENT_USER", "K"), -2);
    unsetenv("KOLVEX_WRITE_FAULT");
    EXPECT_EQ(ReadAll(strPath), strDamaged);
    EXPECT_NE(stat((strPath + ".damaged").c_str(), &sb), 0);

    ASSERT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "K", "a"), 0);
    EXPECT_EQ(ReadAll(strPath + ".damaged"), strDamaged);
    EXPECT_EQ(Query("K", "a"), "<none>");
    EXPECT_EQ(Query("K", "b"), std::string("2", 2));
    ASSERT_EQ(stat(strPath.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 07777, 0644u);

    const std::string strBefore = ReadAll(strPath);
    setenv("KOLVEX_WRITE_FAULT", "enospc@0,registry.reg", 1);
    errno = 0;
    EXPECT_EQ(PlatRegDeleteValue("HKEY_CURRENT_USER", "K", "b"), -2);
    EXPECT_EQ(errno, ENOSPC);
    unsetenv("KOLVEX_WRITE_FAULT");
    EXPECT_EQ(ReadAll(strPath), strBefore);
    ASSERT_EQ(chmod(strPath.c_str(), 0444), 0);
    EXPECT_EQ(PlatRegDeleteKey("HKEY_CURRENT_USER", "K"), -2);   // a read-only store
    EXPECT_EQ(ReadAll(strPath), strBefore);
}

// ---- Dialogs ----

struct DIALOG_ANSWER {
    int nResult;
    std::string strText;
    PLAT_DIALOG_REQUEST seen{};
    std::string strSeenCaption;
};
int AnswerDialog(const PLAT_DIALOG_REQUEST* pReq, std::string* pOut, void* pUser)
{
    DIALOG_ANSWER* p = static_cast<DIALOG_ANSWER*>(pUser);
    p->seen = *pReq;
    p->strSeenCaption = pReq->pszCaption ? pReq->pszCaption : "";
    *pOut = p->strText;
    return p->nResult;
}

// Sets environment variables for one test and puts them back.
struct ENV_GUARD {
    std::vector<std::pair<std::string, std::string>> saved;
    std::vector<std::string> unset;
    void Set(const char* pszName, const char* pszValue)
    {
        const char* pszOld = getenv(pszName);
        if (pszOld) saved.emplace_back(pszName, pszOld);
        else unset.push_back(pszName);
        if (pszValue) setenv(pszName, pszValue, 1);
        else unsetenv(pszName);
    }
    ~ENV_GUARD()
    {
        for (auto& kv : saved) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        for (auto& s : unset) unsetenv(s.c_str());
    }
};

TEST(PlatDialog, HookAnswersAndTheByteLimitKeepsWholeCharacters)
{
    DIALOG_ANSWER ans{1, "ab\x82\xA0\x82\xA2", {}, {}};
    PlatSetDialogHook(AnswerDialog, &ans);
    PLAT_DIALOG_REQUEST req{PLAT_DLG_INPUT, "cap", "msg", "init", 5, nullptr, nullptr};
    std::string out;
    EXPECT_EQ(PlatShowDialog(&req, &out), 1);
    EXPECT_EQ(out, "ab\x82\xA0");   // the second character would pass the limit of 5 bytes
    EXPECT_EQ(ans.strSeenCaption, "cap");
    ans.nResult = 0;
    EXPECT_EQ(PlatShowDialog(&req, &out), 0);
    EXPECT_EQ(out, "");
    PlatSetDialogHook(nullptr, nullptr);
}

TEST(PlatDialog, HeadlessAnswersTheDefaultAndMissingZenityCancels)
{
    ENV_GUARD env;
    env.Set("SDL_VIDEODRIVER", "dummy");
    std::string out;
    PLAT_DIALOG_REQUEST input{PLAT_DLG_INPUT, "cap", "msg", "init", 0, nullptr, nullptr};
    PLAT_DIALOG_REQUEST save{PLAT_DLG_SAVE_FILE, "cap", nullptr, "a.png", 0, "PNG File(*.png)", "*.png"};
    EXPECT_EQ(PlatShowDialog(&input, &out), 1);
    EXPECT_EQ(out, "init");
    EXPECT_EQ(PlatShowDialog(&save, &out), 0);

    env.Set("SDL_VIDEODRIVER", nullptr);
    env.Set("DISPLAY", ":97");
    env.Set("KOLVEX_ZENITY", "/nonexistent/zenity");
    EXPECT_EQ(PlatShowDialog(&input, &out), 0);
    EXPECT_EQ(out, "");
}

TEST(PlatDialog, ZenityGetsAnArgumentVectorAndItsAnswerIsConverted)
{
    const std::string strDir = MakeTempFolder();
    const std::string strFake = strDir + "/zenity";
    const std::string strLog = strDir + "/args.txt";
    // A stand-in for zenity: records its arguments, answers by the first one.
    WriteNativeFile(strFake, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + strLog +
                                 "'\ncase \"$1\" in\n--entry) printf 'caf\\303\\251\\n';;\n"
                                 "--text-info) printf 'l1\\nl2\\n';;\n"
                                 "--file-selection) exit 1;;\nesac\nexit 0\n");
    chmod(strFake.c_str(), 0755);
    ENV_GUARD env;
    env.Set("SDL_VIDEODRIVER", nullptr);
    env.Set("DISPLAY", ":97");
    env.Set("KOLVEX_ZENITY", strFake.c_str());

    std::string out;
    PLAT_DIALOG_REQUEST input{PLAT_DLG_INPUT, "T", "M; $(rm -rf x)", "i n", 0, nullptr, nullptr};
    EXPECT_EQ(PlatShowDialog(&input, &out), 1);
    EXPECT_EQ(out, "caf?");   // é has no cp932 form
    EXPECT_EQ(ReadAll(strLog), "--entry\n--text=M; $(rm -rf x)\n--entry-text=i n\n--title=T\n");

    PLAT_DIALOG_REQUEST edit{PLAT_DLG_EDIT, "E", nullptr, "x\r\ny", 0, nullptr, nullptr};
    EXPECT_EQ(PlatShowDialog(&edit, &out), 1);
    EXPECT_EQ(out, "l1\r\nl2\r\n");

    PLAT_DIALOG_REQUEST save{PLAT_DLG_SAVE_FILE, "S", nullptr, "a.png", 0, "PNG File(*.png)", "*.png"};
    EXPECT_EQ(PlatShowDialog(&save, &out), 0);   // zenity's cancel
    EXPECT_NE(ReadAll(strLog).find("--file-filter=PNG File(*.png) | *.png"), std::string::npos);
    RemoveTree(strDir);
}

TEST(PlatClipboard, ProcessClipboardRoundTripsCp932)
{
    PlatClearClipboardForTest();
    std::string out;
    EXPECT_EQ(PlatGetClipboardText(&out), -1);
    ASSERT_EQ(PlatSetClipboardText("a\t\x82\xA0"), 0);
    ASSERT_EQ(PlatGetClipboardText(&out), 0);
    EXPECT_EQ(out, "a\t\x82\xA0");
    PlatClearClipboardForTest();
}

TEST(PlatSysinfo, DiskFreeAndAdminTest)
{
    EXPECT_GT(PlatGetDiskFreeBytes("."), 0);
    EXPECT_GT(PlatGetDiskFreeBytes("no\\such\\folder"), 0);   // the volume of the nearest folder
    PlatSetUserAdminForTest(1);
    EXPECT_EQ(PlatIsUserAdmin(), 1);
    PlatSetUserAdminForTest(0);
    EXPECT_EQ(PlatIsUserAdmin(), 0);
    PlatSetUserAdminForTest(-1);
    EXPECT_EQ(PlatIsUserAdmin(), geteuid() == 0 ? 1 : 0);
}

}  // namespace
