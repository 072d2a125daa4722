// Writers of the compiled script files, byte for byte as the engine's loaders read them.
#include "tools/lib/kx_writers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/kx_format_consts.h"
#include "core/kx_hash.h"

namespace {

void PutU8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(static_cast<uint8_t>(v)); }
void PutU16(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 2; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutI32(std::vector<uint8_t>& out, int32_t v) { PutU32(out, static_cast<uint32_t>(v)); }
void PutU64(std::vector<uint8_t>& out, uint64_t v)
{
    for (int i = 0; i < 8; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutFill(std::vector<uint8_t>& out, size_t n, uint8_t bFill) { out.insert(out.end(), n, bFill); }
void PutBytes(std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }
void PutText(std::vector<uint8_t>& out, const std::string& s)
{
    PutBytes(out, s);
    out.push_back(0);
}

bool IsCp932Lead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

}  // namespace

// ---- kxe.kbn -------------------------------------------------------------------------------------

std::vector<uint8_t> BuildKxe(const std::vector<KXE_ENTRY>& entries, const KXE_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    PutFill(out, 8, opt.bFill);
    PutI32(out, opt.rawCount.value_or(static_cast<int32_t>(entries.size())));
    PutFill(out, 4, opt.bFill);
    for (const KXE_ENTRY& e : entries) {
        PutI32(out, e.nId);
        PutText(out, e.strText);
    }
    return out;
}

// ---- kxc.kbn -------------------------------------------------------------------------------------

std::vector<uint8_t> BuildKxc(const KXC_TABLE& table, const KXC_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    PutFill(out, 8, opt.bFill);
    PutI32(out, opt.rawCommandCount.value_or(static_cast<int32_t>(table.commands.size())));
    PutFill(out, 4, opt.bFill);
    for (const KXC_COMMAND& c : table.commands) {
        PutText(out, c.strName);
        PutU8(out, c.rawArgCount.value_or(static_cast<uint8_t>(c.args.size())));
        for (const KXC_ARG& a : c.args) {
            PutText(out, a.strName);
            PutU8(out, a.bValueKind);
            PutU8(out, a.bCheckKind);
        }
    }
    for (const std::string& s : table.errnoTexts) PutText(out, s);
    for (size_t i = table.errnoTexts.size(); i < KXC_ERRNO_TEXTS; i++) PutU8(out, 0);
    out.insert(out.end(), table.keyMap.begin(), table.keyMap.end());
    for (size_t i = table.keyMap.size(); i < KXC_KEY_MAP_SIZE; i++) PutU8(out, 0);
    return out;
}

std::vector<uint8_t> IdentityKeyMap()
{
    std::vector<uint8_t> map(KXC_KEY_MAP_SIZE);
    for (int i = 0; i < KXC_KEY_MAP_SIZE; i++) map[i] = static_cast<uint8_t>(i);
    return map;
}

// ---- kxt.kbn -------------------------------------------------------------------------------------

std::vector<uint8_t> BuildKxt(int32_t nHighestVar, int32_t nExtra, const KXT_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    PutFill(out, 4, opt.bFill);
    PutI32(out, opt.nVersion);
    PutI32(out, nHighestVar);
    PutI32(out, nExtra);
    return out;
}

// ---- kxt_list.kbn --------------------------------------------------------------------------------

std::vector<uint8_t> BuildKxtList(const std::vector<KXT_LIST_ENTRY>& entries, const KXT_LIST_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    PutFill(out, 8, opt.bFill);
    PutI32(out, opt.rawCount.value_or(static_cast<int32_t>(entries.size())));
    for (const KXT_LIST_ENTRY& e : entries) {
        PutI32(out, e.nIndex);
        PutI32(out, e.rawNameLength.value_or(static_cast<int32_t>(e.strName.size())));
        PutBytes(out, e.strName);
        PutFill(out, 16, opt.bFill);
        PutI32(out, e.nValue);
    }
    return out;
}

// ---- kxv.kbn -------------------------------------------------------------------------------------

std::vector<uint8_t> BuildKxv(const std::vector<KXV_DEF>& defs, const KXV_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    PutFill(out, 8, opt.bFill);
    PutU16(out, opt.rawCount.value_or(static_cast<uint16_t>(defs.size())));
    for (const KXV_DEF& d : defs) {
        PutU8(out, d.bScope);
        PutU8(out, d.bClass);
        PutU16(out, d.nScript);
        PutU16(out, d.nVar);
        PutU8(out, d.bType);
        PutU8(out, d.rawDimCount.value_or(static_cast<uint8_t>(d.dims.size())));
        for (int32_t n : d.dims) PutI32(out, n);
        switch (d.bType) {
        case VARTYPE_INT:
            PutU64(out, static_cast<uint64_t>(d.llValue));
            break;
        case VARTYPE_FLOAT: {
            uint64_t bits;
            std::memcpy(&bits, &d.dValue, sizeof bits);
            PutU64(out, bits);
            break;
        }
        case VARTYPE_TEXT:
            PutU16(out, d.rawExprLength.value_or(static_cast<uint16_t>(d.expr.size())));
            out.insert(out.end(), d.expr.begin(), d.expr.end());
            break;
        default:
            break;
        }
    }
    return out;
}

KXV_DEF MakeIntVarDef(uint16_t nVar, int64_t llValue, std::vector<int32_t> dims)
{
    KXV_DEF d;
    d.nVar = nVar;
    d.bType = VARTYPE_INT;
    d.llValue = llValue;
    d.dims = std::move(dims);
    return d;
}

KXV_DEF MakeFloatVarDef(uint16_t nVar, double dValue, std::vector<int32_t> dims)
{
    KXV_DEF d;
    d.nVar = nVar;
    d.bType = VARTYPE_FLOAT;
    d.dValue = dValue;
    d.dims = std::move(dims);
    return d;
}

KXV_DEF MakeTextVarDef(uint16_t nVar, const std::string& strText, std::vector<int32_t> dims)
{
    KXV_DEF d;
    d.nVar = nVar;
    d.bType = VARTYPE_TEXT;
    d.expr = EncodeTextLiteral(strText);
    d.dims = std::move(dims);
    return d;
}

std::vector<KXV_DEF> StandardSysVarDefs()
{
    // Numbers, type and element count of every system variable the readers serve (a count of 0
    // is a plain variable without dimensions).
    struct SHAPE {
        int nFirst, nLast;
        uint8_t bType;
        int32_t nCount;
    };
    static const SHAPE kShapes[] = {
        {0, 0, VARTYPE_INT, 16},       // local time now and at start
        {1, 1, VARTYPE_INT, 5},        // clock and the four timers
        {2, 9, VARTYPE_INT, 0},
        {10, 10, VARTYPE_FLOAT, 0},    // pi
        {11, 11, VARTYPE_INT, 0},
        {12, 12, VARTYPE_TEXT, 9},     // command-line words
        {13, 13, VARTYPE_INT, 0},
        {14, 14, VARTYPE_TEXT, 4096},  // dropped files
        {15, 15, VARTYPE_INT, 0},
        {48, 49, VARTYPE_INT, 0},
        {50, 50, VARTYPE_INT, 1},      // indirect access: the subscript is a reference value
        {51, 51, VARTYPE_FLOAT, 1},
        {52, 52, VARTYPE_TEXT, 1},
        {53, 53, VARTYPE_INT, 17},     // call arguments, given flags and returned values 1..16
        {54, 54, VARTYPE_FLOAT, 17},
        {55, 55, VARTYPE_TEXT, 17},
        {56, 60, VARTYPE_INT, 17},
        {61, 61, VARTYPE_FLOAT, 17},
        {62, 62, VARTYPE_TEXT, 17},
        {63, 67, VARTYPE_INT, 17},     // ... and the thread parameters 1..16
        {68, 68, VARTYPE_FLOAT, 17},
        {69, 69, VARTYPE_TEXT, 17},
        {70, 70, VARTYPE_INT, 1},
        {103, 107, VARTYPE_TEXT, 0},   // folders
        {108, 121, VARTYPE_INT, 0},
        {122, 123, VARTYPE_TEXT, 0},   // message texts
        {124, 124, VARTYPE_INT, 0},
        {125, 125, VARTYPE_TEXT, 0},
        {126, 126, VARTYPE_INT, 0},
        {127, 127, VARTYPE_TEXT, 256}, // one-byte texts
        {128, 131, VARTYPE_TEXT, 0},   // tree paths
        {132, 143, VARTYPE_INT, 0},
        {144, 144, VARTYPE_INT, 1024}, // hold counter by key number
        {145, 275, VARTYPE_INT, 0},
        {276, 279, VARTYPE_INT, 16},   // joystick directions by joystick
        {280, 280, VARTYPE_INT, 512},  // joystick buttons: 32 x joystick + button
        {281, 409, VARTYPE_INT, 0},
        {410, 413, VARTYPE_INT, 16},
        {414, 414, VARTYPE_INT, 512},
        {415, 542, VARTYPE_INT, 0},
        {543, 546, VARTYPE_INT, 16},
        {547, 547, VARTYPE_INT, 512},
    };
    std::vector<KXV_DEF> defs;
    for (const SHAPE& s : kShapes) {
        for (int n = s.nFirst; n <= s.nLast; n++) {
            KXV_DEF d;
            d.bScope = VARSCOPE_KEPT;
            d.bClass = 0;
            d.nVar = static_cast<uint16_t>(n);
            d.bType = s.bType;
            if (s.nCount > 0) d.dims.push_back(s.nCount);
            if (s.bType == VARTYPE_TEXT) d.expr = EncodeTextLiteral("");
            defs.push_back(std::move(d));
        }
    }
    return defs;
}

std::vector<uint8_t> EncodeTextLiteral(const std::string& strText)
{
    // The body with backslashes doubled; a lead byte carries its trail byte through unchanged.
    std::string body;
    std::vector<bool> standalone(256, false);
    for (size_t i = 0; i < strText.size(); i++) {
        uint8_t b = static_cast<uint8_t>(strText[i]);
        if (IsCp932Lead(b)) {
            // The engine copies a lead byte with the byte after it: a lead byte that ends the
            // text would take the closing quote with it, so it is left out.
            if (i + 1 < strText.size()) {
                body += strText[i];
                body += strText[++i];
            }
            continue;
        }
        standalone[b] = true;
        body += strText[i];
        if (b == '\\') body += '\\';
    }
    // The quote: a plain ASCII byte that never stands alone in the text.
    static const char kQuotes[] = "\"'|~^`#@!$%&*+-=?/:;<>[]{}()_,.0123456789";
    char q = '"';
    for (const char* p = kQuotes; *p; p++) {
        if (!standalone[static_cast<uint8_t>(*p)]) {
            q = *p;
            break;
        }
    }
    std::vector<uint8_t> out;
    PutU8(out, 'M');
    PutU16(out, static_cast<uint32_t>(body.size() + 2));
    PutU8(out, static_cast<uint8_t>(q));
    PutBytes(out, body);
    PutU8(out, static_cast<uint8_t>(q));
    return out;
}

// ---- kxl.kbn -------------------------------------------------------------------------------------

std::vector<uint8_t> BuildKxl(const std::vector<KXL_LABEL>& labels, const KXL_OPTIONS& opt)
{
    struct ROW {
        const KXL_LABEL* pLabel;
        std::string strName;
        uint32_t nHash;
    };
    std::vector<ROW> rows;
    for (const KXL_LABEL& l : labels) {
        ROW r{&l, l.strName.substr(0, 255), 0};
        r.nHash = l.rawHash.value_or(MurmurHash2(r.strName.data(), r.strName.size(), 0));
        rows.push_back(std::move(r));
    }
    if (!opt.bKeepOrder)
        std::stable_sort(rows.begin(), rows.end(), [](const ROW& a, const ROW& b) { return a.nHash < b.nHash; });

    std::vector<uint8_t> out;
    PutFill(out, 8, opt.bFill);
    PutI32(out, opt.rawCount.value_or(static_cast<int32_t>(rows.size())));
    for (int b = 0; b < 256; b++) {
        int32_t nStart = static_cast<int32_t>(rows.size());
        for (size_t i = 0; i < rows.size(); i++) {
            if (static_cast<int>(rows[i].nHash >> 24) >= b) {
                nStart = static_cast<int32_t>(i);
                break;
            }
        }
        PutI32(out, opt.rawBuckets ? (*opt.rawBuckets)[b] : nStart);
    }
    for (const ROW& r : rows) {
        PutU8(out, r.pLabel->rawNameLength.value_or(static_cast<uint8_t>(r.strName.size())));
        PutBytes(out, r.strName);
        PutU32(out, r.nHash);
        PutI32(out, r.pLabel->nCommand);
        PutU16(out, r.pLabel->nScript);
        PutU8(out, r.pLabel->bIfDepth);
        PutU8(out, r.pLabel->bLoopDepth);
    }
    return out;
}

// ---- kxcfg.kbn -----------------------------------------------------------------------------------

std::vector<uint8_t> BuildKxcfg(const KXCFG& cfg, const KXCFG_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    PutFill(out, 16, opt.bFill);
    PutI32(out, cfg.nWidth);
    PutI32(out, cfg.nHeight);
    PutI32(out, cfg.nShow);
    out.insert(out.end(), cfg.imageOrder.begin(), cfg.imageOrder.end());
    out.insert(out.end(), cfg.soundOrder.begin(), cfg.soundOrder.end());
    PutI32(out, cfg.nThreaded);
    PutI32(out, cfg.nDebug);
    PutI32(out, cfg.nSoundMode);
    PutI32(out, cfg.nResizable);
    PutI32(out, cfg.nFramed);
    PutI32(out, cfg.nWord60);
    PutI32(out, cfg.nDevSourceOrder);
    PutI32(out, cfg.nReleaseSourceOrder);
    PutFill(out, 4, opt.bFill);
    PutU16(out, opt.rawTitleLength.value_or(static_cast<uint16_t>(cfg.strTitle.size())));
    PutBytes(out, cfg.strTitle);
    return out;
}

// ---- kxt%05d.kbn ---------------------------------------------------------------------------------

std::array<uint8_t, 4> ScriptBodyKey()
{
    return {static_cast<uint8_t>(KX_SCRIPT_KEY_CRC >> 24), static_cast<uint8_t>(KX_SCRIPT_KEY_CRC >> 16),
            static_cast<uint8_t>(KX_SCRIPT_KEY_CRC >> 8), static_cast<uint8_t>(KX_SCRIPT_KEY_CRC)};
}

void ScrambleRegion(uint8_t* p, size_t n, const std::array<uint8_t, 4>& key)
{
    for (size_t i = 0; i < n; i++) p[i] ^= key[i & 3];
}

uint16_t MakeCallCountWord(int nInts, int nFloats, int nTexts)
{
    return static_cast<uint16_t>(((nInts & 31) << 3) | ((nFloats >> 2) & 7) | ((nTexts & 31) << 9) |
                                 ((nFloats & 3) << 14));
}

std::vector<uint8_t> BuildKxBody(const KX_BODY& body, const KX_BODY_OPTIONS& opt)
{
    std::vector<uint8_t> regions[4];
    for (const KX_COMMAND_RECORD& c : body.commands) {
        PutU8(regions[0], c.bOpcode);
        PutU8(regions[0], c.rawArgCount.value_or(static_cast<uint8_t>(c.args.size())));
        PutU16(regions[0], c.wWord);
        for (const KX_ARG_RECORD& a : c.args) {
            PutU8(regions[1], a.bId);
            PutU8(regions[1], a.bSpare);
            PutU8(regions[1], a.bType);
            PutU8(regions[1], a.bOp);
            PutU32(regions[1], a.nLength);
            PutU32(regions[1], a.nOffset);
        }
    }
    regions[2] = body.expr;
    for (size_t i = 0; i < std::max(body.lines.size(), body.commands.size()); i++)
        PutU32(regions[3], i < body.lines.size() ? body.lines[i] : 0);

    std::vector<uint8_t> out;
    PutFill(out, 8, opt.bFill);
    PutI32(out, opt.rawCommandCount.value_or(static_cast<int32_t>(body.commands.size())));
    for (int r = 0; r < 4; r++)
        PutI32(out, opt.rawRegionLength[r].value_or(static_cast<int32_t>(regions[r].size())));
    PutFill(out, 4, opt.bFill);
    std::array<uint8_t, 4> key = opt.rawKey.value_or(ScriptBodyKey());
    for (auto& region : regions) {
        if (opt.bScramble) ScrambleRegion(region.data(), region.size(), key);
        out.insert(out.end(), region.begin(), region.end());
    }
    return out;
}

std::string KxBodyFileName(int nScript)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "kxbin\\kxt%05d.kbn", nScript);
    return sz;
}
