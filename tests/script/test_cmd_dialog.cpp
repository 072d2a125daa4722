// The message box and input dialog, the clipboard and the registry read, run from compiled scripts
// with the message-box recorder, a dialog fake and a registry store in the test's folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/plat_clipboard.h"
#include "platform/plat_dialog.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_registry.h"
#include "script/cmd_dialog.h"
#include "script/variables.h"
#include "tests/script/host_cmd_fixture.h"

namespace {

class DialogCmdTest : public HOST_CMD_FIXTURE {};

TEST_F(DialogCmdTest, MessageBoxButtonSetsDefaultsIconsAndAnswers)
{
    struct BOX_CASE {
        std::vector<int> selectors;   // ids 13, 14, 15
        int64_t llDefault;            // id 18, 0 absent
        int nPressed;                 // the recorder's answer
        std::vector<int> buttons;     // shown
        int nDefaultShown;
        int64_t llStored;
    };
    const BOX_CASE aCases[] = {
        {{}, 0, PLAT_IDOK, {PLAT_IDOK}, PLAT_IDOK, 1},
        {{13}, 0, PLAT_IDCANCEL, {PLAT_IDOK, PLAT_IDCANCEL}, PLAT_IDOK, 2},
        {{13}, 2, PLAT_IDOK, {PLAT_IDOK, PLAT_IDCANCEL}, PLAT_IDCANCEL, 1},
        {{14}, 0, PLAT_IDNO, {PLAT_IDYES, PLAT_IDNO}, PLAT_IDYES, 2},
        {{13, 15}, 3, PLAT_IDCANCEL, {PLAT_IDYES, PLAT_IDNO, PLAT_IDCANCEL}, PLAT_IDCANCEL, 3},
        {{15, 14}, 0, PLAT_IDYES, {PLAT_IDYES, PLAT_IDNO, PLAT_IDCANCEL}, PLAT_IDYES, 1},   // 15 wins
        {{14}, 7, PLAT_IDYES, {PLAT_IDYES, PLAT_IDNO}, PLAT_IDYES, 1},                      // other default: first
    };
    for (const BOX_CASE& c : aCases) {
        SCOPED_TRACE(c.buttons.size() * 10 + c.selectors.size());
        ASSERT_NO_FATAL_FAILURE(Restart());
        MSGBOX_RECORDER boxes;
        boxes.answers = {c.nPressed};
        std::vector<BUILDER_ARG> args = {TextArg(0, "Cap"), TextArg(1, "Body"), OutArg(11, Var(kInt)), IntArg(19, 2)};
        for (int id : c.selectors) args.push_back(IntArg(static_cast<uint8_t>(id), 1));
        if (c.llDefault) args.push_back(IntArg(18, c.llDefault));
        Emit(KXCMD_MESSAGE_BOX, args);
        ASSERT_NO_FATAL_FAILURE(Run());
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].strCaption, "Cap");
        EXPECT_EQ(boxes.boxes[0].strText, "Body");
        EXPECT_EQ(boxes.boxes[0].buttonIds, c.buttons);
        EXPECT_EQ(boxes.boxes[0].nDefaultId, c.nDefaultShown);
        EXPECT_EQ(GetVarInt(kInt, 0), c.llStored);
    }
}

TEST_F(DialogCmdTest, MessageBoxOutputsRefusalsAndDoNothing)
{
    MSGBOX_RECORDER boxes;
    boxes.answers = {PLAT_IDCANCEL, PLAT_IDCANCEL};
    Emit(KXCMD_MESSAGE_BOX, {TextArg(1, "x"), IntArg(20, 1)});                            // does nothing
    Emit(KXCMD_MESSAGE_BOX, {TextArg(1, "y"), IntArg(13, 1), OutArg(11, Var(kFloat))});   // 2.0
    Emit(KXCMD_MESSAGE_BOX, {TextArg(1, "z"), IntArg(13, 1), IntArg(11, kInt)});          // a literal: no output
    ASSERT_NO_FATAL_FAILURE(Run());
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(GetVarFloat(kFloat, 0), 2.0);
    EXPECT_EQ(GetVarInt(kInt, 0), 7);   // untouched

    ASSERT_NO_FATAL_FAILURE(Restart());
    Emit(KXCMD_MESSAGE_BOX, {TextArg(1, "t"), OutArg(11, Var(kText), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run(false));
    ExpectOneFatalError(errors, KX_ERR_VAR_WRONG_TYPE);
}

TEST_F(DialogCmdTest, InputDialogAnswersOkCancelAndFailure)
{
    struct INPUT_CASE {
        int nAnswer;
        std::string strTyped;
        const char* pszStored;   // nullptr: nothing stored
        int64_t llAnswerVar;
    };
    const INPUT_CASE aCases[] = {
        {1, "abcdefghij", "abcdefgh", 1},       // the limit of 8 bytes
        {1, "abcdefg\x82\xA0", "abcdefg", 1},   // a character never split
        {0, "ignored", "init", 1},              // closed without OK: the text as it stands
        {-1, "", nullptr, 7},                   // the dialog cannot be shown
    };
    for (const INPUT_CASE& c : aCases) {
        SCOPED_TRACE(c.nAnswer);
        ASSERT_NO_FATAL_FAILURE(Restart());
        dialogs.answers = {{c.nAnswer, c.strTyped}};
        Emit(KXCMD_MESSAGE_BOX, {TextArg(0, "Cap"), TextArg(1, "Msg"), TextArg(9, "init"), IntArg(16, 1),
                                 IntArg(17, 8), OutArg(10, Var(kText), EVALTYPE_TEXT), OutArg(11, Var(kInt))});
        Emit(KXCMD_MESSAGE_BOX, {IntArg(20, 1)});
        ASSERT_NO_FATAL_FAILURE(Run());
        ASSERT_EQ(dialogs.seen.size(), 1u);
        EXPECT_EQ(dialogs.seen[0].nKind, PLAT_DLG_INPUT);
        EXPECT_EQ(dialogs.seen[0].strCaption, "Cap");
        EXPECT_EQ(dialogs.seen[0].strText, "Msg");
        EXPECT_EQ(dialogs.seen[0].nLimit, 8);
        EXPECT_EQ(VarText(kText, 0), c.pszStored ? c.pszStored : "x");
        EXPECT_EQ(GetVarInt(kInt, 0), c.llAnswerVar);
        EXPECT_EQ(System()->nPC, c.nAnswer < 0 ? 1 : 3);   // a failure ends the turn after the dialog
    }
}

TEST_F(DialogCmdTest, ClipboardCopyAndPaste)
{
    PlatClearClipboardForTest();
    Emit(KXCMD_CLIPBOARD_PASTE, {IntArg(0, 1), OutArg(1, Var(kText), EVALTYPE_TEXT)});   // nothing: the turn ends
    Emit(KXCMD_CLIPBOARD_COPY, {TextArg(1, "no switch")});                                 // needs id 0
    Emit(KXCMD_CLIPBOARD_COPY, {IntArg(0, 0), TextArg(1, "a\tb\r\n\x82\xA0")});
    Emit(KXCMD_CLIPBOARD_PASTE, {IntArg(0, 1), OutArg(1, Elem(kTexts, 1), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(System()->nPC, 1);
    EXPECT_EQ(VarText(kText, 0), "x");
    EXPECT_TRUE(errors.reports.empty());
    Pass();
    EXPECT_EQ(VarText(kTexts, 1), "ab\x82\xA0");

    // Only the first 1024 bytes count: a character across the boundary is dropped.
    ASSERT_NO_FATAL_FAILURE(Restart());
    ASSERT_EQ(PlatSetClipboardText((std::string(1023, 'q') + "\x82\xA0z").c_str()), 0);
    Emit(KXCMD_CLIPBOARD_PASTE, {IntArg(0, 1), OutArg(1, Var(kText), EVALTYPE_TEXT)});
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(VarText(kText, 0), std::string(1023, 'q'));
    PlatClearClipboardForTest();
}

TEST_F(DialogCmdTest, RegistryReadsWithRootsSeparatorsAndFailures)
{
    // The 1024-byte buffer holds a text of up to 1023 bytes with its terminator.
    const std::string strShort(1000, 's'), strValue(1023, 'v'), strLong(1024, 'w');
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Path", PLAT_REG_SZ, "C:\\Game", 7);
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Fits", PLAT_REG_SZ, strValue.c_str(), strValue.size());
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Long", PLAT_REG_SZ, strLong.c_str(), strLong.size());
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Short", PLAT_REG_SZ, strShort.c_str(), strShort.size());
    PlatRegSetValue("HKEY_LOCAL_MACHINE", "Software\\Kx", nullptr, PLAT_REG_SZ, "dflt", 4);
    auto read = [&](const char* pszKey, const char* pszName, BUILDER_ARG out) {
        std::vector<BUILDER_ARG> args = {TextArg(0, pszKey), std::move(out)};
        if (pszName) args.push_back(TextArg(1, pszName));
        Emit(KXCMD_REG_READ, args);
    };
    read("HKEY_CURRENT_USER/Software/Kx", "Path", OutArg(2, Elem(kTexts, 0), EVALTYPE_TEXT));
    read("hkey_current_user\\Software\\Kx", "Path", OutArg(2, Elem(kTexts, 1), EVALTYPE_TEXT));   // no root
    read("HKEY_CURRENT_USER\\Software\\Kx", "Missing", OutArg(2, Elem(kTexts, 2), EVALTYPE_TEXT));
    read("HKEY_CURRENT_USER\\Software\\Kx", "Missing", OutArg(2, Var(kInt)));
    read("HKEY_CURRENT_USER\\Software\\Kx", "Path", OutArg(2, Var(kFloat)));   // success leaves a number
    read("HKEY_CURRENT_USER\\Software\\Kx", "Fits", OutArg(2, Elem(kTexts, 3), EVALTYPE_TEXT));
    read("HKEY_CURRENT_USER\\Software\\Kx", "Long", OutArg(2, Elem(kTexts, 4), EVALTYPE_TEXT));
    read("HKEY_LOCAL_MACHINE\\Software\\Kx", nullptr, OutArg(2, Elem(kTexts, 5), EVALTYPE_TEXT));
    read("HKEY_CURRENT_USER\\Nothing", "Path", OutArg(2, Elem(kTexts, 6), EVALTYPE_TEXT));
    read("HKEY_CURRENT_USER\\Software\\Kx", "Short", OutArg(2, Elem(kTexts, 7), EVALTYPE_TEXT));
    ASSERT_NO_FATAL_FAILURE(Run());
    EXPECT_EQ(VarText(kTexts, 0), "C:\\Game");
    EXPECT_EQ(VarText(kTexts, 1), "?");
    EXPECT_EQ(VarText(kTexts, 2), "");
    EXPECT_EQ(GetVarInt(kInt, 0), 0);
    EXPECT_EQ(GetVarFloat(kFloat, 0), 1.5);
    EXPECT_EQ(VarText(kTexts, 3), strValue);   // 1023 bytes and the terminator fill the buffer
    EXPECT_EQ(VarText(kTexts, 4), "");         // 1024 bytes and the terminator do not fit
    EXPECT_EQ(VarText(kTexts, 7), strShort);
    EXPECT_EQ(VarText(kTexts, 5), "dflt");
    EXPECT_EQ(VarText(kTexts, 6), "");
}

TEST(ReadRegistryValue, TerminatesWithinTheBufferWhateverTheData)
{
    const std::string strDir = TempFolderForTest();
    PlatSetRegistryPathForTest((strDir + "/r.reg").c_str());
    const uint32_t dw = 0x41424344;
    PlatRegSetValue("HKEY_CURRENT_USER", "K", "n", PLAT_REG_DWORD, &dw, 4);
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(ReadRegistryValue("HKEY_CURRENT_USER", "K", "n", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "DCBA");
    char small[4];
    EXPECT_EQ(ReadRegistryValue("HKEY_CURRENT_USER", "K", "n", small, sizeof small), -1);   // 4 bytes need 5
    EXPECT_STREQ(small, "");
    // A text of 3 bytes comes with its terminator and fills the 4-byte buffer exactly.
    PlatRegSetValue("HKEY_CURRENT_USER", "K", "t", PLAT_REG_SZ, "abc", 3);
    ASSERT_EQ(ReadRegistryValue("HKEY_CURRENT_USER", "K", "t", small, sizeof small), 0);
    EXPECT_STREQ(small, "abc");
    PlatSetRegistryPathForTest(nullptr);
    RemoveTempFolderForTest(strDir);
}

}  // namespace
