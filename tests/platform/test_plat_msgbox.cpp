// Message boxes: the test hook, the MessageBoxA button sets and the headless answer.
#include "platform/plat_msgbox.h"
#include "tests/platform/plat_test_util.h"

#include <utility>
#include <vector>

namespace {

struct BOX_RECORD {
    std::string strCaption, strText;
    std::vector<int> aIds;
    std::vector<std::string> aTexts;
    int nDefault;
    int nAnswer;
    int bUtf8;
};

int RecordBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons, int nButtons,
              int nDefaultId, int bUtf8, void* pUser)
{
    BOX_RECORD* pRec = (BOX_RECORD*)pUser;
    pRec->bUtf8 = bUtf8;
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
    EXPECT_EQ(rec.bUtf8, 0);
    // The UTF-8 entry's texts reach the hook as given, marked so; its labels are UTF-8 too.
    std::vector<std::pair<const char*, std::string>> saved;
    for (const char* psz : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* pszValue = getenv(psz)) saved.emplace_back(psz, pszValue);
        unsetenv(psz);
    }
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(PlatMessageBoxUtf8("KOLVEX", "home-\xC3\xA9", PLAT_MB_YESNO), 11);
    unsetenv("LANG");
    for (const auto& kv : saved) setenv(kv.first, kv.second.c_str(), 1);
    EXPECT_EQ(rec.strText, "home-\xC3\xA9");
    EXPECT_EQ(rec.bUtf8, 1);
    EXPECT_EQ(rec.aTexts, (std::vector<std::string>{"\xE3\x81\xAF\xE3\x81\x84(&Y)", "\xE3\x81\x84\xE3\x81\x84\xE3\x81\x88(&N)"}));
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

    // The UTF-8 entries: names that code page 932 cannot hold come out as they are.
    BeginStderrCapture(&cap);
    EXPECT_EQ(PlatMessageBoxUtf8("KOLVEX", "no game in /home/\xC3\xA9l\xC3\xA8ve/\xF0\x9F\x8E\xAE", PLAT_MB_OK), PLAT_IDOK);
    const PLAT_MSGBOX_BUTTON aUtf8[] = {{1033, "\xC3\x89" "dit"}, {1034, "Exit"}};
    EXPECT_EQ(PlatMessageBoxUtf8Buttons("\xC3\xA9", "t", aUtf8, 2, 1034), 1034);
    strErr = EndStderrCapture(&cap);
    EXPECT_NE(strErr.find("[KOLVEX]\nno game in /home/\xC3\xA9l\xC3\xA8ve/\xF0\x9F\x8E\xAE\n"), std::string::npos) << strErr;
    EXPECT_NE(strErr.find("[\xC3\xA9]\nt\n"), std::string::npos) << strErr;
}

}  // namespace

// ---- The drawn box, in the Fake window system with the committed test fonts ----------------------

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/plat_font.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_text.h"
#include "platform/plat_window.h"
#include "platform/plat_window_backend.h"

namespace {

// What the test does once the box is open: input injected into it (queued before the box takes any
// message) or anything else on the window thread.
struct BOX_SCRIPT {
    std::vector<std::function<void(PLAT_HWND)>> steps;
    PLAT_HWND hwnd = 0;
    int nOpened = 0;
};

void RunScript(PLAT_HWND hwnd, void* pUser)
{
    auto* p = static_cast<BOX_SCRIPT*>(pUser);
    p->hwnd = hwnd;
    ++p->nOpened;
    for (auto& f : p->steps) f(hwnd);
}

std::function<void(PLAT_HWND)> Key(int nVk)
{
    return [nVk](PLAT_HWND h) {
        PlatFakeInjectKey(h, nVk, 1, 0);
        PlatFakeInjectKey(h, nVk, 0, 0);
    };
}

std::function<void(PLAT_HWND)> Click(int nButton)
{
    return [nButton](PLAT_HWND h) {
        PLAT_RECT rc{};
        ASSERT_EQ(PlatMessageBoxButtonRect(h, nButton, &rc), 0);
        const int x = (rc.left + rc.right) / 2, y = (rc.top + rc.bottom) / 2;
        PlatFakeInjectMouseButton(h, 1, 1, x, y);
        PlatFakeInjectMouseButton(h, 1, 0, x, y);
    };
}

// A display is named, so boxes are for a person: they are drawn in the Fake window system.
class DrawnBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* psz : {"DISPLAY", "SDL_VIDEODRIVER", "LANG", "LC_ALL", "LC_MESSAGES"}) {
            const char* pszValue = getenv(psz);
            m_saved.emplace_back(psz, pszValue ? std::string(pszValue) : std::string("\x01"));
            unsetenv(psz);
        }
        setenv("DISPLAY", ":kx-test", 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        const PLAT_DESKTOP_INFO desk{1024, 768, 32, 60};
        PlatSetFakeDesktopInfo(&desk);
        const char* pszData = getenv("KX_TEST_DATA");
        ASSERT_EQ(PlatFontsInit((std::string(pszData ? pszData : "tests/data") + "/fonts").c_str()), 0);
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        PlatSetMessageBoxOpenHook(RunScript, &script);
    }
    void TearDown() override
    {
        PlatSetMessageBoxOpenHook(nullptr, nullptr);
        PlatShutdownWindowSystem();
        PlatFontsShutdown();
        PlatSetFakeDesktopInfo(nullptr);
        for (const auto& kv : m_saved) {
            if (kv.second == "\x01") unsetenv(kv.first.c_str());
            else setenv(kv.first.c_str(), kv.second.c_str(), 1);
        }
    }
    BOX_SCRIPT script;
    std::vector<std::pair<std::string, std::string>> m_saved;
};

const PLAT_MSGBOX_BUTTON kEditExit[] = {{1033, "Edit(&E)"}, {1034, "Exit(&X)"}};

}  // namespace

TEST_F(DrawnBoxTest, KeysAndTheCloseButtonAnswerPerButtonSet)
{
    const auto Close = [](PLAT_HWND h) { PlatFakeInjectClose(h); };
    const auto AltF4 = [](PLAT_HWND h) {
        PlatFakeInjectKey(h, PLAT_VK_LMENU, 1, 0);
        PlatFakeInjectKey(h, PLAT_VK_F4, 1, 0);
        PlatFakeInjectKey(h, PLAT_VK_F4, 0, 0);
        PlatFakeInjectKey(h, PLAT_VK_LMENU, 0, 0);
    };
    struct CASE {
        const char* pszName;
        unsigned uType;
        std::vector<std::function<void(PLAT_HWND)>> steps;
        int nAnswer;
    };
    const CASE cases[] = {
        {"OK: Return", PLAT_MB_OK, {Key(PLAT_VK_RETURN)}, PLAT_IDOK},
        {"OK: Escape", PLAT_MB_OK, {Key(PLAT_VK_ESCAPE)}, PLAT_IDOK},
        {"OK: Alt+F4", PLAT_MB_OK, {AltF4}, PLAT_IDOK},
        {"OK/Cancel: Escape", PLAT_MB_OKCANCEL, {Key(PLAT_VK_ESCAPE)}, PLAT_IDCANCEL},
        {"OK/Cancel second default: Return", PLAT_MB_OKCANCEL | PLAT_MB_DEFBUTTON2, {Key(PLAT_VK_RETURN)}, PLAT_IDCANCEL},
        {"Yes/No: Return", PLAT_MB_YESNO, {Key(PLAT_VK_RETURN)}, PLAT_IDYES},
        {"Yes/No: Escape", PLAT_MB_YESNO, {Key(PLAT_VK_ESCAPE)}, PLAT_IDNO},
        {"Yes/No: close button", PLAT_MB_YESNO, {Close}, PLAT_IDNO},
        {"Yes/No second default: Return", PLAT_MB_YESNO | PLAT_MB_DEFBUTTON2, {Key(PLAT_VK_RETURN)}, PLAT_IDNO},
        {"Yes/No: mnemonic N", PLAT_MB_YESNO, {Key('N')}, PLAT_IDNO},
        {"Yes/No: Tab then Return", PLAT_MB_YESNO, {Key(PLAT_VK_TAB), Key(PLAT_VK_RETURN)}, PLAT_IDNO},
        {"Yes/No: Right then Space", PLAT_MB_YESNO, {Key(PLAT_VK_RIGHT), Key(PLAT_VK_SPACE)}, PLAT_IDNO},
        {"Yes/No/Cancel: Escape", PLAT_MB_YESNOCANCEL, {Key(PLAT_VK_ESCAPE)}, PLAT_IDCANCEL},
        {"Retry/Cancel: Escape", PLAT_MB_RETRYCANCEL, {Key(PLAT_VK_ESCAPE)}, PLAT_IDCANCEL},
        // Without Cancel or No, Escape and the close button do nothing.
        {"Abort/Retry/Ignore: Escape, close, Return", PLAT_MB_ABORTRETRYIGNORE,
         {Key(PLAT_VK_ESCAPE), Close, Key(PLAT_VK_RETURN)}, PLAT_IDABORT},
        {"Abort/Retry/Ignore: Left wraps to Ignore", PLAT_MB_ABORTRETRYIGNORE, {Key(PLAT_VK_LEFT), Key(PLAT_VK_RETURN)},
         PLAT_IDIGNORE},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        script.steps = c.steps;
        script.nOpened = 0;
        EXPECT_EQ(PlatMessageBoxA("cap", "text", c.uType), c.nAnswer);
        EXPECT_EQ(script.nOpened, 1);
        EXPECT_FALSE(PlatIsWindow(script.hwnd));   // the box is gone afterwards
    }
    // The engine's own buttons: Escape answers the only button, or nothing beside Edit and Exit.
    script.steps = {Key(PLAT_VK_ESCAPE)};
    EXPECT_EQ(PlatMessageBox("cap", "text", kEditExit + 1, 1, 1034), 1034);
    script.steps = {Key(PLAT_VK_ESCAPE), Key('X')};
    EXPECT_EQ(PlatMessageBox("cap", "text", kEditExit, 2, 1033), 1034);
}

TEST_F(DrawnBoxTest, AClickOnAButtonAnswersIt)
{
    script.steps = {Click(1)};
    EXPECT_EQ(PlatMessageBoxA("cap", "text", PLAT_MB_YESNOCANCEL), PLAT_IDNO);
    // Pressed on one button and let go over another: nothing; Return then takes the focused one.
    script.steps = {[](PLAT_HWND h) {
                        PLAT_RECT a{}, b{};
                        ASSERT_EQ(PlatMessageBoxButtonRect(h, 0, &a), 0);
                        ASSERT_EQ(PlatMessageBoxButtonRect(h, 2, &b), 0);
                        PlatFakeInjectMouseButton(h, 1, 1, a.left + 2, a.top + 2);
                        PlatFakeInjectMouseButton(h, 1, 0, b.left + 2, b.top + 2);
                    },
                    Key(PLAT_VK_RETURN)};
    EXPECT_EQ(PlatMessageBoxA("cap", "text", PLAT_MB_YESNOCANCEL | PLAT_MB_DEFBUTTON3), PLAT_IDYES);
    EXPECT_EQ(PlatMessageBoxButtonRect(script.hwnd, 0, nullptr), -1);   // no box any more
}

TEST_F(DrawnBoxTest, TextIsDrawnWithTheFontServiceInGreyLevels)
{
    // U+25A0 fills its whole cell, U+0041 has edges between pixels (test fonts); the default button
    // carries the focus frame.
    script.steps = {[](PLAT_HWND h) {
                        PlatValidateWindow(h);
                        PlatSendMessage(h, PLAT_WM_PAINT, 0, 0);
                        uint32_t* p = nullptr;
                        int w = 0, hh = 0, nPitch = 0;
                        ASSERT_EQ(PlatGetWindowFramebuffer(h, &p, &w, &hh, &nPitch), 0);
                        const auto At = [&](int x, int y) { return p[y * (nPitch / 4) + x] & 0xFFFFFFu; };
                        PLAT_RECT rt{};
                        ASSERT_EQ(PlatMessageBoxTextRect(h, &rt), 0);
                        const int n = PLAT_MSGBOX_TEXT_HEIGHT;
                        for (int y = 0; y < n; ++y)
                            for (int x = 0; x < n; ++x) ASSERT_EQ(At(rt.left + x, rt.top + y), 0u) << x << "," << y;
                        EXPECT_EQ(At(rt.left - 1, rt.top), 0xFFFFFFu);
                        EXPECT_EQ(At(rt.left, rt.top - 1), 0xFFFFFFu);
                        // The A's left stem starts inside the pixel column after the square: a grey level.
                        const uint32_t nEdge = At(rt.left + n + 1, rt.top + n / 2);
                        EXPECT_GT(nEdge & 0xFF, 0u);
                        EXPECT_LT(nEdge & 0xFF, 0xFFu);
                        PLAT_RECT rb{};
                        ASSERT_EQ(PlatMessageBoxButtonRect(h, 1, &rb), 0);
                        EXPECT_EQ(At(rb.left, (rb.top + rb.bottom) / 2), 0x0078D7u);
                        EXPECT_EQ(PlatMessageBoxFocus(h), 1);
                    },
                    Key(PLAT_VK_ESCAPE)};
    const std::string strText = PlatUtf8ToCp932String("■A");
    EXPECT_EQ(PlatMessageBoxA("cap", strText.c_str(), PLAT_MB_OKCANCEL | PLAT_MB_DEFBUTTON2), PLAT_IDCANCEL);
}

TEST_F(DrawnBoxTest, LongTextsWrapGrowToTheScreenAndScroll)
{
    PLAT_RECT rcOne{}, rcWrapped{}, rcClient{};
    int nTop[4] = {};
    script.steps = {[&](PLAT_HWND h) { PlatMessageBoxTextRect(h, &rcOne); }, Key(PLAT_VK_RETURN)};
    PlatMessageBoxA("cap", PlatUtf8ToCp932String("漢").c_str(), PLAT_MB_OK);
    // One long line of wide characters wraps at half the screen's width.
    std::string strLong;
    for (int i = 0; i < 120; ++i) strLong += "漢";
    script.steps = {[&](PLAT_HWND h) { PlatMessageBoxTextRect(h, &rcWrapped); }, Key(PLAT_VK_RETURN)};
    PlatMessageBoxA("cap", PlatUtf8ToCp932String(strLong.c_str()).c_str(), PLAT_MB_OK);
    EXPECT_LE(rcWrapped.right - rcWrapped.left, 512);
    EXPECT_GE(rcWrapped.bottom - rcWrapped.top, 3 * (rcOne.bottom - rcOne.top));
    // Two hundred lines: the box stops at the screen's height and the text scrolls.
    std::string strMany;
    for (int i = 0; i < 200; ++i) strMany += "A.\r\n";
    script.steps = {[&](PLAT_HWND h) {
                        PlatGetClientRect(h, &rcClient);
                        PLAT_MSG m;
                        Key(PLAT_VK_DOWN)(h);
                        while (PlatTakeModalMessage(h, &m, 0)) PlatDispatchMessage(&m);
                        nTop[0] = PlatMessageBoxTopLine(h);
                        Key(PLAT_VK_END)(h);
                        while (PlatTakeModalMessage(h, &m, 0)) PlatDispatchMessage(&m);
                        nTop[1] = PlatMessageBoxTopLine(h);
                        Key(PLAT_VK_HOME)(h);
                        while (PlatTakeModalMessage(h, &m, 0)) PlatDispatchMessage(&m);
                        nTop[2] = PlatMessageBoxTopLine(h);
                        PLAT_RECT rt{};
                        PlatMessageBoxTextRect(h, &rt);
                        nTop[3] = (rt.bottom - rt.top) / (rcOne.bottom - rcOne.top);   // lines shown
                    },
                    Key(PLAT_VK_RETURN)};
    PlatMessageBoxA("cap", strMany.c_str(), PLAT_MB_OK);
    EXPECT_LE(rcClient.bottom, 768);
    EXPECT_GT(rcClient.bottom, 768 / 2);
    EXPECT_EQ(nTop[0], 1);
    EXPECT_EQ(nTop[1], 200 - nTop[3]);
    EXPECT_EQ(nTop[2], 0);
}

namespace {

std::vector<uint32_t> g_vOwnerSeen;
intptr_t OwnerProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    g_vOwnerSeen.push_back(msg);
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

// The box's owner, shown and with its first messages handled, so that g_vOwnerSeen starts empty.
PLAT_HWND OpenOwnerWindow()
{
    const PLAT_HWND hwnd = PlatCreateWindow("KxOwner", "owner", PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE, 100, 100,
                                            400, 300, 0, OwnerProc, nullptr);
    PLAT_MSG m;
    while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) PlatDispatchMessage(&m);
    g_vOwnerSeen.clear();
    return hwnd;
}

}  // namespace

// The box is modal: the owner gets no input while it is open (no second close request, no key),
// its other messages wait for the loop outside, and it is painted once the box is gone.
TEST_F(DrawnBoxTest, TheOwnerGetsNoInputWhileTheBoxIsOpen)
{
    const PLAT_HWND hwndOwner = OpenOwnerWindow();
    ASSERT_NE(hwndOwner, 0u);
    script.steps = {[&](PLAT_HWND h) {
                        PlatFakeInjectClose(hwndOwner);
                        PlatFakeInjectKey(hwndOwner, 'A', 1, 0);
                        PlatFakeInjectMouseButton(hwndOwner, 1, 1, 5, 5);
                        PlatPostMessage(hwndOwner, PLAT_WM_USER + 7, 0, 0);
                        PlatInvalidateWindow(hwndOwner, 0);
                        // The box is placed over its owner.
                        PLAT_RECT rcBox{}, rcOwner{};
                        PlatGetWindowRect(h, &rcBox);
                        PlatGetWindowRect(hwndOwner, &rcOwner);
                        EXPECT_EQ((rcBox.left + rcBox.right) / 2, (rcOwner.left + rcOwner.right) / 2);
                    },
                    Key(PLAT_VK_RETURN)};
    EXPECT_EQ(PlatMessageBoxA("cap", "text", PLAT_MB_YESNO), PLAT_IDYES);
    EXPECT_EQ(std::count(g_vOwnerSeen.begin(), g_vOwnerSeen.end(), PLAT_WM_SYSCOMMAND), 0);
    g_vOwnerSeen.clear();
    PLAT_MSG m;
    while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) PlatDispatchMessage(&m);
    EXPECT_EQ(std::count(g_vOwnerSeen.begin(), g_vOwnerSeen.end(), PLAT_WM_USER + 7), 1);
    EXPECT_EQ(std::count(g_vOwnerSeen.begin(), g_vOwnerSeen.end(), PLAT_WM_PAINT), 1);
    for (uint32_t msg : {PLAT_WM_SYSCOMMAND, PLAT_WM_CLOSE, PLAT_WM_KEYDOWN, PLAT_WM_LBUTTONDOWN})
        EXPECT_EQ(std::count(g_vOwnerSeen.begin(), g_vOwnerSeen.end(), msg), 0) << std::hex << msg;
    EXPECT_TRUE(PlatIsWindow(hwndOwner));
}

// While a box is up, one of the program's other windows that gets the focus (a click on the game's
// window) gives it back to the box at once and is not told it was activated, so the box keeps the
// keyboard: Escape then answers it. Once the box is gone, the owner takes the focus again.
TEST_F(DrawnBoxTest, AnotherWindowOfTheProgramGivesTheFocusBackToTheBox)
{
    const PLAT_HWND hwndOwner = OpenOwnerWindow();
    ASSERT_NE(hwndOwner, 0u);
    PLAT_HWND hwndFocusAfterClick = 0;
    script.steps = {[&](PLAT_HWND h) {
                        EXPECT_EQ(PlatFakeGetFocusWindow(), h);
                        PlatFakeInjectFocus(hwndOwner, 1);
                        hwndFocusAfterClick = PlatFakeGetFocusWindow();
                    },
                    Key(PLAT_VK_ESCAPE)};
    EXPECT_EQ(PlatMessageBoxA("cap", "text", PLAT_MB_YESNO), PLAT_IDNO);
    EXPECT_EQ(hwndFocusAfterClick, script.hwnd);
    EXPECT_EQ(std::count(g_vOwnerSeen.begin(), g_vOwnerSeen.end(), PLAT_WM_SETFOCUS), 1) << "only after the box";
    EXPECT_EQ(PlatFakeGetFocusWindow(), hwndOwner);
    // Without a box the focus stays where it went.
    const PLAT_HWND hwndOther = PlatCreateWindow("KxOwner", "other", PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE, 0, 0,
                                                 100, 100, 0, OwnerProc, nullptr);
    PlatFakeInjectFocus(hwndOther, 1);
    EXPECT_EQ(PlatFakeGetFocusWindow(), hwndOther);
}

// A box asked for on another thread is shown by the window thread, which keeps pumping; a quit
// posted while a box is open ends the box as closed and reaches the loop outside.
TEST_F(DrawnBoxTest, OtherThreadsWaitForTheWindowThreadAndAQuitEndsTheBox)
{
    script.steps = {Key('Y')};
    std::atomic<int> nAnswer{0};
    std::thread t([&] { nAnswer = PlatMessageBoxA("cap", "text", PLAT_MB_YESNO | PLAT_MB_DEFBUTTON2); });
    PLAT_MSG m;
    for (int i = 0; i < 2000 && nAnswer == 0; ++i) {
        PlatPumpWindowThread();
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) PlatDispatchMessage(&m);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    t.join();
    EXPECT_EQ(nAnswer.load(), PLAT_IDYES);
    EXPECT_EQ(script.nOpened, 1);

    script.steps = {[](PLAT_HWND) { PlatPostQuitMessage(3); }};
    EXPECT_EQ(PlatMessageBoxA("cap", "text", PLAT_MB_YESNOCANCEL), PLAT_IDCANCEL);
    ASSERT_TRUE(PlatPeekMessage(&m, PLAT_PM_REMOVE));
    EXPECT_EQ(m.message, PLAT_WM_QUIT);
    EXPECT_EQ(m.wParam, 3u);
}

// The buttons carry the labels of the system in the user's language.
TEST_F(DrawnBoxTest, ButtonLabelsFollowTheUsersLanguage)
{
    BOX_RECORD rec{};
    rec.nAnswer = PLAT_IDNO;
    PlatSetMessageBoxHook(RecordBox, &rec);
    setenv("LANG", "ja_JP.UTF-8", 1);
    PlatMessageBoxA("cap", "text", PLAT_MB_YESNOCANCEL);
    EXPECT_EQ(rec.aTexts, (std::vector<std::string>{PlatUtf8ToCp932String("はい(&Y)"), PlatUtf8ToCp932String("いいえ(&N)"),
                                                    PlatUtf8ToCp932String("キャンセル")}));
    setenv("LC_ALL", "C", 1);
    PlatMessageBoxA("cap", "text", PLAT_MB_YESNOCANCEL);
    EXPECT_EQ(rec.aTexts, (std::vector<std::string>{"&Yes", "&No", "Cancel"}));
    PlatSetMessageBoxHook(nullptr, nullptr);
}
