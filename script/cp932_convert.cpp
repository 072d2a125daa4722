// Width and case tables of cp932.
#include "script/cp932_convert.h"

#include "core/cp932.h"

namespace {

// ---- case ----
// Ranges of double-byte letters whose partners lie at a fixed distance.
constexpr uint16_t kLatinUpper = 0x8260, kLatinLower = 0x8281, kLatinCount = 26;    // Ａ-Ｚ, ａ-ｚ
constexpr uint16_t kGreekUpper = 0x839F, kGreekLower = 0x83BF, kGreekCount = 24;    // Α-Ω, α-ω
// Cyrillic: capitals 0x8440..0x8460; small letters from 0x8470 with 0x847F (no character) skipped.
constexpr uint16_t kCyrUpper = 0x8440, kCyrLower = 0x8470, kCyrCount = 33, kCyrGap = 0x847F;
// Roman numerals Ⅰ-Ⅹ: capitals in NEC row 13 and in the IBM rows, small forms in the NEC-selected
// IBM rows and in the IBM rows.
constexpr uint16_t kRomanUpperNec = 0x8754, kRomanUpperIbm = 0xFA4A;
constexpr uint16_t kRomanLowerNecSel = 0xEEEF, kRomanLowerIbm = 0xFA40, kRomanCount = 10;

inline bool InRange(uint16_t w, uint16_t first, uint16_t count) { return w >= first && w < first + count; }

// The small Cyrillic letter at position k (0..32) of the alphabet, and back.
inline uint16_t CyrLowerAt(uint16_t k)
{
    const uint16_t w = static_cast<uint16_t>(kCyrLower + k);
    return w >= kCyrGap ? static_cast<uint16_t>(w + 1) : w;
}
inline int CyrLowerIndex(uint16_t w)
{
    if (w < kCyrLower || w == kCyrGap || w > CyrLowerAt(kCyrCount - 1)) return -1;
    return w < kCyrGap ? w - kCyrLower : w - kCyrLower - 1;
}

// ---- width ----
// Full-width forms of 0x20..0x7E.
constexpr uint16_t kFullAscii[0x7F - 0x20] = {
    0x8140, 0x8149, 0xFA57, 0x8194, 0x8190, 0x8193, 0x8195, 0xFA56,   //   ! " # $ % & '
    0x8169, 0x816A, 0x8196, 0x817B, 0x8143, 0x817C, 0x8144, 0x815E,   // ( ) * + , - . /
    0x824F, 0x8250, 0x8251, 0x8252, 0x8253, 0x8254, 0x8255, 0x8256,   // 0 .. 7
    0x8257, 0x8258, 0x8146, 0x8147, 0x8183, 0x8181, 0x8184, 0x8148,   // 8 9 : ; < = > ?
    0x8197, 0x8260, 0x8261, 0x8262, 0x8263, 0x8264, 0x8265, 0x8266,   // @ A .. G
    0x8267, 0x8268, 0x8269, 0x826A, 0x826B, 0x826C, 0x826D, 0x826E,   // H .. O
    0x826F, 0x8270, 0x8271, 0x8272, 0x8273, 0x8274, 0x8275, 0x8276,   // P .. W
    0x8277, 0x8278, 0x8279, 0x816D, 0x815F, 0x816E, 0x814F, 0x8151,   // X Y Z [ \ ] ^ _
    0x814D, 0x8281, 0x8282, 0x8283, 0x8284, 0x8285, 0x8286, 0x8287,   // ` a .. g
    0x8288, 0x8289, 0x828A, 0x828B, 0x828C, 0x828D, 0x828E, 0x828F,   // h .. o
    0x8290, 0x8291, 0x8292, 0x8293, 0x8294, 0x8295, 0x8296, 0x8297,   // p .. w
    0x8298, 0x8299, 0x829A, 0x816F, 0x8162, 0x8170, 0x8160,           // x y z { | } ~
};
// Full-width forms of the half-width katakana 0xA1..0xDF.
constexpr uint16_t kFullKana[0xE0 - 0xA1] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340,           // ｡ ｢ ｣ ､ ･ ｦ ｧ
    0x8342, 0x8344, 0x8346, 0x8348, 0x8383, 0x8385, 0x8387, 0x8362,   // ｨ ｩ ｪ ｫ ｬ ｭ ｮ ｯ
    0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A, 0x834C,   // ｰ ｱ ｲ ｳ ｴ ｵ ｶ ｷ
    0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C,   // ｸ ｹ ｺ ｻ ｼ ｽ ｾ ｿ
    0x835E, 0x8360, 0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B,   // ﾀ ﾁ ﾂ ﾃ ﾄ ﾅ ﾆ ﾇ
    0x836C, 0x836D, 0x836E, 0x8371, 0x8374, 0x8377, 0x837A, 0x837D,   // ﾈ ﾉ ﾊ ﾋ ﾌ ﾍ ﾎ ﾏ
    0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,   // ﾐ ﾑ ﾒ ﾓ ﾔ ﾕ ﾖ ﾗ
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,   // ﾘ ﾙ ﾚ ﾛ ﾜ ﾝ ﾞ ﾟ
};
// Second copies of full-width characters, in the NEC-selected IBM extension rows.
constexpr struct {
    uint16_t wCode;
    uint8_t bHalf;
} kHalfExtra[] = {{0xEEFB, 0x27}, {0xEEFC, 0x22}};

// The half-width byte of every double-byte code, made once from the tables above.
struct HALF_TABLE {
    uint8_t ab[0x10000];
};
constexpr HALF_TABLE BuildHalfTable()
{
    HALF_TABLE t{};
    for (unsigned c = 0x20; c < 0x7F; ++c) t.ab[kFullAscii[c - 0x20]] = static_cast<uint8_t>(c);
    for (unsigned c = 0xA1; c < 0xE0; ++c) t.ab[kFullKana[c - 0xA1]] = static_cast<uint8_t>(c);
    for (const auto& e : kHalfExtra) t.ab[e.wCode] = e.bHalf;
    return t;
}
constexpr HALF_TABLE kHalfTable = BuildHalfTable();

inline uint16_t CodeAt(const char* p)
{
    return static_cast<uint16_t>((static_cast<unsigned char>(p[0]) << 8) | static_cast<unsigned char>(p[1]));
}

// One case conversion over a text: single-byte letters by ASCII, double-byte ones by the function.
template <bool UPPER>
void ConvertCase(char* psz)
{
    if (!psz) return;
    for (char* p = psz; *p != '\0';) {
        const int nLen = CharLenCp932(p);
        if (nLen == 2) {
            const uint16_t w = CodeAt(p);
            const uint16_t v = UPPER ? UpperCp932Char(w) : LowerCp932Char(w);
            p[0] = static_cast<char>(v >> 8);
            p[1] = static_cast<char>(v & 0xFF);
        } else if (UPPER && *p >= 'a' && *p <= 'z') {
            *p = static_cast<char>(*p - 32);
        } else if (!UPPER && *p >= 'A' && *p <= 'Z') {
            *p = static_cast<char>(*p + 32);
        }
        p += nLen;
    }
}

// One width conversion: each character's replacement (1 or 2 bytes) is written while it fits.
template <bool FULL>
size_t ConvertWidth(char* dst, size_t cap, const char* src)
{
    if (cap == 0) return 0;
    size_t n = 0;
    const char* p = src ? src : "";
    while (*p != '\0') {
        const int nLen = CharLenCp932(p);
        char ab[2] = {p[0], nLen == 2 ? p[1] : '\0'};
        int nOut = nLen;
        if (FULL && nLen == 1) {
            if (const uint16_t w = FullWidthOf(static_cast<uint8_t>(p[0]))) {
                ab[0] = static_cast<char>(w >> 8);
                ab[1] = static_cast<char>(w & 0xFF);
                nOut = 2;
            }
        } else if (!FULL && nLen == 2) {
            if (const uint8_t b = HalfWidthOf(CodeAt(p))) {
                ab[0] = static_cast<char>(b);
                nOut = 1;
            }
        }
        if (n + static_cast<size_t>(nOut) > cap - 1) break;
        dst[n++] = ab[0];
        if (nOut == 2) dst[n++] = ab[1];
        p += nLen;
    }
    dst[n] = '\0';
    return n;
}

}  // namespace

uint16_t UpperCp932Char(uint16_t w)
{
    if (InRange(w, kLatinLower, kLatinCount)) return static_cast<uint16_t>(w - kLatinLower + kLatinUpper);
    if (InRange(w, kGreekLower, kGreekCount)) return static_cast<uint16_t>(w - kGreekLower + kGreekUpper);
    if (const int k = CyrLowerIndex(w); k >= 0) return static_cast<uint16_t>(kCyrUpper + k);
    if (InRange(w, kRomanLowerNecSel, kRomanCount)) return static_cast<uint16_t>(w - kRomanLowerNecSel + kRomanUpperNec);
    if (InRange(w, kRomanLowerIbm, kRomanCount)) return static_cast<uint16_t>(w - kRomanLowerIbm + kRomanUpperNec);
    return w;
}

uint16_t LowerCp932Char(uint16_t w)
{
    if (InRange(w, kLatinUpper, kLatinCount)) return static_cast<uint16_t>(w - kLatinUpper + kLatinLower);
    if (InRange(w, kGreekUpper, kGreekCount)) return static_cast<uint16_t>(w - kGreekUpper + kGreekLower);
    if (InRange(w, kCyrUpper, kCyrCount)) return CyrLowerAt(static_cast<uint16_t>(w - kCyrUpper));
    if (InRange(w, kRomanUpperNec, kRomanCount)) return static_cast<uint16_t>(w - kRomanUpperNec + kRomanLowerIbm);
    if (InRange(w, kRomanUpperIbm, kRomanCount)) return static_cast<uint16_t>(w - kRomanUpperIbm + kRomanLowerIbm);
    return w;
}

void UpperCaseCp932(char* psz) { ConvertCase<true>(psz); }
void LowerCaseCp932(char* psz) { ConvertCase<false>(psz); }

uint16_t FullWidthOf(uint8_t b)
{
    if (b >= 0x20 && b < 0x7F) return kFullAscii[b - 0x20];
    if (b >= 0xA1 && b < 0xE0) return kFullKana[b - 0xA1];
    return 0;
}

uint8_t HalfWidthOf(uint16_t w) { return kHalfTable.ab[w]; }

size_t ToFullWidthCp932(char* dst, size_t cap, const char* src) { return ConvertWidth<true>(dst, cap, src); }
size_t ToHalfWidthCp932(char* dst, size_t cap, const char* src) { return ConvertWidth<false>(dst, cap, src); }
