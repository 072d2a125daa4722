// Binding of the outside codec libraries at start-up.
//
// Callers call the entries unconditionally, so no pointer is ever NULL: until a library binds, and
// for every library or entry that is missing, the pointer holds a stand-in that fails the way the
// library itself reports a failure. The Ogg decoder's open starts as a stand-in that binds the
// decoder first, for the tools and tests that decode without running start-up.
#include "core/codecs.h"

#include <mutex>

#include "core/errors.h"
#include "core/kx_texts.h"
#include "platform/plat_modules.h"

namespace {

int UnboundUncompress(uint8_t*, uint32_t* pDstLen, const uint8_t*, uint32_t)
{
    if (pDstLen) *pDstLen = 0;
    return KX_Z_STREAM_ERROR;
}

int UnboundCompress2(uint8_t*, uint32_t* pDstLen, const uint8_t*, uint32_t, int)
{
    // The callers of compress2 only examine an out-of-memory result.
    if (pDstLen) *pDstLen = 0;
    return KX_Z_MEM_ERROR;
}

int UnboundSnpCodec(const uint8_t*, uint32_t, uint8_t*, uint32_t* pDstLen)
{
    if (pDstLen) *pDstLen = 0;
    return KX_SNP_INVALID_INPUT;
}

uint32_t UnboundSnpCompressedLength(uint32_t) { return 0; }

int UnboundSnpUncompressedLength(const uint8_t*, uint32_t, uint32_t* pLen)
{
    if (pLen) *pLen = 0;
    return -1;
}

int UnboundPngPreload(const char*, const uint8_t*, uint32_t, int32_t* pWidth, int32_t* pHeight, uint8_t* pbNoAlpha)
{
    if (pWidth) *pWidth = 0;
    if (pHeight) *pHeight = 0;
    if (pbNoAlpha) *pbNoAlpha = 1;
    return KX_PNG_FAILED;
}

int UnboundPngLoad(uint8_t*, int32_t, int32_t) { return -1; }

void UnboundPngEnd(void) {}

int UnboundPngSave(const uint8_t*, int32_t, int32_t, int32_t, uint8_t, int, uint8_t*, uint32_t* pOutLen)
{
    if (pOutLen) *pOutLen = 0;
    return -1;
}

int UnboundWebPVersion(void) { return 0; }

int UnboundWebPGetInfo(const uint8_t*, uint32_t, int32_t* pWidth, int32_t* pHeight)
{
    if (pWidth) *pWidth = 0;
    if (pHeight) *pHeight = 0;
    return 0;
}

int UnboundWebPDecode(const uint8_t*, uint8_t*, uint32_t, int32_t, int32_t) { return 0; }

uint32_t UnboundWebPEncode(const uint8_t*, uint8_t*, uint32_t, int32_t, int32_t, int, int) { return 0; }

int UnboundOggOpen(void*, const PLAT_OGG_CALLBACKS*, PLAT_OGG_DECODER** ppDecoder)
{
    if (ppDecoder) *ppDecoder = nullptr;
    return KX_OGG_EFAULT;
}

int UnboundOggInfo(PLAT_OGG_DECODER*, int32_t* pnChannels, int64_t* pllRate)
{
    if (pnChannels) *pnChannels = 0;
    if (pllRate) *pllRate = 0;
    return KX_OGG_EINVAL;
}

int32_t UnboundOggStreams(PLAT_OGG_DECODER*) { return 0; }

int UnboundOggSeekable(PLAT_OGG_DECODER*) { return 0; }

double UnboundOggTimeTotal(PLAT_OGG_DECODER*) { return KX_OGG_EINVAL; }

int UnboundOggPcmSeek(PLAT_OGG_DECODER*, int64_t) { return KX_OGG_EINVAL; }

int UnboundOggTimeSeek(PLAT_OGG_DECODER*, double) { return KX_OGG_EINVAL; }

int64_t UnboundOggPcmTell(PLAT_OGG_DECODER*) { return KX_OGG_EINVAL; }

int32_t UnboundOggRead(PLAT_OGG_DECODER*, uint8_t*, int32_t) { return KX_OGG_EINVAL; }

void UnboundOggClose(PLAT_OGG_DECODER*) {}

// The open of an Ogg decoder that is not bound yet: binds it, then opens through what is bound
// (the decoder, or the failing stand-in when it is missing).
int BindingOggOpen(void* pSource, const PLAT_OGG_CALLBACKS* pCallbacks, PLAT_OGG_DECODER** ppDecoder)
{
    LoadOggDecoder();
    return g_pfnOggOpen(pSource, pCallbacks, ppDecoder);
}

PLAT_MODULE* g_pZuruvModule = nullptr;
PLAT_MODULE* g_pVozezModule = nullptr;
PLAT_MODULE* g_pSnpModule = nullptr;
PLAT_MODULE* g_pVororModule = nullptr;
PLAT_MODULE* g_pOggModule = nullptr;
// Guards the Ogg decoder's binding: its first open may come from any thread.
std::mutex g_oggBindLock;

// The entry's address, or the stand-in when the module or the entry is missing.
template <class FN>
FN BindOrdinal(PLAT_MODULE* pModule, int nOrdinal, FN pfnStandIn, bool* pbFound)
{
    void* p = pModule ? PlatGetProcOrdinal(pModule, nOrdinal) : nullptr;
    *pbFound = p != nullptr;
    return p ? reinterpret_cast<FN>(p) : pfnStandIn;
}

template <class FN>
FN BindName(PLAT_MODULE* pModule, const char* pszName, FN pfnStandIn, bool* pbFound)
{
    void* p = pModule ? PlatGetProcAddress(pModule, pszName) : nullptr;
    *pbFound = p != nullptr;
    return p ? reinterpret_cast<FN>(p) : pfnStandIn;
}

// Loads a library; when it does not load, shows its start-up box with the system's error.
PLAT_MODULE* LoadCodecModule(const char* pszName, int nTextId)
{
    PLAT_MODULE* pModule = PlatLoadLibrary(pszName);
    if (!pModule) {
        const uint32_t nError = PlatGetLastError();
        char szSystemText[512];
        PlatFormatErrorText(nError, szSystemText, sizeof szSystemText);
        ShowMessageBox("", GetEngineText(nTextId), static_cast<int>(nError), szSystemText);
    }
    return pModule;
}

void ReportMissingEntry(int nTextId)
{
    ShowMessageBox(nullptr, GetEngineText(nTextId));
}

void FreeModule(PLAT_MODULE** ppModule)
{
    if (*ppModule) PlatFreeLibrary(*ppModule);
    *ppModule = nullptr;
}

void UnbindStartupCodecs(void)
{
    g_pfnUncompress = UnboundUncompress;
    g_pfnCompress2 = UnboundCompress2;
    g_pfnSnpUncompress = UnboundSnpCodec;
    g_pfnSnpCompress = UnboundSnpCodec;
    g_pfnSnpCompressedLength = UnboundSnpCompressedLength;
    g_pfnSnpUncompressedLength = UnboundSnpUncompressedLength;
    g_pfnPngPreload = UnboundPngPreload;
    g_pfnPngLoad = UnboundPngLoad;
    g_pfnPngEnd = UnboundPngEnd;
    g_pfnPngSave = UnboundPngSave;
    g_pfnPngDecodeInto = nullptr;
    g_bSnpLoaded = 0;
}

void UnbindWebP(void)
{
    g_pfnWebPGetVersion = UnboundWebPVersion;
    g_pfnWebPGetInfo = UnboundWebPGetInfo;
    g_pfnWebPDecode = UnboundWebPDecode;
    g_pfnWebPEncode = UnboundWebPEncode;
    g_pfnWebPDecodeRows = nullptr;
    g_bWebPLoaded = 0;
}

void UnbindOgg(KX_OGG_OPEN_FN pfnOpen)
{
    g_pfnOggOpen = pfnOpen;
    g_pfnOggInfo = UnboundOggInfo;
    g_pfnOggStreams = UnboundOggStreams;
    g_pfnOggSeekable = UnboundOggSeekable;
    g_pfnOggTimeTotal = UnboundOggTimeTotal;
    g_pfnOggPcmSeek = UnboundOggPcmSeek;
    g_pfnOggTimeSeek = UnboundOggTimeSeek;
    g_pfnOggPcmTell = UnboundOggPcmTell;
    g_pfnOggRead = UnboundOggRead;
    g_pfnOggClose = UnboundOggClose;
}

// Binds every entry of VORBISFILE.DLL, or none (the failing stand-ins) when the module or any entry
// is missing: a decoder that could open but not read or close would lose what it opened. 0 or -1.
// The caller holds g_oggBindLock.
int BindOgg(void)
{
    FreeModule(&g_pOggModule);
    UnbindOgg(UnboundOggOpen);
    PLAT_MODULE* pModule = PlatLoadLibrary("VORBISFILE.DLL");
    if (!pModule) return -1;
    bool bAll = true, bFound = false;
    auto bind = [&](const char* pszName, auto pfnStandIn) {
        auto pfn = BindName(pModule, pszName, pfnStandIn, &bFound);
        bAll = bAll && bFound;
        return pfn;
    };
    const KX_OGG_OPEN_FN pfnOpen = bind("KXOgg_Open", UnboundOggOpen);
    const KX_OGG_INFO_FN pfnInfo = bind("KXOgg_Info", UnboundOggInfo);
    const KX_OGG_STREAMS_FN pfnStreams = bind("KXOgg_Streams", UnboundOggStreams);
    const KX_OGG_SEEKABLE_FN pfnSeekable = bind("KXOgg_Seekable", UnboundOggSeekable);
    const KX_OGG_TIME_TOTAL_FN pfnTimeTotal = bind("KXOgg_TimeTotal", UnboundOggTimeTotal);
    const KX_OGG_PCM_SEEK_FN pfnPcmSeek = bind("KXOgg_PcmSeek", UnboundOggPcmSeek);
    const KX_OGG_TIME_SEEK_FN pfnTimeSeek = bind("KXOgg_TimeSeek", UnboundOggTimeSeek);
    const KX_OGG_PCM_TELL_FN pfnPcmTell = bind("KXOgg_PcmTell", UnboundOggPcmTell);
    const KX_OGG_READ_FN pfnRead = bind("KXOgg_Read", UnboundOggRead);
    const KX_OGG_CLOSE_FN pfnClose = bind("KXOgg_Close", UnboundOggClose);
    if (!bAll) {
        PlatFreeLibrary(pModule);
        return -1;
    }
    g_pOggModule = pModule;
    g_pfnOggInfo = pfnInfo;
    g_pfnOggStreams = pfnStreams;
    g_pfnOggSeekable = pfnSeekable;
    g_pfnOggTimeTotal = pfnTimeTotal;
    g_pfnOggPcmSeek = pfnPcmSeek;
    g_pfnOggTimeSeek = pfnTimeSeek;
    g_pfnOggPcmTell = pfnPcmTell;
    g_pfnOggRead = pfnRead;
    g_pfnOggClose = pfnClose;
    g_pfnOggOpen = pfnOpen;
    return 0;
}

}  // namespace

KX_UNCOMPRESS_FN g_pfnUncompress = UnboundUncompress;
KX_COMPRESS2_FN g_pfnCompress2 = UnboundCompress2;
KX_SNP_CODEC_FN g_pfnSnpUncompress = UnboundSnpCodec;
KX_SNP_CODEC_FN g_pfnSnpCompress = UnboundSnpCodec;
KX_SNP_MAXLEN_FN g_pfnSnpCompressedLength = UnboundSnpCompressedLength;
KX_SNP_ULEN_FN g_pfnSnpUncompressedLength = UnboundSnpUncompressedLength;
KX_PNG_PRELOAD_FN g_pfnPngPreload = UnboundPngPreload;
KX_PNG_LOAD_FN g_pfnPngLoad = UnboundPngLoad;
KX_PNG_END_FN g_pfnPngEnd = UnboundPngEnd;
KX_PNG_SAVE_FN g_pfnPngSave = UnboundPngSave;
KX_PNG_DECODE_INTO_FN g_pfnPngDecodeInto = nullptr;
KX_WEBP_VERSION_FN g_pfnWebPGetVersion = UnboundWebPVersion;
KX_WEBP_INFO_FN g_pfnWebPGetInfo = UnboundWebPGetInfo;
KX_WEBP_DECODE_FN g_pfnWebPDecode = UnboundWebPDecode;
KX_WEBP_DECODE_ROWS_FN g_pfnWebPDecodeRows = nullptr;
KX_WEBP_ENCODE_FN g_pfnWebPEncode = UnboundWebPEncode;
KX_OGG_OPEN_FN g_pfnOggOpen = BindingOggOpen;
KX_OGG_INFO_FN g_pfnOggInfo = UnboundOggInfo;
KX_OGG_STREAMS_FN g_pfnOggStreams = UnboundOggStreams;
KX_OGG_SEEKABLE_FN g_pfnOggSeekable = UnboundOggSeekable;
KX_OGG_TIME_TOTAL_FN g_pfnOggTimeTotal = UnboundOggTimeTotal;
KX_OGG_PCM_SEEK_FN g_pfnOggPcmSeek = UnboundOggPcmSeek;
KX_OGG_TIME_SEEK_FN g_pfnOggTimeSeek = UnboundOggTimeSeek;
KX_OGG_PCM_TELL_FN g_pfnOggPcmTell = UnboundOggPcmTell;
KX_OGG_READ_FN g_pfnOggRead = UnboundOggRead;
KX_OGG_CLOSE_FN g_pfnOggClose = UnboundOggClose;
uint8_t g_bWebPLoaded = 0;
uint8_t g_bSnpLoaded = 0;

int LoadCodecLibraries(void)
{
    FreeModule(&g_pZuruvModule);
    FreeModule(&g_pVozezModule);
    FreeModule(&g_pSnpModule);
    UnbindStartupCodecs();
    bool bFound = false;

    g_pZuruvModule = LoadCodecModule("ZURUV.DLL", TXT_CODEC_ZURUV_ERROR);
    if (g_pZuruvModule) {
        g_pfnUncompress = BindOrdinal(g_pZuruvModule, 1, UnboundUncompress, &bFound);
        if (!bFound) ReportMissingEntry(TXT_CODEC_NO_ZURUV_PRELOAD);
        g_pfnCompress2 = BindOrdinal(g_pZuruvModule, 2, UnboundCompress2, &bFound);
        if (!bFound) ReportMissingEntry(TXT_CODEC_NO_ZURUV_PRELOAD);
    }

    g_pVozezModule = LoadCodecModule("VOZEZ.DLL", TXT_CODEC_VOZEZ_ERROR);
    if (g_pVozezModule) {
        g_pfnPngPreload = BindOrdinal(g_pVozezModule, 1, UnboundPngPreload, &bFound);
        if (!bFound) ReportMissingEntry(TXT_CODEC_NO_VOZEZ_PRELOAD);
        g_pfnPngLoad = BindOrdinal(g_pVozezModule, 2, UnboundPngLoad, &bFound);
        if (!bFound) ReportMissingEntry(TXT_CODEC_NO_VOZEZ_LOAD);
        g_pfnPngEnd = BindOrdinal(g_pVozezModule, 3, UnboundPngEnd, &bFound);
        if (!bFound) ReportMissingEntry(TXT_CODEC_NO_VOZEZ_END);
        // The writer is bound quietly: only the PNG saver needs it, and it fails safely without it.
        g_pfnPngSave = BindOrdinal(g_pVozezModule, 4, UnboundPngSave, &bFound);
        // Also quietly: the decoder that writes into the caller's buffer; without it the loader
        // goes through preload, load and end.
        g_pfnPngDecodeInto = BindOrdinal<KX_PNG_DECODE_INTO_FN>(g_pVozezModule, 5, nullptr, &bFound);
    }

    g_pSnpModule = LoadCodecModule("KXSNP.DLL", TXT_CODEC_KXSNP_ERROR);
    if (g_pSnpModule) {
        g_bSnpLoaded = 1;
        g_pfnSnpUncompress = BindName(g_pSnpModule, "KXSnp_Uncompress", UnboundSnpCodec, &bFound);
        const bool bUncompress = bFound;
        g_pfnSnpCompress = BindName(g_pSnpModule, "KXSnp_Compress", UnboundSnpCodec, &bFound);
        const bool bCompress = bFound;
        g_pfnSnpCompressedLength =
            BindName(g_pSnpModule, "KXSnp_CompressedLength", UnboundSnpCompressedLength, &bFound);
        g_pfnSnpUncompressedLength =
            BindName(g_pSnpModule, "KXSnp_UncompressedLength", UnboundSnpUncompressedLength, &bFound);
        const bool bUncompressedLength = bFound;
        // Checked in this order, which tells of a missing Uncompress twice.
        if (!bUncompress) ReportMissingEntry(TXT_CODEC_NO_SNP_UNCOMPRESS);
        if (!bCompress) ReportMissingEntry(TXT_CODEC_NO_SNP_COMPRESS);
        if (!bUncompressedLength) ReportMissingEntry(TXT_CODEC_NO_SNP_UNCOMPRESSED_LENGTH);
        if (!bUncompress) ReportMissingEntry(TXT_CODEC_NO_SNP_UNCOMPRESS);
    }

    // The Ogg decoder has no start-up box: without it an Ogg sound fails when it loads.
    std::lock_guard<std::mutex> guard(g_oggBindLock);
    BindOgg();
    return 0;
}

int LoadWebPDLL(void)
{
    FreeModule(&g_pVororModule);
    UnbindWebP();
    g_pVororModule = PlatLoadLibrary("VOROR.DLL");
    if (!g_pVororModule) return -1;
    g_bWebPLoaded = 1;
    bool bFound = false;
    g_pfnWebPGetVersion = BindOrdinal(g_pVororModule, 1, UnboundWebPVersion, &bFound);
    g_pfnWebPGetInfo = BindOrdinal(g_pVororModule, 2, UnboundWebPGetInfo, &bFound);
    g_pfnWebPDecode = BindOrdinal(g_pVororModule, 3, UnboundWebPDecode, &bFound);
    g_pfnWebPEncode = BindOrdinal(g_pVororModule, 4, UnboundWebPEncode, &bFound);
    g_pfnWebPDecodeRows = BindOrdinal<KX_WEBP_DECODE_ROWS_FN>(g_pVororModule, 5, nullptr, &bFound);
    return 0;
}

int LoadOggDecoder(void)
{
    std::lock_guard<std::mutex> guard(g_oggBindLock);
    if (g_pfnOggOpen == BindingOggOpen) return BindOgg();
    return g_pOggModule ? 0 : -1;
}

void UnloadCodecLibraries(void)
{
    FreeModule(&g_pSnpModule);
    FreeModule(&g_pVozezModule);
    FreeModule(&g_pZuruvModule);
    FreeModule(&g_pVororModule);
    UnbindStartupCodecs();
    UnbindWebP();
    std::lock_guard<std::mutex> guard(g_oggBindLock);
    FreeModule(&g_pOggModule);
    UnbindOgg(BindingOggOpen);
}
