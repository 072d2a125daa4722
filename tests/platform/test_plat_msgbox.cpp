// Message boxes: the test hook, the MessageBoxA button sets and the headless answer.
#include "platform/plat_msgbox.h"
#include "tests/platform/plat_test_util.h"

namespace {

struct BOX_RECORD {
    std::string strCaption, strText;
    std::vector<int> aIds;
    std::vector<std::string> aTexts;
    int nDefault;
    int nAnswer;
};

int RecordBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons, int nButtons,
              int nDefaultId, void* pUser)
{
    BOX_RECORD* pRec = (BOX_RECORD*)pUser;
    pRec->strCaption = pszCaption ? pszCaption : "<null>";
    pRec->strText = pszText;
    pRec->aIds.clear();
    pRec->aTexts.clear();
    for (int i = 0; i < nButtons; i++) {
        pRec->aIds.push_back(pButtons[i].nId);
        pRec->aTexts.push_back(pButtons[i].pszText);
    }
    pRec->nDefault = nDefaultId;
    return pRec->nAnswer;
}

TEST(PlatMsgBox, HookSeesCp932TextsAndAnswers)
{
    BOX_RECORD rec{};
    rec.nAnswer = 11;
    PlatSetMessageBoxHook(RecordBox, &rec);
    EXPECT_EQ(PlatMessageBoxInteractive(), 1);
    const PLAT_MSGBOX_BUTTON aButtons[] = {{10, "\x95\xD2\x8F\x57(&E)"}, {11, "\x8F\x49\x97\xB9(&X)"}};
    EXPECT_EQ(PlatMessageBox("\x83\x47\x83\x89\x81\x5B", "\x95\x5C", aButtons, 2, 10), 11);
    EXPECT_EQ(rec.strCaption, "\x83\x47\x83\x89\x81\x5B");
    EXPECT_EQ(rec.strText, "\x95\x5C");
    EXPECT_EQ(rec.aIds, (std::vector<int>{10, 11}));
    EXPECT_EQ(rec.aTexts[0], "\x95\xD2\x8F\x57(&E)");
    EXPECT_EQ(rec.nDefault, 10);
    PlatSetMessageBoxHook(nullptr, nullptr);
}

TEST(PlatMsgBox, MessageBoxAMapsButtonSetsAndDefaults)
{
    struct TYPE_CASE {
        unsigned uType;
        std::vector<int> aIds;
        int nDefault;
    };
    const TYPE_CASE aCases[] = {
        {PLAT_MB_OK | PLAT_MB_SYSTEMMODAL, {PLAT_IDOK}, PLAT_IDOK},
        {PLAT_MB_OKCANCEL | PLAT_MB_DEFBUTTON2, {PLAT_IDOK, PLAT_IDCANCEL}, PLAT_IDCANCEL},
        {PLAT_MB_ABORTRETRYIGNORE | PLAT_MB_DEFBUTTON3, {PLAT_IDABORT, PLAT_IDRETRY, PLAT_IDIGNORE}, PLAT_IDIGNORE},
        {PLAT_MB_YESNOCANCEL, {PLAT_IDYES, PLAT_IDNO, PLAT_IDCANCEL}, PLAT_IDYES},
        {PLAT_MB_YESNO | PLAT_MB_DEFBUTTON2, {PLAT_IDYES, PLAT_IDNO}, PLAT_IDNO},
        {PLAT_MB_RETRYCANCEL | PLAT_MB_DEFBUTTON3, {PLAT_IDRETRY, PLAT_IDCANCEL}, PLAT_IDRETRY},   // no third
        {0x6, {PLAT_IDOK}, PLAT_IDOK},   // an unknown set shows OK
    };
    BOX_RECORD rec{};
    rec.nAnswer = 99;
    PlatSetMessageBoxHook(RecordBox, &rec);
    for (const TYPE_CASE& c : aCases) {
        EXPECT_EQ(PlatMessageBoxA("cap", "text", c.uType), 99);
        EXPECT_EQ(rec.aIds, c.aIds) << std::hex << c.uType;
        EXPECT_EQ(rec.nDefault, c.nDefault) << std::hex << c.uType;
    }
    PlatMessageBoxA(nullptr, "text", PLAT_MB_OK);
    EXPECT_EQ(rec.strCaption, "Error");
    PlatSetMessageBoxHook(nullptr, nullptr);
}

TEST(PlatMsgBox, HeadlessWritesToStderrAndAnswersTheDefault)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    EXPECT_EQ(PlatMessageBoxInteractive(), 0);
    const PLAT_MSGBOX_BUTTON aButtons[] = {{1, "OK"}, {2, "Cancel"}};
    STDERR_CAPTURE cap;
    BeginStderrCapture(&cap);
    int nAnswer = PlatMessageBox("\x83\x47\x83\x89\x81\x5B", "line1\n\x95\x5C\x8E\x86", aButtons, 2, 2);
    int nAnswerA = PlatMessageBoxA(nullptr, "quit?", PLAT_MB_YESNO | PLAT_MB_DEFBUTTON2);
    std::string strErr = EndStderrCapture(&cap);
    EXPECT_EQ(nAnswer, 2);
    EXPECT_EQ(nAnswerA, PLAT_IDNO);
    EXPECT_NE(strErr.find("エラー"), std::string::npos) << strErr;
    EXPECT_NE(strErr.find("line1\n表紙"), std::string::npos) << strErr;
    EXPECT_NE(strErr.find("Error"), std::string::npos) << strErr;
    EXPECT_NE(strErr.find("quit?"), std::string::npos) << strErr;
}

}  // namespace
