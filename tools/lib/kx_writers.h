// Writers of the compiled script files that the engine reads from kxbin\: the message table
// (kxe.kbn), the command table (kxc.kbn), the variable table (kxt.kbn), the script list
// (kxt_list.kbn), the variable definitions (kxv.kbn), the labels (kxl.kbn), the engine
// configuration (kxcfg.kbn) and the script bodies (kxt%05d.kbn). For tests, tools and the demo
// builder.
//
// Each writer takes plain records and returns the whole file image, little-endian. Bytes the
// engine never reads are filled with the options' fill byte (0 by default). The raw options write
// damaged files for the loaders' tests: a value given there is written in place of the true one,
// and nothing else changes (a count that does not match the records, a length beyond the file).
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// ---- kxe.kbn: message texts ------------------------------------------------------------------

struct KXE_ENTRY {
    int32_t nId = 0;
    std::string strText;   // cp932, may hold printf directives; written with a terminator
};
struct KXE_OPTIONS {
    uint8_t bFill = 0;
    std::optional<int32_t> rawCount;   // entry count written instead of the number of entries
};
std::vector<uint8_t> BuildKxe(const std::vector<KXE_ENTRY>& entries, const KXE_OPTIONS& opt = {});

// ---- kxc.kbn: command table ------------------------------------------------------------------

// Value kinds of an argument: evaluated to a 64-bit integer, to a text, or kept unevaluated.
enum { ARGKIND_INT = 0, ARGKIND_TEXT = 1, ARGKIND_RAW = 2 };

struct KXC_ARG {
    std::string strName;
    uint8_t bValueKind = ARGKIND_INT;
    uint8_t bCheckKind = 0;   // range check kind 0..28
};
struct KXC_COMMAND {
    std::string strName;
    std::vector<KXC_ARG> args;          // the argument id is the position
    std::optional<uint8_t> rawArgCount; // argument count written instead of args.size()
};
inline constexpr int KXC_ERRNO_TEXTS = 37;
inline constexpr int KXC_KEY_MAP_SIZE = 256;
struct KXC_TABLE {
    std::vector<KXC_COMMAND> commands;   // the command id is the position
    // Messages of errno 0..36. Fewer are padded with empty texts; more are written as given.
    std::vector<std::string> errnoTexts;
    // Key numbers of the named keys. Fewer than 256 are padded with 0; more are written as given.
    std::vector<uint8_t> keyMap;
};
struct KXC_OPTIONS {
    uint8_t bFill = 0;
    std::optional<int32_t> rawCommandCount;   // written instead of commands.size()
};
std::vector<uint8_t> BuildKxc(const KXC_TABLE& table, const KXC_OPTIONS& opt = {});
// The key map of the fixtures: entry j is key number j.
std::vector<uint8_t> IdentityKeyMap();

// ---- kxt.kbn: variable table -----------------------------------------------------------------

inline constexpr int32_t KXT_VERSION = 555;
struct KXT_OPTIONS {
    uint8_t bFill = 0;
    int32_t nVersion = KXT_VERSION;
};
// nHighestVar: the highest variable number (the engine makes nHighestVar + 1 descriptors);
// nExtra: the value scripts read as system variable 124.
std::vector<uint8_t> BuildKxt(int32_t nHighestVar, int32_t nExtra, const KXT_OPTIONS& opt = {});

// ---- kxt_list.kbn: script list ---------------------------------------------------------------

struct KXT_LIST_ENTRY {
    int32_t nIndex = 0;        // script index, 0..count-1 in a sound list
    std::string strName;       // the script's source file name (no terminator is written)
    int32_t nValue = 0;
    std::optional<int32_t> rawNameLength;   // length field written instead of strName.size()
};
struct KXT_LIST_OPTIONS {
    uint8_t bFill = 0;
    std::optional<int32_t> rawCount;
};
std::vector<uint8_t> BuildKxtList(const std::vector<KXT_LIST_ENTRY>& entries, const KXT_LIST_OPTIONS& opt = {});

// ---- kxv.kbn: variable definitions -----------------------------------------------------------

enum { VARSCOPE_GLOBAL = 1, VARSCOPE_SCRIPT = 2, VARSCOPE_KEPT = 3 };
enum { VARTYPE_NONE = 0, VARTYPE_INT = 1, VARTYPE_FLOAT = 2, VARTYPE_TEXT = 3 };

struct KXV_DEF {
    uint8_t bScope = VARSCOPE_GLOBAL;
    uint8_t bClass = 1;
    uint16_t nScript = 0;        // for VARSCOPE_SCRIPT
    uint16_t nVar = 0;
    uint8_t bType = VARTYPE_INT; // another value writes no value bytes
    std::vector<int32_t> dims;   // 0..8 sizes
    int64_t llValue = 0;         // VARTYPE_INT
    double dValue = 0;           // VARTYPE_FLOAT
    std::vector<uint8_t> expr;   // VARTYPE_TEXT: expression byte code whose text is the initial text
    std::optional<uint8_t> rawDimCount;      // written instead of dims.size()
    std::optional<uint16_t> rawExprLength;   // written instead of expr.size()
};
struct KXV_OPTIONS {
    uint8_t bFill = 0;
    std::optional<uint16_t> rawCount;
};
std::vector<uint8_t> BuildKxv(const std::vector<KXV_DEF>& defs, const KXV_OPTIONS& opt = {});

KXV_DEF MakeIntVarDef(uint16_t nVar, int64_t llValue, std::vector<int32_t> dims = {});
KXV_DEF MakeFloatVarDef(uint16_t nVar, double dValue, std::vector<int32_t> dims = {});
// The initial text is written as one text literal.
KXV_DEF MakeTextVarDef(uint16_t nVar, const std::string& strText, std::vector<int32_t> dims = {});
// The definitions that give the system variables (numbers below 1000) their types and element
// counts: every number the system-variable readers serve, kept by the reset of globals (scope 3),
// class 0, the texts starting empty.
std::vector<KXV_DEF> StandardSysVarDefs();

// A text literal token ('M') holding the cp932 text: backslashes outside double-byte characters
// are doubled, the quote is a byte that does not stand alone in the text, and a lead byte that
// ends the text without its trail byte is left out. Used for label names and initial texts.
std::vector<uint8_t> EncodeTextLiteral(const std::string& strText);

// ---- kxl.kbn: labels -------------------------------------------------------------------------

struct KXL_LABEL {
    std::string strName;      // at most 255 bytes (a longer name is cut)
    int32_t nCommand = 0;     // command index in its script
    uint16_t nScript = 0;
    uint8_t bIfDepth = 0;     // if-blocks and loops that enclose the label
    uint8_t bLoopDepth = 0;
    std::optional<uint32_t> rawHash;        // written (and sorted by) instead of the name's hash
    std::optional<uint8_t> rawNameLength;   // length byte written instead of the name's length
};
struct KXL_OPTIONS {
    uint8_t bFill = 0;
    std::optional<int32_t> rawCount;
    bool bKeepOrder = false;   // write the labels in the given order instead of sorted by hash
    // Bucket starts written instead of the computed ones (entry 0 included).
    std::optional<std::array<int32_t, 256>> rawBuckets;
};
// Labels sorted by ascending unsigned MurmurHash2 of the name (equal hashes keep their order);
// bucket start b is the position of the first label whose hash has top byte b or more (the label
// count when there is none).
std::vector<uint8_t> BuildKxl(const std::vector<KXL_LABEL>& labels, const KXL_OPTIONS& opt = {});

// ---- kxcfg.kbn: engine configuration ---------------------------------------------------------

enum { EXTCODE_PNG = 1, EXTCODE_BMP = 2, EXTCODE_JPG = 3, EXTCODE_GIF = 4, EXTCODE_PSB = 5, EXTCODE_WEBP = 6 };
enum { EXTCODE_OGG = 1, EXTCODE_WAV = 2 };

struct KXCFG {
    int32_t nWidth = 640;           // 0 and 0: the desktop's size
    int32_t nHeight = 480;
    int32_t nShow = 1;              // show the main window at the first frame
    std::array<uint8_t, 8> imageOrder = {EXTCODE_PNG, EXTCODE_BMP, EXTCODE_JPG, EXTCODE_GIF,
                                         EXTCODE_PSB, EXTCODE_WEBP, 0, 0};
    std::array<uint8_t, 4> soundOrder = {EXTCODE_OGG, EXTCODE_WAV, 0, 0};
    int32_t nThreaded = 0;          // frames on a thread of their own
    int32_t nDebug = 0;
    int32_t nSoundMode = 0;         // 0 none, 1 when the device opens, 2 required
    int32_t nResizable = 0;
    int32_t nFramed = 1;
    int32_t nWord60 = 0;            // stored by the engine, consulted nowhere
    int32_t nDevSourceOrder = 0;
    int32_t nReleaseSourceOrder = 0;
    std::string strTitle = "KOLVEX";   // cp932, at most 128 bytes in a sound file
};
struct KXCFG_OPTIONS {
    uint8_t bFill = 0;
    std::optional<uint16_t> rawTitleLength;   // written instead of strTitle.size()
};
std::vector<uint8_t> BuildKxcfg(const KXCFG& cfg, const KXCFG_OPTIONS& opt = {});

// ---- kxt%05d.kbn: script bodies --------------------------------------------------------------

inline constexpr size_t KX_BODY_HEADER_SIZE = 32;
inline constexpr size_t KX_ARG_RECORD_SIZE = 12;
inline constexpr size_t KX_COMMAND_RECORD_SIZE = 4;

// Assignment operators of an argument record ("=", "+=", "-=", "*=", "/="; the assignment command
// also uses "%=", "&=", "|=", "^=").
enum { ARGOP_SET = 0, ARGOP_ADD = 1, ARGOP_SUB = 2, ARGOP_MUL = 3, ARGOP_DIV = 4,
       ARGOP_MOD = 5, ARGOP_AND = 6, ARGOP_OR = 7, ARGOP_XOR = 8 };
// Evaluator types of an argument record.
enum { EVALTYPE_INT = 1, EVALTYPE_FLOAT = 2, EVALTYPE_TEXT = 3, EVALTYPE_TEXT_FLOAT = 4 };

struct KX_ARG_RECORD {
    uint8_t bId = 0;          // argument id
    uint8_t bSpare = 0;       // not read by the engine
    uint8_t bType = EVALTYPE_INT;
    uint8_t bOp = ARGOP_SET;
    uint32_t nLength = 0;     // expression length, or a command index in flow commands
    uint32_t nOffset = 0;     // expression offset in region 3
};
struct KX_COMMAND_RECORD {
    uint8_t bOpcode = 0;      // command id
    uint16_t wWord = 0;       // the command word (value counts of call and return)
    std::vector<KX_ARG_RECORD> args;
    std::optional<uint8_t> rawArgCount;   // written instead of args.size()
};
struct KX_BODY {
    std::vector<KX_COMMAND_RECORD> commands;
    std::vector<uint8_t> expr;      // region 3: the expression bytes
    std::vector<uint32_t> lines;    // region 4: source line per command (padded with 0 to the count)
};
struct KX_BODY_OPTIONS {
    uint8_t bFill = 0;
    std::optional<int32_t> rawCommandCount;
    std::array<std::optional<int32_t>, 4> rawRegionLength;   // length fields of regions 1..4
    bool bScramble = true;
    std::optional<std::array<uint8_t, 4>> rawKey;   // key used instead of the engine's
};
std::vector<uint8_t> BuildKxBody(const KX_BODY& body, const KX_BODY_OPTIONS& opt = {});
// The key bytes of script bodies, most significant byte of the key text's CRC-32 first.
std::array<uint8_t, 4> ScriptBodyKey();
// XORs byte i of a region with key byte i mod 4 (its own inverse).
void ScrambleRegion(uint8_t* p, size_t n, const std::array<uint8_t, 4>& key);

// The value-count word of the call and return commands (each count 0..16).
uint16_t MakeCallCountWord(int nInts, int nFloats, int nTexts);

// ---- file names ------------------------------------------------------------------------------

// Engine names of the compiled files (cp932 with '\').
#define KXBIN_KXE "kxbin\\kxe.kbn"
#define KXBIN_KXC "kxbin\\kxc.kbn"
#define KXBIN_KXT "kxbin\\kxt.kbn"
#define KXBIN_KXT_LIST "kxbin\\kxt_list.kbn"
#define KXBIN_KXV "kxbin\\kxv.kbn"
#define KXBIN_KXL "kxbin\\kxl.kbn"
#define KXBIN_KXCFG "kxbin\\kxcfg.kbn"
// "kxbin\kxt%05d.kbn" for a script index.
std::string KxBodyFileName(int nScript);
