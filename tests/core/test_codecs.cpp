// Binding the codec libraries at start-up: the boxes for what is missing, and stand-ins that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "core/kx_texts.h"
#include "platform/plat_modules.h"
#include "tests/support/test_support.h"
#include "tools/lib/ogg_writer.h"

namespace {

struct CODECS_FIXTURE : ::testing::Test {
    void TearDown() override
    {
        UnloadCodecLibraries();
        PlatResetModules();
    }
};

// The start-up box of a library that does not load, as the player sees it.
std::string LibraryErrorText(const char* pszUtf8Format)
{
    char szSystem[512];
    PlatFormatErrorText(PLAT_ERROR_MOD_NOT_FOUND, szSystem, sizeof szSystem);
    std::string strText = Cp932(pszUtf8Format);
    strText.replace(strText.find("%d"), 2, std::to_string(PLAT_ERROR_MOD_NOT_FOUND));
    strText.replace(strText.find("%s"), 2, szSystem);
    return strText;
}

// Every pointer can be called, and each one fails the way its library reports a failure.
void ExpectStandInsFail(bool bZlib, bool bSnappy, bool bPng, bool bWebP)
{
    uint8_t buf[64] = {1, 2, 3};
    uint32_t nLen = 64;
    if (bZlib) {
        EXPECT_EQ(g_pfnUncompress(buf, &nLen, buf, 3), KX_Z_STREAM_ERROR);
        EXPECT_EQ(nLen, 0u);
        nLen = 64;
        EXPECT_EQ(g_pfnCompress2(buf, &nLen, buf, 3, 9), KX_Z_MEM_ERROR);
        EXPECT_EQ(nLen, 0u);
    }
    if (bSnappy) {
        nLen = 64;
        EXPECT_EQ(g_pfnSnpUncompress(buf, 3, buf, &nLen), KX_SNP_INVALID_INPUT);
        EXPECT_EQ(nLen, 0u);
        nLen = 64;
        EXPECT_EQ(g_pfnSnpCompress(buf, 3, buf, &nLen), KX_SNP_INVALID_INPUT);
        EXPECT_EQ(g_pfnSnpCompressedLength(3), 0u);
        EXPECT_EQ(g_pfnSnpUncompressedLength(buf, 3, &nLen), -1);
    }
    if (bPng) {
        int32_t w = 5, h = 5;
        uint8_t b = 0;
        EXPECT_EQ(g_pfnPngPreload("x.png", buf, 3, &w, &h, &b), KX_PNG_FAILED);
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
        EXPECT_EQ(g_pfnPngLoad(buf, 1, 4), -1);
        g_pfnPngEnd();
        nLen = 64;
        EXPECT_EQ(g_pfnPngSave(buf, 1, 1, 4, 1, 5, buf, &nLen), -1);
    }
    if (bWebP) {
        int32_t w = 5, h = 5;
        EXPECT_EQ(g_pfnWebPGetInfo(buf, 3, &w, &h), 0);
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
        EXPECT_EQ(g_pfnWebPDecode(buf, buf, 3, 1, 1), 0);
        EXPECT_EQ(g_pfnWebPEncode(buf, buf, 64, 1, 1, 6, 80), 0u);
        EXPECT_EQ(g_pfnWebPGetVersion(), 0);
    }
}

TEST_F(CODECS_FIXTURE, AllLibrariesBindSilentlyAndWork)
{
    MSGBOX_RECORDER boxes;
    EXPECT_EQ(LoadCodecLibraries(), 0);
    EXPECT_EQ(LoadWebPDLL(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(g_bSnpLoaded, 1);
    EXPECT_EQ(g_bWebPLoaded, 1);

    // One round trip per library through the globals.
    const std::string strText(3000, 'k');
    const auto* pText = reinterpret_cast<const uint8_t*>(strText.data());
    std::vector<uint8_t> packed(4000), out(3000);
    uint32_t nPacked = 4000, nOut = 3000;
    ASSERT_EQ(g_pfnCompress2(packed.data(), &nPacked, pText, 3000, 9), KX_Z_OK);
    ASSERT_EQ(g_pfnUncompress(out.data(), &nOut, packed.data(), nPacked), KX_Z_OK);
    EXPECT_EQ(std::string(out.begin(), out.end()), strText);

    packed.resize(g_pfnSnpCompressedLength(3000));
    nPacked = static_cast<uint32_t>(packed.size());
    nOut = 3000;
    ASSERT_EQ(g_pfnSnpCompress(pText, 3000, packed.data(), &nPacked), KX_SNP_OK);
    ASSERT_EQ(g_pfnSnpUncompress(packed.data(), nPacked, out.data(), &nOut), KX_SNP_OK);
    EXPECT_EQ(std::string(out.begin(), out.end()), strText);

    const uint8_t abBgra[8] = {1, 2, 3, 255, 4, 5, 6, 128};
    std::vector<uint8_t> file(KxPngSaveBound(2, 1));
    uint32_t nFile = static_cast<uint32_t>(file.size());
    ASSERT_EQ(g_pfnPngSave(abBgra, 2, 1, 8, 1, 9, file.data(), &nFile), 0);
    int32_t w = 0, h = 0;
    uint8_t bNoAlpha = 9, abOut[8] = {};
    ASSERT_EQ(g_pfnPngPreload("a.png", file.data(), nFile, &w, &h, &bNoAlpha), 0);
    EXPECT_EQ(g_pfnPngLoad(abOut, 1, 8), 0);
    g_pfnPngEnd();
    EXPECT_EQ(std::vector<uint8_t>(abOut, abOut + 8), std::vector<uint8_t>(abBgra, abBgra + 8));
    EXPECT_EQ(bNoAlpha, 0);

    std::vector<uint8_t> webp(1 << 20);
    const uint32_t nWebP = g_pfnWebPEncode(abBgra, webp.data(), static_cast<uint32_t>(webp.size()), 2, 1, 6, -1);
    ASSERT_GT(nWebP, 0u);
    ASSERT_EQ(g_pfnWebPGetInfo(webp.data(), nWebP, &w, &h), 1);
    EXPECT_EQ(g_pfnWebPDecode(webp.data(), abOut, nWebP, w, h), 1);
    EXPECT_EQ(std::vector<uint8_t>(abOut, abOut + 8), std::vector<uint8_t>(abBgra, abBgra + 8));

    // Before start-up binds anything and after shut-down, the pointers hold the failing stand-ins.
    UnloadCodecLibraries();
    EXPECT_EQ(g_bSnpLoaded, 0);
    EXPECT_EQ(g_bWebPLoaded, 0);
    ExpectStandInsFail(true, true, true, true);
}

TEST_F(CODECS_FIXTURE, ALibraryThatDoesNotLoadShowsItsBoxAndStartUpGoesOn)
{
    struct CASE {
        const char* pszModule;
        const char* pszFormat;
        bool bZlib, bSnappy, bPng;
    };
    const CASE cases[] = {
        {"ZURUV.DLL", "ZURUV.DLL エラーです。\r\n\r\nエラー番号 = %d\r\n\r\n%s", true, false, false},
        {"VOZEZ.DLL", "VOZEZ.DLL エラーです。\r\n\r\nエラー番号 = %d\r\n\r\n%s", false, false, true},
        {"KXSNP.DLL", "KXSNP.DLL エラーです。\r\n\r\nエラー番号 = %d\r\n\r\n%s", false, true, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszModule);
        PlatResetModules();
        PlatHideModule(c.pszModule, 1);
        MSGBOX_RECORDER boxes;
        EXPECT_EQ(LoadCodecLibraries(), 0);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].strCaption, "");
        EXPECT_EQ(boxes.boxes[0].strText, LibraryErrorText(c.pszFormat));
        EXPECT_EQ(g_bSnpLoaded, c.bSnappy ? 0 : 1);
        ExpectStandInsFail(c.bZlib, c.bSnappy, c.bPng, false);
    }

    // All three missing: three boxes in start-up's order.
    PlatResetModules();
    for (const char* psz : {"KXSNP.DLL", "ZURUV.DLL", "VOZEZ.DLL"}) PlatHideModule(psz, 1);
    MSGBOX_RECORDER boxes;
    LoadCodecLibraries();
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].strText, LibraryErrorText(cases[0].pszFormat));
    EXPECT_EQ(boxes.boxes[1].strText, LibraryErrorText(cases[1].pszFormat));
    EXPECT_EQ(boxes.boxes[2].strText, LibraryErrorText(cases[2].pszFormat));

    // VOROR.DLL is optional and silent.
    PlatHideModule("VOROR.DLL", 1);
    EXPECT_EQ(LoadWebPDLL(), -1);
    EXPECT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(g_bWebPLoaded, 0);
    ExpectStandInsFail(false, false, false, true);
}

int FakeCompress2(uint8_t*, uint32_t* pDstLen, const uint8_t*, uint32_t, int)
{
    *pDstLen = 1;
    return 77;
}
uint32_t FakeCompressedLength(uint32_t n) { return n + 1000; }
void FakePngEnd(void) {}

TEST_F(CODECS_FIXTURE, MissingEntriesShowTheirBoxesAndBindStandInsThatFail)
{
    // ZURUV.DLL with only compress2, VOZEZ.DLL with only end, KXSNP.DLL with only CompressedLength.
    const PLAT_MODULE_ENTRY aZuruv[] = {{nullptr, 2, reinterpret_cast<void*>(&FakeCompress2)}};
    const PLAT_MODULE_ENTRY aVozez[] = {{nullptr, 3, reinterpret_cast<void*>(&FakePngEnd)}};
    const PLAT_MODULE_ENTRY aSnp[] = {{"KXSnp_CompressedLength", 0, reinterpret_cast<void*>(&FakeCompressedLength)}};
    PlatRegisterFakeModule("ZURUV.DLL", aZuruv, 1);
    PlatRegisterFakeModule("VOZEZ.DLL", aVozez, 1);
    PlatRegisterFakeModule("KXSNP.DLL", aSnp, 1);
    PlatRegisterFakeModule("VOROR.DLL", nullptr, 0);

    MSGBOX_RECORDER boxes;
    EXPECT_EQ(LoadCodecLibraries(), 0);
    const std::vector<const char*> expected = {
        "ZURUV_PRELOAD が見つかりません。",
        "VOZEZ_PRELOAD が見つかりません。",
        "VOZEZ_LOAD が見つかりません。",
        "KXSnp_Uncompress が見つかりません。",
        "KXSnp_Compress が見つかりません。",
        "KXSnp_UncompressedLength が見つかりません。",
        "KXSnp_Uncompress が見つかりません。",
    };
    ASSERT_EQ(boxes.boxes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(boxes.boxes[i].strText, Cp932(expected[i])) << i;
        EXPECT_EQ(boxes.boxes[i].strCaption, "Error") << i;   // the system's default caption
    }
    EXPECT_EQ(g_bSnpLoaded, 1);   // the library loaded, even with entries missing
    EXPECT_EQ(g_pfnCompress2, &FakeCompress2);
    EXPECT_EQ(g_pfnPngEnd, &FakePngEnd);
    EXPECT_EQ(g_pfnSnpCompressedLength(10), 1010u);

    // The missing ones fail safely.
    uint8_t buf[16] = {};
    uint32_t nLen = 16;
    EXPECT_EQ(g_pfnUncompress(buf, &nLen, buf, 4), KX_Z_STREAM_ERROR);
    EXPECT_EQ(nLen, 0u);
    nLen = 16;
    EXPECT_EQ(g_pfnSnpUncompress(buf, 4, buf, &nLen), KX_SNP_INVALID_INPUT);
    EXPECT_EQ(nLen, 0u);
    int32_t w = 3, h = 3;
    uint8_t b = 0;
    EXPECT_EQ(g_pfnPngPreload("a.png", buf, 16, &w, &h, &b), KX_PNG_FAILED);
    EXPECT_EQ(g_pfnPngLoad(buf, 1, 4), -1);

    // A VOROR.DLL without entries loads (the flag is set) but every entry fails.
    EXPECT_EQ(LoadWebPDLL(), 0);
    EXPECT_EQ(g_bWebPLoaded, 1);
    EXPECT_EQ(boxes.boxes.size(), expected.size());
    ExpectStandInsFail(false, false, false, true);
}

// A file image as the Ogg decoder's source (read only: enough to open and read headers).
struct OGG_IMAGE {
    std::vector<uint8_t> data;
    size_t nPos;
};

size_t ImageRead(void* pDest, size_t nSize, size_t nCount, void* pSource)
{
    OGG_IMAGE* p = static_cast<OGG_IMAGE*>(pSource);
    const size_t nCopy = nSize ? std::min((p->data.size() - p->nPos) / nSize, nCount) * nSize : 0;
    std::copy_n(p->data.begin() + static_cast<long>(p->nPos), nCopy, static_cast<uint8_t*>(pDest));
    p->nPos += nCopy;
    return nCopy;
}

const PLAT_OGG_CALLBACKS k_imageCallbacks = {ImageRead, nullptr, nullptr, nullptr};

// Opens the image through g_pfnOggOpen and closes it again; the open's result.
int OpenAndClose(const std::vector<uint8_t>& file)
{
    OGG_IMAGE image{file, 0};
    PLAT_OGG_DECODER* pDecoder = reinterpret_cast<PLAT_OGG_DECODER*>(&image);
    const int nResult = g_pfnOggOpen(&image, &k_imageCallbacks, &pDecoder);
    EXPECT_EQ(pDecoder != nullptr, nResult == KX_OGG_OK);
    int32_t nChannels = 0;
    int64_t llRate = 0;
    if (pDecoder) {
        EXPECT_EQ(g_pfnOggInfo(pDecoder, &nChannels, &llRate), 0);
    }
    g_pfnOggClose(pDecoder);
    return nResult;
}

int FakeOggOpen(void*, const PLAT_OGG_CALLBACKS*, PLAT_OGG_DECODER** ppDecoder)
{
    *ppDecoder = nullptr;
    return 4242;
}

TEST_F(CODECS_FIXTURE, TheOggDecoderBindsOnFirstUseQuietlyAndAllOrNothing)
{
    OGG_WRITER_OPTIONS opt;
    opt.llFrames = 2000;
    const std::vector<uint8_t> file = WriteOggVorbis(opt);
    ASSERT_FALSE(file.empty());
    MSGBOX_RECORDER boxes;

    // Without start-up the first open binds the decoder.
    UnloadCodecLibraries();
    EXPECT_EQ(OpenAndClose(file), KX_OGG_OK);
    EXPECT_EQ(LoadOggDecoder(), 0);

    // A hidden module: no box at start-up, and every entry fails, the open first.
    PlatHideModule("VORBISFILE.DLL", 1);
    EXPECT_EQ(LoadCodecLibraries(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(LoadOggDecoder(), -1);
    EXPECT_EQ(OpenAndClose(file), KX_OGG_EFAULT);
    int32_t nChannels = 5;
    int64_t llRate = 5;
    uint8_t buf[64];
    EXPECT_EQ(g_pfnOggInfo(nullptr, &nChannels, &llRate), KX_OGG_EINVAL);
    EXPECT_EQ(nChannels, 0);
    EXPECT_EQ(llRate, 0);
    EXPECT_EQ(g_pfnOggStreams(nullptr), 0);
    EXPECT_EQ(g_pfnOggSeekable(nullptr), 0);
    EXPECT_LT(g_pfnOggTimeTotal(nullptr), 0);
    EXPECT_LT(g_pfnOggPcmSeek(nullptr, 0), 0);
    EXPECT_LT(g_pfnOggTimeSeek(nullptr, 0), 0);
    EXPECT_LT(g_pfnOggPcmTell(nullptr), 0);
    EXPECT_LT(g_pfnOggRead(nullptr, buf, 64), 0);
    g_pfnOggClose(nullptr);

    // Hidden before the first open, the same.
    UnloadCodecLibraries();
    EXPECT_EQ(OpenAndClose(file), KX_OGG_EFAULT);

    // A module with its open but without the rest binds nothing: its open is never called.
    PlatResetModules();
    const PLAT_MODULE_ENTRY aOpenOnly[] = {{"KXOgg_Open", 0, reinterpret_cast<void*>(&FakeOggOpen)}};
    PlatRegisterFakeModule("VORBISFILE.DLL", aOpenOnly, 1);
    UnloadCodecLibraries();
    EXPECT_EQ(OpenAndClose(file), KX_OGG_EFAULT);
    EXPECT_TRUE(boxes.boxes.empty());

    // Back with the module: start-up binds it again.
    PlatResetModules();
    EXPECT_EQ(LoadCodecLibraries(), 0);
    EXPECT_EQ(OpenAndClose(file), KX_OGG_OK);
}

}  // namespace
