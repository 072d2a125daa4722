// The text style command (slot 26), which sets a text slot's style, and the text style information
// command (slot 27), which answers questions about the styles and the font list.
#pragma once

// Argument ids of the style command.
enum {
    TEXTSTYLE_ARG_SLOT = 0,         // the slot 0..7 the other arguments set
    TEXTSTYLE_ARG_FONT = 1,         // font number counted from 1
    TEXTSTYLE_ARG_FACE = 2,         // face name (text)
    TEXTSTYLE_ARG_ANTIALIAS = 3,
    TEXTSTYLE_ARG_COLOR_A = 4,
    TEXTSTYLE_ARG_COLOR_B = 5,
    TEXTSTYLE_ARG_GRADIENT = 6,
    TEXTSTYLE_ARG_ORIENT = 7,
    TEXTSTYLE_ARG_TRANSPARENT = 8,
    TEXTSTYLE_ARG_SIZE = 9,
    TEXTSTYLE_ARG_HEIGHT = 10,
    TEXTSTYLE_ARG_BOLD = 11,
    TEXTSTYLE_ARG_LAST = 11,
};

// Argument ids of the information command: ids 2..10 ask for slot 0's style values in the order of
// the style command's ids 3..11.
enum {
    TEXTINFO_ARG_FONT = 0,          // font number the face-name and flag questions ask about
    TEXTINFO_ARG_FACE_NAME = 1,     // = 1: the face name of a font
    TEXTINFO_ARG_ANTIALIAS = 2,     // 2..10: slot 0's style values
    TEXTINFO_ARG_COUNT = 11,        // = 1: the number of font entries
    TEXTINFO_ARG_ZERO = 12,         // answers 0
    TEXTINFO_ARG_NON_JAPANESE = 13, // = 1: the non-Japanese flag of a font
    TEXTINFO_ARG_ADVANCE = 14,      // the advance of the text's first character
    TEXTINFO_ARG_GLYPH_HEIGHT = 15, // the glyph height of the text's first character
    TEXTINFO_ARG_TEXT = 17,         // the text (text)
    TEXTINFO_ARG_OUT = 18,          // the output variable
    TEXTINFO_ARG_LAST = 18,
};

// Sets the style values given, in the slot given (else the current one), then selects slot 0
// again. 0, or -1 after a reported error.
int CmdTextStyle(void);
// Answers the first question present into the output variable. 0, or -1 after an error.
int CmdTextStyleInfo(void);
