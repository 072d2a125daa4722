// Writes the seed corpora of every fuzz target from the project's own writers (and libpng/libwebp
// for PNG and WebP): make_seeds DIR writes DIR/<target>/<seed>. The files are small sound inputs
// (and a few slightly damaged ones) from which the fuzzers start.
#include <png.h>
#include <webp/encode.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/appended_data.h"
#include "core/object_tree.h"
#include "fuzz/support.h"
#include "script/cmd_thread.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/flow_frames.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/variables.h"
#include "platform/plat_registry.h"
#include "tools/lib/bundle_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/frame_sheet_writer.h"
#include "tools/lib/gif_writer.h"
#include "tools/lib/jpeg_writer.h"
#include "tools/lib/kcg_writer.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/mpeg_writer.h"
#include "tools/lib/ogg_writer.h"
#include "tools/lib/ogv_writer.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/save_file_builder.h"
#include "tools/lib/script_builder.h"
#include "tools/lib/wav_writer.h"

namespace fs = std::filesystem;
using BYTES = std::vector<uint8_t>;

namespace {

std::string s_strRoot;
int s_nWritten = 0;

void Seed(const std::string& strTarget, const std::string& strName, const BYTES& data)
{
    if (data.empty()) {
        std::fprintf(stderr, "make_seeds: %s/%s came out empty\n", strTarget.c_str(), strName.c_str());
        std::exit(1);
    }
    const fs::path dir = fs::path(s_strRoot) / strTarget;
    fs::create_directories(dir);
    std::ofstream out(dir / strName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    ++s_nWritten;
}

// A w x h picture of B,G,R,A words with a gradient and a transparent corner.
std::vector<uint32_t> Picture(int w, int h)
{
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t a = (x < 2 && y < 2) ? 0 : 255;
            px[size_t(y) * w + x] = a << 24 | uint32_t(x * 30 & 255) << 16 | uint32_t(y * 40 & 255) << 8 | uint32_t((x + y) * 9 & 255);
        }
    return px;
}
// The same as R,G,B,A bytes.
BYTES Rgba(int w, int h)
{
    BYTES out;
    for (uint32_t v : Picture(w, h)) {
        out.push_back(uint8_t(v >> 16));
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 24));
    }
    return out;
}

void PackSeeds()
{
    auto entry = [](const std::string& strName, const std::string& strData, int nCompression) {
        PACK_WRITER_ENTRY e;
        e.strName = strName;
        e.data.assign(strData.begin(), strData.end());
        e.nCompression = nCompression;
        return e;
    };
    std::string strLong;
    for (int i = 0; i < 3000; ++i) strLong += char('a' + i * 7 % 26);
    Seed("fuzz_pack_index", "stored", BuildPackImage({entry("kxbin\\kxc.kbn", "script", 0), entry("bg\\a.png", "picture", 0)}));
    Seed("fuzz_pack_index", "zlib", BuildPackImage({entry("se\\click.wav", strLong, 1), entry("readme.txt", "text", 1)}));
    PACK_WRITER_ENTRY bare = entry("kxbin\\kxcfg.kbn", strLong, 0);
    bare.bRepairTrailer = false;
    Seed("fuzz_pack_index", "no_trailer", BuildPackImage({bare}));
    // A damaged stored entry that the parity trailer repairs.
    BYTES repaired = BuildPackImage({entry("a.txt", strLong, 0)});
    const int64_t llAt = FindPackEntryDataOffset(repaired, 0);
    if (llAt > 0) repaired[size_t(llAt) + 100] ^= 0x5A;
    Seed("fuzz_pack_index", "repair", repaired);
}

void ScriptSeeds()
{
    const std::vector<GAME_FILE> files = BuildGameFiles(FuzzSampleGame());
    const char* const kTables[] = {KX_FILE_ERROR_TEXTS, KX_FILE_COMMANDS, KX_FILE_VAR_TABLE,
                                   KX_FILE_SCRIPT_LIST, KX_FILE_VAR_DEFS, KX_FILE_LABELS};
    for (int i = 0; i < 6; ++i)
        for (const GAME_FILE& f : files)
            if (f.strName == kTables[i]) {
                BYTES b = {uint8_t(i)};
                b.insert(b.end(), f.data.begin(), f.data.end());
                Seed("fuzz_script_tables", "table" + std::to_string(i), b);
            }
    for (int s = 0; s < 2; ++s)
        for (const GAME_FILE& f : files)
            if (f.strName == KxBodyFileName(s)) Seed("fuzz_script_body", "body" + std::to_string(s), f.data);

    KXCFG cfg;
    Seed("fuzz_engine_config", "default", BuildKxcfg(cfg));
    cfg.nWidth = 1280;
    cfg.nHeight = 720;
    cfg.nThreaded = 1;
    cfg.nSoundMode = 2;
    cfg.strTitle = std::string("\x83\x65\x83\x58\x83\x67 title", 13);
    Seed("fuzz_engine_config", "wide", BuildKxcfg(cfg));
    cfg.nWidth = cfg.nHeight = 0;
    cfg.strTitle = std::string(128, 'T');
    Seed("fuzz_engine_config", "desktop", BuildKxcfg(cfg));
}

void SettingsSeeds()
{
    BYTES full(128, 0);
    const int32_t slots[32] = {1, 0, 1, 1, 0, 0, 1, 2, 3, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 2, 1};
    for (int i = 0; i < 32; ++i)
        for (int b = 0; b < 4; ++b) full[size_t(i) * 4 + b] = uint8_t(uint32_t(slots[i]) >> (8 * b));
    Seed("fuzz_settings", "full", full);
    Seed("fuzz_settings", "short", BYTES(full.begin(), full.begin() + 30));
}

BYTES Png(int w, int h, uint32_t nFormat)
{
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = uint32_t(w);
    img.height = uint32_t(h);
    img.format = nFormat;
    // The picture's bytes in the layout of the format (16-bit samples repeat the 8-bit value).
    const BYTES rgba = Rgba(w, h);
    const bool b16 = (nFormat & PNG_FORMAT_FLAG_LINEAR) != 0;
    const bool bColour = (nFormat & PNG_FORMAT_FLAG_COLOR) != 0;
    const bool bAlpha = (nFormat & PNG_FORMAT_FLAG_ALPHA) != 0;
    std::vector<uint16_t> src;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        if (bColour) src.insert(src.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
        else src.push_back(rgba[i + 1]);
        if (bAlpha) src.push_back(rgba[i + 3]);
    }
    BYTES bytes;
    std::vector<uint16_t> words;
    for (uint16_t v : src) {
        bytes.push_back(uint8_t(v));
        words.push_back(uint16_t(v * 257));
    }
    const void* pSrc = b16 ? static_cast<const void*>(words.data()) : static_cast<const void*>(bytes.data());
    png_alloc_size_t nSize = 0;
    if (!png_image_write_to_memory(&img, nullptr, &nSize, 0, pSrc, 0, nullptr)) return {};
    BYTES out(nSize);
    if (!png_image_write_to_memory(&img, out.data(), &nSize, 0, pSrc, 0, nullptr)) return {};
    out.resize(nSize);
    return out;
}

BYTES WebP(int w, int h, bool bLossless)
{
    const BYTES rgba = Rgba(w, h);
    uint8_t* pOut = nullptr;
    const size_t n = bLossless ? WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &pOut)
                               : WebPEncodeRGBA(rgba.data(), w, h, w * 4, 80.0f, &pOut);
    BYTES out(pOut, pOut + n);
    WebPFree(pOut);
    return out;
}

void ImageSeeds()
{
    const std::vector<uint32_t> px = Picture(7, 5);
    std::vector<uint8_t> indices(35);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(i % 16);
    for (int nBits : {1, 4, 8, 24, 32}) {
        BMP_WRITER_OPTIONS opt;
        opt.nBits = nBits;
        for (int i = 0; i < 16; ++i) opt.palette.push_back(uint32_t(i * 0x101010));
        std::vector<uint8_t> idx = indices;
        if (nBits == 1)
            for (uint8_t& v : idx) v &= 1;
        Seed("fuzz_bmp", "bits" + std::to_string(nBits), WriteBmp(7, 5, opt, px.data(), idx.data()));
        opt.bTopDown = true;
        Seed("fuzz_bmp", "topdown" + std::to_string(nBits), WriteBmp(7, 5, opt, px.data(), idx.data()));
    }

    Seed("fuzz_png", "rgba", Png(9, 6, PNG_FORMAT_RGBA));
    Seed("fuzz_png", "rgb", Png(9, 6, PNG_FORMAT_RGB));
    Seed("fuzz_png", "grey", Png(9, 6, PNG_FORMAT_GRAY));
    Seed("fuzz_png", "grey_alpha", Png(9, 6, PNG_FORMAT_GA));
    Seed("fuzz_png", "rgba16", Png(4, 3, PNG_FORMAT_RGBA | PNG_FORMAT_FLAG_LINEAR));

    const BYTES rgba = Rgba(16, 8);
    BYTES rgb, grey, cmyk;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
        grey.push_back(rgba[i + 1]);
        cmyk.insert(cmyk.end(), {uint8_t(255 - rgba[i]), uint8_t(255 - rgba[i + 1]), uint8_t(255 - rgba[i + 2]), 20});
    }
    Seed("fuzz_jpeg", "rgb", EncodeJpegSamples(rgb, 16, 8, 3, 90));
    Seed("fuzz_jpeg", "grey", EncodeJpegSamples(grey, 16, 8, 1, 75));
    Seed("fuzz_jpeg", "cmyk", EncodeJpegSamples(cmyk, 16, 8, 4, 60));

    Seed("fuzz_webp", "lossy", WebP(12, 7, false));
    Seed("fuzz_webp", "lossless", WebP(12, 7, true));

    const std::vector<uint32_t> big = Picture(10, 6);
    for (int nCodec = 0; nCodec < 4; ++nCodec) {
        KCG_WRITER_OPTIONS opt;
        opt.nCodec = nCodec;
        Seed("fuzz_kcg", "codec" + std::to_string(nCodec), BuildKcgImage(10, 6, big.data(), opt));
    }
    KCG_WRITER_OPTIONS split;
    split.nCodec = 1;
    split.nSplitRow = 0;
    Seed("fuzz_kcg", "split0", BuildKcgImage(10, 6, big.data(), split));

    GIF_WRITER_FILE gif;
    gif.nScreenWidth = 6;
    gif.nScreenHeight = 5;
    for (int i = 0; i < 4; ++i) gif.globalPalette.insert(gif.globalPalette.end(), {uint8_t(i * 60), uint8_t(255 - i * 60), uint8_t(i * 20)});
    gif.nLoopCount = 0;
    GIF_WRITER_FRAME a;
    a.nWidth = 6;
    a.nHeight = 5;
    for (int i = 0; i < 30; ++i) a.indices.push_back(uint8_t(i % 4));
    a.bControl = true;
    a.bTransparent = true;
    a.nTransparentIndex = 3;
    a.nDelay = 10;
    GIF_WRITER_FRAME b;
    b.nLeft = 2;
    b.nTop = 1;
    b.nWidth = 3;
    b.nHeight = 4;
    for (int i = 0; i < 12; ++i) b.indices.push_back(uint8_t(i % 8));
    for (int i = 0; i < 8; ++i) b.localPalette.insert(b.localPalette.end(), {uint8_t(i * 30), 0, uint8_t(i * 10)});
    b.bInterlace = true;
    b.bControl = true;
    b.nDisposal = 2;
    gif.frames = {a, b};
    Seed("fuzz_gif", "two_frames", WriteGIF(gif));
    gif.b87a = true;
    gif.nLoopCount = -1;
    gif.frames = {a};
    gif.frames[0].bControl = false;
    gif.frames[0].lzw.nClearAtPixel = 9;
    Seed("fuzz_gif", "gif87a", WriteGIF(gif));

    std::vector<SHEET_FRAME> frames;
    for (int i = 0; i < 2; ++i) {
        BYTES colour, alpha;
        for (int p = 0; p < 12; ++p) {
            colour.insert(colour.end(), {uint8_t(200 - i * 90), uint8_t(30 + p * 10), uint8_t(40)});
            alpha.push_back(uint8_t(60 + i * 80));
        }
        frames.push_back({EncodeJpegSamples(colour, 4, 3, 3, 90), EncodeJpegSamples(alpha, 4, 3, 1, 90)});
    }
    Seed("fuzz_frame_sheet", "alpha", WriteFrameSheetBytes(frames, 7, -8, 9));
    for (SHEET_FRAME& f : frames) f.alpha.clear();
    Seed("fuzz_frame_sheet", "colour_only", WriteFrameSheetBytes(frames, 1, 2, 3));
}

void SaveSeeds()
{
    auto var = [](int nDno, const BYTES& body) {
        SAVE_BUILDER_RECORD r;
        r.nDno = nDno;
        r.nKind = 0;
        r.raw = body;
        return r;
    };
    SAVE_BUILDER_RECORD layer;
    layer.nDno = 8;
    layer.nKind = 1;
    BYTES pixels;
    for (uint32_t v : Picture(3, 2))
        for (int b = 0; b < 4; ++b) pixels.push_back(uint8_t(v >> (8 * b)));
    layer.raw = MakeSaveLayerBody(3, 2, pixels);
    SAVE_BUILDER_RECORD container;
    container.nDno = 9;
    container.nKind = 2;
    SAVE_BUILDER_RECORD sub0 = var(0, MakeSaveIntBody({}, {42}));
    sub0.wVar = 1000;
    SAVE_BUILDER_RECORD sub1 = var(0, MakeSaveTextBody({8}, {"a", "bb", "", "ccc", "d", "e", "f", "g"}));
    sub1.wVar = 1004;
    container.subRecords = {sub0, sub1};
    Seed("fuzz_save", "records", BuildSaveImage({var(1, MakeSaveIntBody({}, {-5})),
                                                 var(2, MakeSaveIntBody({2, 3}, {1, 2, 3, 4, 5, 6})),
                                                 var(3, MakeSaveFloatBody({2, 3}, {0.5, 1, 2, 3, 4, -1})),
                                                 var(4, MakeSaveTextBody({}, {"one"}))}));
    Seed("fuzz_save", "layer_container", BuildSaveImage({var(5, MakeSaveTextBody({8}, {"a", "b", "c", "d", "e", "f", "g", "h"})),
                                                         layer, container}));
    std::vector<SLOT_BLOB_ENTRY> slots(500);
    slots[0].image = BuildSaveImage({var(1, MakeSaveIntBody({2, 3}, {6, 5, 4, 3, 2, 1}))});
    SAVE_BUILDER_RECORD blob = MakeSlotBlobRecord(slots);
    blob.nDno = 1024;
    Seed("fuzz_save", "slot_blob", BuildSaveImage({blob}));
}

void SoundSeeds()
{
    const std::vector<int16_t> mono = MakeSineSamples(600, 1, 8000, 440, 9000);
    const std::vector<int16_t> stereo = MakeSineSamples(600, 2, 11025, 300, 12000);
    struct KIND {
        const char* pszName;
        uint16_t wTag;
        uint16_t wBits;
    } kinds[] = {{"pcm8", WAVTAG_PCM, 8}, {"pcm16", WAVTAG_PCM, 16}, {"alaw", WAVTAG_ALAW, 8},
                 {"mulaw", WAVTAG_MULAW, 8}, {"ima", WAVTAG_IMAADPCM, 4}, {"msadpcm", WAVTAG_MSADPCM, 4}};
    for (const KIND& k : kinds) {
        for (int nChannels : {1, 2}) {
            WAV_WRITER_OPTIONS opt;
            opt.wFormatTag = k.wTag;
            opt.wBitsPerSample = k.wBits;
            opt.nChannels = uint16_t(nChannels);
            opt.nSamplesPerSec = nChannels == 1 ? 8000 : 11025;
            if (k.wTag == WAVTAG_IMAADPCM || k.wTag == WAVTAG_MSADPCM) opt.nBlockAlign = uint16_t(64 * nChannels);
            if (nChannels == 2) opt.afterData.push_back(WAV_CHUNK{});
            const std::vector<int16_t>& s = nChannels == 1 ? mono : stereo;
            const BYTES wav = WriteWavSamples(opt, s.data(), s.size() / size_t(nChannels));
            const std::string strName = std::string(k.pszName) + (nChannels == 1 ? "_mono" : "_stereo");
            Seed("fuzz_wav", strName, wav);
            if (k.wTag == WAVTAG_PCM) continue;
            // The converter's seed: the fmt chunk's bytes, then the data chunk's.
            size_t nFmt = 0, nFmtLen = 0, nData = 0, nDataLen = 0;
            for (size_t p = 12; p + 8 <= wav.size();) {
                const uint32_t n = FuzzU32(&wav[p + 4]);
                if (std::memcmp(&wav[p], "fmt ", 4) == 0) nFmt = p + 8, nFmtLen = n;
                if (std::memcmp(&wav[p], "data", 4) == 0) nData = p + 8, nDataLen = std::min<size_t>(n, wav.size() - p - 8);
                p += 8 + n + (n & 1);
            }
            BYTES acm = {uint8_t(nFmtLen), uint8_t(nFmtLen >> 8)};
            acm.insert(acm.end(), wav.begin() + long(nFmt), wav.begin() + long(nFmt + nFmtLen));
            acm.insert(acm.end(), wav.begin() + long(nData), wav.begin() + long(nData + std::min<size_t>(nDataLen, 700)));
            Seed("fuzz_acm", strName, acm);
        }
    }
    OGG_WRITER_OPTIONS ogg;
    ogg.nRate = 8000;
    ogg.llFrames = 1600;
    Seed("fuzz_ogg", "mono", WriteOggVorbis(ogg));
    ogg.nChannels = 2;
    ogg.nRate = 11025;
    ogg.signal = OGGSIG_RAMP;
    ogg.llFrames = 2000;
    Seed("fuzz_ogg", "stereo", WriteOggVorbis(ogg));
}

void ThreadStateSeeds()
{
    const std::vector<GAME_FILE> files = BuildGameFiles(FuzzSampleGame());
    FuzzSetMemoryFiles(FuzzFilesOf(files));
    InstallEvaluator();
    FillCmdHandlers(0);
    TREE_NODE* pSystem = FuzzCreateSystemThread();
    if (!pSystem || StartScriptSystem() != 0 || LoadScriptBody(1) != 1) {
        std::fprintf(stderr, "make_seeds: the sample game does not start\n");
        std::exit(1);
    }
    SCRIPT_THREAD* t = static_cast<SCRIPT_THREAD*>(pSystem->pPayload);
    std::vector<char> buf(KX_THREAD_STATE_FIXED_MAX + 300);
    auto put = [&](const std::string& strName) {
        const int n = EncodeThreadState(buf.data(), buf.size(), t);
        if (n <= 0) {
            std::fprintf(stderr, "make_seeds: thread state %s not written\n", strName.c_str());
            std::exit(1);
        }
        Seed("fuzz_thread_state", strName, BYTES(buf.begin(), buf.begin() + n));
    };
    put("at_start");
    SetThreadBody(t, 1);
    t->nPC = 3;
    t->anTextEnd[0] = 0x1234;
    for (int i = 0; i <= 2; ++i) {
        if (!t->apIf[i]) t->apIf[i] = static_cast<IF_BLOCK*>(std::calloc(1, sizeof(IF_BLOCK)));
        if (!t->apCall[i]) t->apCall[i] = static_cast<CALL_FRAME*>(std::calloc(1, sizeof(CALL_FRAME)));
        if (!t->apLoop[i]) t->apLoop[i] = static_cast<LOOP_FRAME*>(std::calloc(1, sizeof(LOOP_FRAME)));
    }
    *t->apIf[0] = IF_BLOCK{1, 2, 6};
    *t->apIf[1] = IF_BLOCK{1, 3, 0};
    t->apCall[0]->nReturnCommand = 4;
    t->apCall[0]->wReturnScript = 0;
    *t->apLoop[0] = LOOP_FRAME{0, 1, 7, 2, 3};
    t->nIfDepth = 2;
    t->nCallDepth = 1;
    t->nLoopDepth = 1;
    put("nested");
    FuzzFreeScriptGame();
    FuzzClearMemoryFiles();
}

// ---- the parsers of the script run, the host files and the texts ----

BYTES TextBytes(const std::string& s) { return BYTES(s.begin(), s.end()); }

void ScriptRunSeeds()
{
    const std::vector<GAME_FILE> files = BuildGameFiles(FuzzSampleGame());
    for (const GAME_FILE& f : files)
        if (f.strName == KxBodyFileName(0)) Seed("fuzz_script_run", "sample", f.data);
    // A body that runs the script's own commands: assignments, math, queries, a thread, a call.
    auto text = [](uint8_t bId, const std::string& s) { return ExprArg(bId, MakeExprText(s), EVALTYPE_TEXT); };
    auto num = [](uint8_t bId, int64_t v) { return ExprArg(bId, MakeExprInt(v)); };
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, KX_START_LABEL);
    EmitCommand(&b, KXCMD_ASSIGN, {ExprArg(0, MakeExprVar(1000)), num(1, 5)});
    BeginLoop(&b, MakeExprVar(1000));
    EmitCommand(&b, KXCMD_MATH, {ExprArg(0, MakeExprVar(1000)), num(1, 1), num(2, 9), num(20, 0)});
    EmitCommand(&b, KXCMD_MATH, {ExprArg(0, MakeExprVar(1000)), text(3, "(2+3)*4"), num(22, 0)});
    EndLoop(&b);
    EmitCommand(&b, KXCMD_VAR_QUERY, {ExprArg(0, MakeExprVar(1002), EVALTYPE_TEXT), ExprArg(1, MakeExprVar(1000)), num(13, 1)});
    EmitCommand(&b, KXCMD_LABEL_EXISTS, {text(0, "b"), ExprArg(1, MakeExprVar(1000)), num(2, 1)});
    EmitCommand(&b, KXCMD_SCRIPT_LIST, {num(1, 1), ExprArg(5, MakeExprVar(1000))});
    EmitCommand(&b, KXCMD_THREAD, {text(KX_THREAD_ARG_NAME, "worker"), text(KX_THREAD_ARG_LABEL, "b")});
    EmitCommand(&b, KXCMD_THREAD_INFO, {text(0, "worker"), ExprArg(1, MakeExprVar(1000)), num(17, 1)});
    AddLabel(&b, "a");
    EmitCall(&b, "b");
    EmitCommand(&b, KXCMD_WAIT, {num(0, 1)});
    EmitGoto(&b, "a");
    FinishScriptBody(&b);
    GAME_DATA game = FuzzSampleGame();
    game.scripts[0] = ScriptFromBuilder("main.txt", b);
    for (const GAME_FILE& f : BuildGameFiles(game))
        if (f.strName == KxBodyFileName(0)) Seed("fuzz_script_run", "commands", f.data);
}

void CompilerLinkSeeds()
{
    // An int32 count, then the transfer records {int32 name length with its NUL, the name, int32
    // size, the bytes} of the compiled files of the sample game.
    auto put32 = [](BYTES* p, int32_t v) {
        for (int k = 0; k < 4; ++k) p->push_back(uint8_t(uint32_t(v) >> (8 * k)));
    };
    const std::vector<GAME_FILE> files = BuildGameFiles(FuzzSampleGame());
    BYTES all, one;
    put32(&all, int32_t(files.size()));
    put32(&one, 1);
    for (size_t i = 0; i < files.size(); ++i) {
        BYTES rec;
        put32(&rec, int32_t(files[i].strName.size() + 1));
        rec.insert(rec.end(), files[i].strName.begin(), files[i].strName.end());
        rec.push_back(0);
        put32(&rec, int32_t(files[i].data.size()));
        rec.insert(rec.end(), files[i].data.begin(), files[i].data.end());
        all.insert(all.end(), rec.begin(), rec.end());
        if (i == 0) one.insert(one.end(), rec.begin(), rec.end());
    }
    Seed("fuzz_compiler_link", "game", all);
    Seed("fuzz_compiler_link", "one", one);
}

void AppendedDataSeeds()
{
    // A stand-in executable holding the size marker once, the bundle writer's output behind it.
    BYTES exe(48, 0x90);
    const char kTag[KX_RES_TAG_SIZE] = KX_RES_TAG;
    exe.insert(exe.end(), kTag, kTag + KX_RES_TAG_SIZE);
    exe.insert(exe.end(), {4, 0, 0, 0});
    exe.insert(exe.end(), 20, 0xCC);
    PACK_WRITER_ENTRY e;
    e.strName = "kxbin\\kxc.kbn";
    e.data = {1, 2, 3, 4};
    const BYTES pack = BuildPackImage({e});
    const std::vector<uint32_t> px = Picture(5, 3);
    const BYTES preview = WriteBmp(5, 3, BMP_WRITER_OPTIONS{}, px.data(), nullptr);
    const struct { const char* pszName; const char* pszSwitches; bool bPreview; } kCases[] = {
        {"game", "", false}, {"saver_run", "/s", true}, {"saver_about", "-c", true},
        {"saver_preview", "/p 1234", true}, {"saver_password", "/a 7", true},
    };
    for (const auto& c : kCases) {
        BYTES bundle;
        std::string strError;
        if (WriteBundle(exe, pack, c.bPreview ? preview : BYTES{}, &bundle, &strError) != 0) {
            std::fprintf(stderr, "make_seeds: bundle: %s\n", strError.c_str());
            std::exit(1);
        }
        BYTES input;
        for (int k = 0; k < 4; ++k) input.push_back(uint8_t(exe.size() >> (8 * k)));
        input.insert(input.end(), c.pszSwitches, c.pszSwitches + std::strlen(c.pszSwitches));
        input.push_back('\n');
        input.insert(input.end(), bundle.begin(), bundle.end());
        Seed("fuzz_appended_data", c.pszName, input);
    }
}

void RegistrySeeds()
{
    // Stores as the store itself writes them.
    const std::string strStore = (fs::path(s_strRoot) / "registry.tmp").string();
    PlatSetRegistryPathForTest(strStore.c_str());
    const uint32_t dw = 0x12345678;
    const uint8_t abBin[] = {0, 1, 0xFF, 0x5C};
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Path", PLAT_REG_SZ, "C:\\Games\\\"x\" \x83\x5C", 16);
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", nullptr, PLAT_REG_SZ, "default", 7);
    PlatRegSetValue("HKEY_CURRENT_USER", "Software\\Kx", "Count", PLAT_REG_DWORD, &dw, 4);
    PlatRegSetValue("HKEY_CURRENT_USER", "K", "a", PLAT_REG_BINARY, abBin, sizeof abBin);
    PlatRegSetValue("HKEY_CURRENT_USER", "K", "b", PLAT_REG_SZ, "line\r\nbreak \x83", 13);
    PlatRegSetValue("HKEY_LOCAL_MACHINE", "k\\sub", "Multi", PLAT_REG_MULTI_SZ, "a\0b\0", 4);
    PlatRegSetValue("HKEY_CURRENT_USER", "K", "big", int(0x80000000u), abBin, 2);
    std::ifstream in(strStore, std::ios::binary);
    const BYTES store((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PlatSetRegistryPathForTest(nullptr);
    fs::remove(strStore);
    Seed("fuzz_registry", "written", store);
    BYTES damaged = store;
    const std::string strBad = "garbage line\r\n\"c\"=hex:01,\\\r\n";
    damaged.insert(damaged.begin() + 10, strBad.begin(), strBad.end());
    Seed("fuzz_registry", "damaged", damaged);
    // Names and texts ending in a lone lead byte, which only an escape in the file can give.
    const std::string strLead = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n\"\\\x83\"=\"x\"\r\n"
                                "\"a \\\x81\"=\"text \\\x81\"\r\n\"b\"=\"v\"\r\n";
    Seed("fuzz_registry", "lone-lead", BYTES(strLead.begin(), strLead.end()));
}

void TextSeeds()
{
    Seed("fuzz_text_files", "lines", TextBytes("first line\r\nsecond \x83\x5C line\nthird\r\n\r\nlast"));
    Seed("fuzz_text_files", "csv", TextBytes("a,b,\"c,d\"\r\n\"say \"\"hi\"\"\",,e\r\n\r\n1,2,3\n"));
    Seed("fuzz_tokenizer", "script", TextBytes(std::string(1, '\0') +
                                               "@a = \"text\" + 12 // comment\n*label\n$v += 3; /* open\nstill */ x++\n"
                                               "if (a == 1) { call \\\"b\\\", #ref, 0x1F }\n\x83\x41\x83\x43 /= 2\n"));
    Seed("fuzz_tokenizer", "far", TextBytes(std::string(1, char(198)) + "a b c d e f g h i j k l m n o p"));
    Seed("fuzz_int_text", "sum", TextBytes("12 + 3 * (4 - 1) / 2 % 5 - -7"));
    Seed("fuzz_int_text", "hex", TextBytes("0x1Fffffffffffffff"));
    Seed("fuzz_int_text", "float", TextBytes("-12.5"));
    Seed("fuzz_int_text", "big", TextBytes("99999999999999999999999"));
    Seed("fuzz_cp932", "cp932", TextBytes("kana \x82\xA0\x83\x41 full \x82\x60\x82\x81 half \xB1\xDE path\\\x83\x5C/file"));
    Seed("fuzz_cp932", "utf8", TextBytes("\xE3\x81\x82\xE3\x82\xA2 \xEF\xBC\xA1 \xE2\x80\x94 \xF0\x9F\x98\x80"));
    Seed("fuzz_cp932", "lead_at_end", TextBytes("abc\x83"));
}

void WindowShapeSeeds()
{
    // Width, height, extra row bytes, unused; then B,G,R,A pixels with black holes.
    for (int nExtra : {0, 3}) {
        const int w = 9, h = 6;
        BYTES b = {uint8_t(w), uint8_t(h), uint8_t(nExtra), 0};
        const std::vector<uint32_t> px = Picture(w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t v = (x + y) % 4 == 0 ? 0xFF000000u : px[size_t(y) * w + x];
                for (int k = 0; k < 4; ++k) b.push_back(uint8_t(v >> (8 * k)));
            }
            b.insert(b.end(), size_t(nExtra), 0xAA);
        }
        Seed("fuzz_window_shape", "extra" + std::to_string(nExtra), b);
    }
}

}  // namespace

void MovieSeeds()
{
    OGV_WRITER_OPTIONS ogv;
    ogv.nWidth = 24;
    ogv.nHeight = 16;
    ogv.nFrames = 3;
    ogv.bAudio = false;
    Seed("fuzz_ogv", "silent420", WriteOgvMovie(ogv));
    ogv.nPixelFormat = 444;
    ogv.nPicX = 3;
    ogv.bAudio = true;
    ogv.nAudioChannels = 1;
    ogv.nAudioRate = 8000;
    Seed("fuzz_ogv", "sound444", WriteOgvMovie(ogv));
    MPEG_WRITER_OPTIONS mpeg;
    mpeg.nWidth = 32;
    mpeg.nHeight = 16;
    mpeg.nFrames = 2;
    Seed("fuzz_mpeg_kind", "mpeg1", WriteMpeg1Movie(mpeg));
    // A pack header of an MPEG-2 program stream (the '01' marker bits) and nothing else.
    Seed("fuzz_mpeg_kind", "mpeg2_pack", {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8});
    const std::vector<uint32_t> px = Picture(5, 3);
    BMP_WRITER_OPTIONS bmp;
    Seed("fuzz_preview", "bottom_up", WriteBmp(5, 3, bmp, px.data(), nullptr));
    bmp.bTopDown = true;
    Seed("fuzz_preview", "top_down", WriteBmp(5, 3, bmp, px.data(), nullptr));
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    s_strRoot = fs::absolute(argv[1]).string();   // FuzzInit changes folder
    FuzzInit();
    PackSeeds();
    ScriptSeeds();
    SettingsSeeds();
    ImageSeeds();
    SaveSeeds();
    SoundSeeds();
    ThreadStateSeeds();
    MovieSeeds();
    ScriptRunSeeds();
    CompilerLinkSeeds();
    AppendedDataSeeds();
    RegistrySeeds();
    TextSeeds();
    WindowShapeSeeds();
    std::printf("make_seeds: %d seeds in %s\n", s_nWritten, s_strRoot.c_str());
    return 0;
}
