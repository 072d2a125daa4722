// The registry store, the dialogs (hook, headless default, missing and fake zenity), the clipboard,
// opening with the associated program, disk space and the administrator test.
#include "platform/plat_clipboard.h"
#include "platform/plat_dialog.h"
#include "platform/plat_process.h"
#include "platform/plat_registry.h"
#include "platform/plat_sysinfo.h"
#include "tests/platform/plat_test_util.h"

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
        {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"a\"=\"1\"\r\ngarbage\r\n\"b\"=\"2\"\r\n", "1", "<none>"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\n\"b\"=\"2\"\n", "<none>", "<none>"},   // open quote
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\"b\"=dword:123456789\n", "1", "<none>"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\"b\"=hex:0\n", "1", "<none>"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n\"b\"=hex:01,\\\n", "1", "<none>"},   // continuation at the end
        {"REGEDIT4\n\"a\"=\"1\"\n", "<none>", "<none>"},                                     // value before any key
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K\n\"a\"=\"1\"\n", "<none>", "<none>"},
        {std::string(kWithNul, sizeof kWithNul - 1), "1", "<none>"},
        {"Windows 3.1\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\n", "<none>", "<none>"},
        {"", "<none>", "<none>"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=hex(2):41,42,\\\n  43\n\"b\"=\"\x83", "ABC", "<none>"},
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
    WriteNativeFile(strPath, "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"1\"\nbroken\n\"b\"=\"2\"\n");
    ASSERT_EQ(PlatRegSetValue("HKEY_CURRENT_USER", "K", "c", PLAT_REG_SZ, "3", 1), 0);
    EXPECT_NE(ReadAll(strPath + ".damaged").find("broken"), std::string::npos);
    EXPECT_EQ(Query("K", "a"), std::string("1", 2));
    EXPECT_EQ(Query("K", "c"), std::string("3", 2));
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
    DIALOG_ANSWER ans{1, "ab\x82\xA0\x82\xA2"};
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

TEST(PlatEditBox, KeepsTextPlaceAndFocusWithinItsLimit)
{
    ASSERT_EQ(PlatEditBoxCreate("abc", 1, 2, 3, 4, 5), 0);
    EXPECT_EQ(PlatEditBoxType("defg"), 0);
    char buf[8];
    EXPECT_EQ(PlatEditBoxGetText(buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(PlatEditBoxGetText(buf, 3), 2);
    EXPECT_STREQ(buf, "ab");
    PlatEditBoxSetFocus(1);
    int x, y, w, h, f;
    EXPECT_EQ(PlatEditBoxState(&x, &y, &w, &h, &f), 1);
    EXPECT_EQ(x + y + w + h, 10);
    EXPECT_EQ(f, 1);
    PlatEditBoxClose();
    EXPECT_EQ(PlatEditBoxState(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(PlatEditBoxGetText(buf, sizeof buf), 0);
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

int RecordArgs(const std::vector<std::string>& args, void* pUser)
{
    *static_cast<std::vector<std::string>*>(pUser) = args;
    return 0;
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
