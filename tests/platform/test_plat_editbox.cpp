// The edit box: the text editing itself through a table of cases, and the box in the Fake window
// system (what it takes of the keyboard, the mouse and the clipboard, and what it draws).
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/plat_clipboard.h"
#include "platform/plat_edit_text.h"
#include "platform/plat_editbox.h"
#include "platform/plat_font.h"
#include "platform/plat_text.h"
#include "platform/plat_window.h"

namespace {

std::string Cp(const char* pszUtf8) { return PlatUtf8ToCp932String(pszUtf8); }
std::string Utf(const std::string& strCp932) { return PlatCp932ToUtf8String(strCp932.c_str()); }

// ---- Editing -----------------------------------------------------------------------------------

// One step: 'i' typed text, 'k' a key (with Shift, Ctrl), 'c' a composition with its caret, 'p' the
// caret placed at a byte offset (Shift extending).
struct OP {
    char kind;
    std::string strText;
    int n = 0;
    int bShift = 0;
    int bCtrl = 0;
};
OP Type(const char* psz) { return OP{'i', psz}; }
OP Key(int nKey, int bShift = 0, int bCtrl = 0) { return OP{'k', "", nKey, bShift, bCtrl}; }
OP Compose(const char* psz, int nCursor) { return OP{'c', psz, nCursor}; }
OP Place(int nOffset, int bShift = 0) { return OP{'p', "", nOffset, bShift}; }

struct EDIT_CASE {
    const char* pszName;
    const char* pszStart;   // UTF-8; the caret at its end unless a step places it
    size_t nLimit;
    std::vector<OP> ops;
    const char* pszText;    // UTF-8
    size_t nCaret, nAnchor; // bytes of the cp932 text
    const char* pszComposition;
};

const std::vector<EDIT_CASE>& EditCases()
{
    using K = int;
    const K L = PLAT_EDIT_KEY_LEFT, R = PLAT_EDIT_KEY_RIGHT, H = PLAT_EDIT_KEY_HOME, E = PLAT_EDIT_KEY_END;
    const K B = PLAT_EDIT_KEY_BACK, D = PLAT_EDIT_KEY_DELETE, A = PLAT_EDIT_KEY_A;
    static const std::vector<EDIT_CASE> cases = {
        {"typing goes in at the caret", "ac", 0, {Place(1), Type("b")}, "abc", 2, 2, ""},
        {"Japanese takes two bytes a character", "", 0, {Type("山田")}, "山田", 4, 4, ""},
        {"characters cp932 lacks are refused, the rest taken", "", 0, {Type("aéb😀c")}, "abc", 3, 3, ""},
        {"control characters are left out and a line break ends the text", "", 0, {Type("a\tb\nc")}, "ab", 2, 2, ""},
        {"typing stops at the byte limit", "abc", 5, {Type("defg")}, "abcde", 5, 5, ""},
        {"a double-byte character that would pass the limit is refused whole", "abcd", 5, {Type("山")}, "abcd", 4, 4, ""},
        {"the replaced selection makes room", "abcd", 4, {Key(A, 0, 1), Type("山田")}, "山田", 4, 4, ""},
        {"a full field keeps its selection when nothing fits", "ab", 2, {Key(L, 1), Type("山")}, "ab", 1, 2, ""},
        {"the program's own text may pass the limit, typing may not", "", 2, {}, "", 0, 0, ""},
        {"Backspace takes a whole double-byte character", "a山", 0, {Key(B)}, "a", 1, 1, ""},
        {"Backspace at the start does nothing", "ab", 0, {Key(H), Key(B)}, "ab", 0, 0, ""},
        {"Delete takes the character after the caret", "山a", 0, {Key(H), Key(D)}, "a", 0, 0, ""},
        {"Delete at the end does nothing", "ab", 0, {Key(D)}, "ab", 2, 2, ""},
        {"Left steps over characters whose second byte is a backslash", "表ソ", 0, {Key(L)}, "表ソ", 2, 2, ""},
        {"Left twice reaches the start", "表ソ", 0, {Key(L), Key(L)}, "表ソ", 0, 0, ""},
        {"Right steps over a double-byte character", "山a", 0, {Key(H), Key(R)}, "山a", 2, 2, ""},
        {"Shift+Right selects and Backspace takes the selection", "abc", 0, {Key(H), Key(R, 1), Key(R, 1), Key(B)}, "c", 0, 0, ""},
        {"Shift+End selects to the end", "abc", 0, {Place(1), Key(E, 1)}, "abc", 3, 1, ""},
        {"Shift+Home selects to the start", "abc", 0, {Place(2), Key(H, 1)}, "abc", 0, 2, ""},
        {"Left without Shift collapses a selection to its start", "abc", 0, {Place(2), Key(H, 1), Key(E), Key(L, 1), Key(L, 1), Key(L)}, "abc", 1, 1, ""},
        {"Right without Shift collapses a selection to its end", "abc", 0, {Key(H), Key(R, 1), Key(R)}, "abc", 1, 1, ""},
        {"Ctrl+A selects everything and typing replaces it", "abc", 0, {Key(A, 0, 1), Type("x")}, "x", 1, 1, ""},
        {"A without Ctrl is no key of the field", "abc", 0, {Key(A)}, "abc", 3, 3, ""},
        {"a composition shows at the caret without entering the text", "ab", 0, {Place(1), Compose("やま", 2)}, "ab", 1, 1, "やま"},
        {"keys change nothing while composing", "ab", 0, {Place(1), Compose("や", 1), Key(L), Key(B), Key(D)}, "ab", 1, 1, "や"},
        {"the commit goes in at the caret and ends the composition", "ab", 0, {Place(1), Compose("やま", 2), Type("山")}, "a山b", 3, 3, ""},
        {"an empty composition ends it", "ab", 0, {Compose("や", 1), Compose("", 0)}, "ab", 2, 2, ""},
        {"a commit over the limit is cut at a whole character", "", 5, {Compose("やまだ", 3), Type("山田太")}, "山田", 4, 4, ""},
        {"the caret placed inside a character goes to its start", "山", 0, {Place(1)}, "山", 0, 0, ""},
        {"a drag selects from the anchor", "abcd", 0, {Place(1), Place(3, 1)}, "abcd", 3, 1, ""},
    };
    return cases;
}

class EditTextCase : public ::testing::TestWithParam<size_t> {};

TEST_P(EditTextCase, Edits)
{
    const EDIT_CASE& c = EditCases()[GetParam()];
    SCOPED_TRACE(c.pszName);
    PLAT_EDIT_TEXT e;
    e.nLimit = c.nLimit;
    PlatEditSetText(&e, Cp(c.pszStart));
    for (const OP& op : c.ops) {
        switch (op.kind) {
        case 'i': PlatEditInsertUtf8(&e, op.strText); break;
        case 'k': PlatEditKey(&e, op.n, op.bShift, op.bCtrl); break;
        case 'c': PlatEditSetComposition(&e, op.strText, op.n); break;
        default: PlatEditPlaceCaret(&e, static_cast<size_t>(op.n), op.bShift); break;
        }
    }
    EXPECT_EQ(Utf(e.strText), c.pszText);
    EXPECT_EQ(e.nCaret, c.nCaret);
    EXPECT_EQ(e.nAnchor, c.nAnchor);
    EXPECT_EQ(e.strComposition, c.pszComposition);
}

INSTANTIATE_TEST_SUITE_P(Table, EditTextCase, ::testing::Range<size_t>(0, EditCases().size()));

TEST(EditText, CountsTheCharactersTakenAndKeepsAProgramTextOverTheLimit)
{
    PLAT_EDIT_TEXT e;
    e.nLimit = 2;
    PlatEditSetText(&e, "abcd");
    EXPECT_EQ(e.strText, "abcd");
    EXPECT_EQ(PlatEditInsertUtf8(&e, "e"), 0);
    EXPECT_EQ(e.strText, "abcd");
    e.nLimit = 8;
    EXPECT_EQ(PlatEditInsertUtf8(&e, "é山x"), 2);
    EXPECT_EQ(Utf(e.strText), "abcd山x");
    // A broken UTF-8 byte is no character.
    EXPECT_EQ(PlatEditInsertUtf8(&e, std::string("\xFF") + "y"), 1);
    EXPECT_EQ(Utf(e.strText), "abcd山xy");
    PlatEditPlaceCaret(&e, 0, 0);
    PlatEditPlaceCaret(&e, 6, 1);
    EXPECT_EQ(Utf(PlatEditSelection(&e)), "abcd山");
}

// ---- The box in a window -----------------------------------------------------------------------

std::vector<uint32_t> g_vKeys;   // the wParam of every WM_KEYDOWN the window saw

intptr_t BoxOwnerProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == PLAT_WM_KEYDOWN) g_vKeys.push_back(static_cast<uint32_t>(wParam));
    if (msg == PLAT_WM_PAINT) {
        PlatValidateWindow(hwnd);
        PlatPresentWindow(hwnd);
        return 0;
    }
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

constexpr uint32_t kBack = 0xFF204060u;

class EditBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* pszData = getenv("KX_TEST_DATA");
        ASSERT_EQ(PlatFontsInit((std::string(pszData ? pszData : "tests/data") + "/fonts").c_str()), 0);
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        hwnd = PlatCreateWindow("KxEditTest", "edit", PLAT_WS_POPUP, 100, 100, 320, 200, 0, BoxOwnerProc, nullptr);
        ASSERT_NE(hwnd, 0u);
        PlatShowWindow(hwnd, PLAT_SW_SHOW);
        Pump();
        uint32_t* p = nullptr;
        int w = 0, h = 0, nPitch = 0;
        ASSERT_EQ(PlatGetWindowFramebuffer(hwnd, &p, &w, &h, &nPitch), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) p[static_cast<size_t>(y) * static_cast<size_t>(nPitch / 4) + static_cast<size_t>(x)] = kBack;
        g_vKeys.clear();
        PlatClearClipboardForTest();
    }
    void TearDown() override
    {
        PlatEditBoxClose();
        PlatShutdownWindowSystem();
        PlatFontsShutdown();
    }
    static void Pump()
    {
        PLAT_MSG m;
        for (int i = 0; i < 1000 && PlatPeekMessage(&m, PLAT_PM_REMOVE); ++i) PlatDispatchMessage(&m);
    }
    void Press(int nVk)
    {
        PlatFakeInjectKey(hwnd, nVk, 1, 0);
        PlatFakeInjectKey(hwnd, nVk, 0, 0);
        Pump();
    }
    // A key pressed while another is held (Shift, Ctrl).
    void Chord(int nHeld, int nVk)
    {
        PlatFakeInjectKey(hwnd, nHeld, 1, 0);
        Press(nVk);
        PlatFakeInjectKey(hwnd, nHeld, 0, 0);
        Pump();
    }
    void Click(int x, int y)
    {
        PlatFakeInjectMouseButton(hwnd, 1, 1, x, y);
        PlatFakeInjectMouseButton(hwnd, 1, 0, x, y);
        Pump();
    }
    std::string Text()
    {
        char buf[300];
        PlatEditBoxGetText(buf, sizeof buf);
        return Utf(buf);
    }
    std::vector<uint32_t> Shown()
    {
        std::vector<uint32_t> px;
        int w = 0, h = 0;
        EXPECT_EQ(PlatReadWindowPixels(hwnd, &px, &w, &h), 0);
        EXPECT_EQ(w, 320);
        return px;
    }
    static uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[static_cast<size_t>(y) * 320 + static_cast<size_t>(x)]; }
    // Pixels of the colour within a rectangle.
    static int Count(const std::vector<uint32_t>& px, int l, int t, int r, int b, uint32_t nColour)
    {
        int n = 0;
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x) n += At(px, x, y) == nColour;
        return n;
    }
    PLAT_HWND hwnd = 0;
};

TEST_F(EditBoxTest, TakesTheKeyboardOnlyWithTheFocus)
{
    ASSERT_EQ(PlatEditBoxCreate(hwnd, Cp("abc").c_str(), 20, 30, 200, 24, 8), 0);
    int x, y, w, h, f;
    ASSERT_EQ(PlatEditBoxState(&x, &y, &w, &h, &f), 1);
    EXPECT_EQ(x + y + w + h, 274);
    EXPECT_EQ(f, 0);
    // Without the focus the window has the keys and the text input.
    Press('Q');
    EXPECT_EQ(g_vKeys, std::vector<uint32_t>{'Q'});
    EXPECT_EQ(PlatEditBoxTakeText(hwnd, "q"), 0);
    EXPECT_EQ(PlatEditBoxTakeComposition(hwnd, "や", 1), 0);

    ASSERT_EQ(PlatEditBoxSetFocus(1), 0);
    g_vKeys.clear();
    PlatFakeInjectKey(hwnd, 'D', 1, 0);
    EXPECT_EQ(PlatGetKeyDown('D'), 1);   // the program still polls every key
    PlatFakeInjectKey(hwnd, 'D', 0, 0);
    EXPECT_EQ(PlatEditBoxTakeText(hwnd, "dé山"), 1);
    Pump();
    EXPECT_TRUE(g_vKeys.empty());
    EXPECT_EQ(Text(), "abcd山");
    // The limit of 8 bytes binds typing.
    PlatEditBoxTakeText(hwnd, "xyz");
    EXPECT_EQ(Text(), "abcd山xy");
    // Return, Escape and the function keys still reach the window; editing keys do not.
    Press(PLAT_VK_RETURN);
    Press(PLAT_VK_ESCAPE);
    Press(PLAT_VK_F1 + 4);
    Press(PLAT_VK_BACK);
    Press(PLAT_VK_BACK);
    Press(PLAT_VK_LEFT);
    Press(PLAT_VK_HOME);
    EXPECT_EQ(g_vKeys, (std::vector<uint32_t>{PLAT_VK_RETURN, PLAT_VK_ESCAPE, PLAT_VK_F1 + 4}));
    EXPECT_EQ(Text(), "abcd山");
    PLAT_EDIT_TEXT e;
    ASSERT_EQ(PlatEditBoxGetEdit(&e), 1);
    EXPECT_EQ(e.nCaret, 0u);
    // What is read is cut at a whole character.
    char buf[7];
    EXPECT_EQ(PlatEditBoxGetText(buf, sizeof buf), 6);
    EXPECT_EQ(PlatEditBoxGetText(buf, 6), 4);
    EXPECT_STREQ(buf, "abcd");

    ASSERT_EQ(PlatEditBoxSetFocus(0), 0);
    Press('Z');
    EXPECT_EQ(g_vKeys.back(), static_cast<uint32_t>('Z'));
    PlatEditBoxClose();
    EXPECT_EQ(PlatEditBoxState(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(PlatEditBoxGetText(buf, sizeof buf), 0);
    EXPECT_EQ(PlatEditBoxSetText("x"), -1);
    EXPECT_EQ(PlatEditBoxSetFocus(1), -1);
}

TEST_F(EditBoxTest, CopiesCutsAndPastesThroughTheClipboard)
{
    ASSERT_EQ(PlatEditBoxCreate(hwnd, Cp("山田abc").c_str(), 20, 30, 200, 24, 10), 0);
    PlatEditBoxSetFocus(1);
    Press(PLAT_VK_HOME);
    Chord(PLAT_VK_SHIFT, PLAT_VK_RIGHT);
    Chord(PLAT_VK_SHIFT, PLAT_VK_RIGHT);
    Chord(PLAT_VK_CONTROL, 'C');
    std::string strClip;
    ASSERT_EQ(PlatGetClipboardText(&strClip), 0);
    EXPECT_EQ(Utf(strClip), "山田");
    Chord(PLAT_VK_CONTROL, 'X');
    EXPECT_EQ(Text(), "abc");
    // Pasted at the end within the 10 bytes: whole, then as far as a whole character fits.
    PlatSetClipboardText(Cp("山田a").c_str());
    Press(PLAT_VK_END);
    Chord(PLAT_VK_CONTROL, 'V');
    EXPECT_EQ(Text(), "abc山田a");
    Chord(PLAT_VK_CONTROL, 'V');
    EXPECT_EQ(Text(), "abc山田a山");
    // Ctrl+A, then Shift+Insert replaces everything.
    Chord(PLAT_VK_CONTROL, 'A');
    Chord(PLAT_VK_SHIFT, PLAT_VK_INSERT);
    EXPECT_EQ(Text(), "山田a");
}

TEST_F(EditBoxTest, AClickGivesTheFocusAndPlacesTheCaret)
{
    ASSERT_EQ(PlatEditBoxCreate(hwnd, "AAAAAA", 20, 30, 200, 24, 0), 0);
    Click(23, 40);   // before the first character
    int f = 0;
    PlatEditBoxState(nullptr, nullptr, nullptr, nullptr, &f);
    EXPECT_EQ(f, 1);
    PLAT_EDIT_TEXT e;
    PlatEditBoxGetEdit(&e);
    EXPECT_EQ(e.nCaret, 0u);
    Click(215, 40);  // past the end
    PlatEditBoxGetEdit(&e);
    EXPECT_EQ(e.nCaret, 6u);
    // A drag from the start selects.
    PlatFakeInjectMouseButton(hwnd, 1, 1, 23, 40);
    PlatFakeInjectMouseMove(hwnd, 215, 40);
    PlatFakeInjectMouseButton(hwnd, 1, 0, 215, 40);
    Pump();
    PlatEditBoxGetEdit(&e);
    EXPECT_EQ(e.nAnchor, 0u);
    EXPECT_EQ(e.nCaret, 6u);
    // A click elsewhere in the window takes the focus away, and the window hears it.
    Click(5, 150);
    PlatEditBoxState(nullptr, nullptr, nullptr, nullptr, &f);
    EXPECT_EQ(f, 0);
}

TEST_F(EditBoxTest, IsDrawnOverThePictureWithCaretSelectionAndComposition)
{
    ASSERT_EQ(PlatEditBoxCreate(hwnd, "", 20, 30, 200, 24, 0), 0);
    Pump();
    std::vector<uint32_t> px = Shown();
    // The frame, the white field, the picture around it; no caret without the focus.
    EXPECT_EQ(At(px, 20, 30), 0xFF7A7A7Au);
    EXPECT_EQ(At(px, 219, 53), 0xFF7A7A7Au);
    EXPECT_EQ(At(px, 19, 30), kBack);
    EXPECT_EQ(At(px, 220, 53), kBack);
    EXPECT_EQ(Count(px, 21, 31, 219, 53, 0xFFFFFFFFu), 198 * 22);
    PlatEditBoxSetFocus(1);
    Pump();
    px = Shown();
    // The caret: one black column after the margin.
    EXPECT_GE(Count(px, 23, 31, 24, 53, 0xFF000000u), 12);
    EXPECT_EQ(Count(px, 24, 31, 219, 53, 0xFFFFFFFFu), 195 * 22);

    // Text: ink in the field, the caret after it (the test fonts have A, I, p and a few more).
    PlatEditBoxTakeText(hwnd, "AIA");
    Pump();
    px = Shown();
    const int nWhite = Count(px, 21, 31, 219, 53, 0xFFFFFFFFu);
    EXPECT_LT(nWhite, 198 * 22 - 30);
    // Selected, it is drawn in the highlight colours.
    Chord(PLAT_VK_SHIFT, PLAT_VK_HOME);
    px = Shown();
    EXPECT_GT(Count(px, 21, 31, 219, 53, 0xFF3875D7u), 40);
    // A composition is underlined at the caret and is not part of the text.
    Press(PLAT_VK_END);
    PlatEditBoxTakeComposition(hwnd, "あ漢あ", 3);
    Pump();
    px = Shown();
    EXPECT_EQ(Text(), "AIA");
    int nUnderline = 0;
    for (int yy = 31; yy < 53; ++yy) nUnderline = std::max(nUnderline, Count(px, 21, yy, 219, yy + 1, 0xFF000000u));
    EXPECT_GT(nUnderline, 25);   // three wide characters' underline in one row
    PlatEditBoxClose();
    Pump();
    px = Shown();
    EXPECT_EQ(Count(px, 0, 0, 320, 200, kBack), 320 * 200);
}

TEST_F(EditBoxTest, ALongTextScrollsToKeepTheCaretInView)
{
    ASSERT_EQ(PlatEditBoxCreate(hwnd, "", 20, 30, 60, 24, 0), 0);
    PlatEditBoxSetFocus(1);
    PlatEditBoxTakeText(hwnd, "AAAAAAAAAAAAAAAAAAAA");
    Pump();
    std::vector<uint32_t> px = Shown();
    // The caret at the right edge of the field, inside it; the picture beside the box untouched.
    EXPECT_GE(Count(px, 70, 31, 79, 53, 0xFF000000u), 12);
    EXPECT_EQ(Count(px, 80, 30, 320, 54, kBack), 240 * 24);
    Press(PLAT_VK_HOME);
    px = Shown();
    EXPECT_GE(Count(px, 23, 31, 24, 53, 0xFF000000u), 12);
}

}  // namespace

namespace {

TEST_F(EditBoxTest, StaysOnAScaledAndLetterboxedPicture)
{
    // A 120 x 80 game screen shown twice as large at 40, 20: the box at 10, 10 (50 x 12) of the
    // game screen covers 60, 40 .. 160, 64 of the client, and its text is twice as high.
    ASSERT_EQ(PlatEditBoxSetPicturePlace(hwnd, 40, 20, 240, 160, 120, 80), 0);
    ASSERT_EQ(PlatEditBoxCreate(hwnd, "AAAA", 10, 10, 50, 12, 0), 0);
    Pump();
    std::vector<uint32_t> px = Shown();
    EXPECT_EQ(At(px, 60, 40), 0xFF7A7A7Au);
    EXPECT_EQ(At(px, 159, 63), 0xFF7A7A7Au);
    EXPECT_EQ(At(px, 59, 40), kBack);
    EXPECT_EQ(At(px, 160, 63), kBack);
    // Four A of a 28-pixel font: rows of ink at least 20 high.
    int nInkRows = 0;
    for (int y = 41; y < 63; ++y) nInkRows += Count(px, 61, y, 159, y + 1, 0xFFFFFFFFu) < 98;
    EXPECT_GE(nInkRows, 18);
    // A click on the box's place in the client reaches it.
    Click(150, 60);
    int f = 0;
    PlatEditBoxState(nullptr, nullptr, nullptr, nullptr, &f);
    EXPECT_EQ(f, 1);
    PLAT_EDIT_TEXT e;
    PlatEditBoxGetEdit(&e);
    EXPECT_EQ(e.nCaret, 4u);
    Click(30, 15);   // inside the box's game-screen place, outside its client place
    PlatEditBoxState(nullptr, nullptr, nullptr, nullptr, &f);
    EXPECT_EQ(f, 0);
}

}  // namespace

namespace {

// The SDL backend under the dummy video driver: the window system's text events reach the box.
class EditBoxSdlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) GTEST_SKIP() << "no SDL video driver";
        bStarted = true;
        hwnd = PlatCreateWindow("KxSdlEdit", "t", PLAT_WS_POPUP | PLAT_WS_VISIBLE, 0, 0, 320, 200, 0, BoxOwnerProc, nullptr);
        ASSERT_NE(hwnd, 0u);
        for (uint32_t id = 1; id < 64 && !nWindowId; ++id)
            if (SDL_Window* pWin = SDL_GetWindowFromID(id))
                if ((PLAT_HWND)(uintptr_t)SDL_GetWindowData(pWin, "kxhwnd") == hwnd) nWindowId = id;
        ASSERT_NE(nWindowId, 0u);
        ASSERT_EQ(PlatEditBoxCreate(hwnd, "", 10, 10, 200, 24, 256), 0);
        m_vChars.clear();
    }
    void TearDown() override
    {
        unsetenv("KOLVEX_TEST_IME");
        if (!bStarted) return;
        PlatEditBoxClose();
        PlatShutdownWindowSystem();
    }
    void Pump()
    {
        PLAT_MSG m;
        for (int i = 0; i < 1000 && PlatPeekMessage(&m, PLAT_PM_REMOVE); ++i) {
            if (m.message == PLAT_WM_CHAR) m_vChars.push_back(static_cast<uint32_t>(m.wParam));
            PlatDispatchMessage(&m);
        }
    }
    void PushText(const char* psz)
    {
        SDL_Event e{};
        e.text.type = SDL_TEXTINPUT;
        e.text.windowID = nWindowId;
        std::snprintf(e.text.text, sizeof e.text.text, "%s", psz);
        SDL_PushEvent(&e);
    }
    void PushEditing(const char* psz, int nStart)
    {
        SDL_Event e{};
        e.edit.type = SDL_TEXTEDITING;
        e.edit.windowID = nWindowId;
        std::snprintf(e.edit.text, sizeof e.edit.text, "%s", psz);
        e.edit.start = nStart;
        SDL_PushEvent(&e);
    }
    void PushKey(SDL_Scancode sc, bool bDown)
    {
        SDL_Event e{};
        e.key.type = bDown ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = nWindowId;
        e.key.keysym.scancode = sc;
        SDL_PushEvent(&e);
    }
    PLAT_EDIT_TEXT Edit()
    {
        PLAT_EDIT_TEXT e;
        PlatEditBoxGetEdit(&e);
        return e;
    }
    bool bStarted = false;
    PLAT_HWND hwnd = 0;
    uint32_t nWindowId = 0;
    std::vector<uint32_t> m_vChars;
};

TEST_F(EditBoxSdlTest, TextInputAndCompositionReachTheFocusedBox)
{
    // Without the focus: characters for the window, as cp932 bytes.
    PushText("a");
    Pump();
    EXPECT_EQ(m_vChars, std::vector<uint32_t>{'a'});
    PlatEditBoxSetFocus(1);
    PushEditing("やま", 2);
    Pump();
    EXPECT_EQ(Edit().strComposition, "やま");
    EXPECT_EQ(Edit().nCompositionCursor, 2);
    // A composition longer than the event's own buffer comes whole in the extended event.
    const std::string strLong = "やまだやまだやまだやまだ";
    SDL_Event e{};
    e.editExt.type = SDL_TEXTEDITING_EXT;
    e.editExt.windowID = nWindowId;
    e.editExt.text = SDL_strdup(strLong.c_str());
    e.editExt.start = 12;
    SDL_PushEvent(&e);
    Pump();
    EXPECT_EQ(Edit().strComposition, strLong);
    // The commit: what cp932 cannot hold is refused, the rest is the text.
    PushText("山田😀");
    PushEditing("", 0);
    Pump();
    EXPECT_EQ(Utf(Edit().strText), "山田");
    EXPECT_EQ(Edit().strComposition, "");
    EXPECT_EQ(m_vChars, std::vector<uint32_t>{'a'});
}

TEST_F(EditBoxSdlTest, TheStandInInputMethodComposesAndCommitsOnF8)
{
    setenv("KOLVEX_TEST_IME", "山田", 1);
    PlatEditBoxSetFocus(1);
    PushKey(SDL_SCANCODE_F8, true);
    PushKey(SDL_SCANCODE_F8, false);
    Pump();
    Pump();   // the events it pushed
    EXPECT_EQ(Edit().strComposition, "山田");
    EXPECT_EQ(Edit().strText, "");
    PushKey(SDL_SCANCODE_F8, true);
    PushKey(SDL_SCANCODE_F8, false);
    Pump();
    Pump();
    EXPECT_EQ(Edit().strComposition, "");
    EXPECT_EQ(Utf(Edit().strText), "山田");
}

}  // namespace
