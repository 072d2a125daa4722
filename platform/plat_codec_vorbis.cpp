// VORBISFILE.DLL: Ogg Vorbis decoding through vorbisfile behind ten named entries, over the caller's
// byte source. Results are 0 or a positive count on success and a negative code (the values of
// core/codecs.h) on failure; vorbisfile's own codes are mapped to them here.
#include <vorbis/vorbisfile.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>

#include "platform/plat_modules.h"

// The decoder behind the opaque handle.
struct PLAT_OGG_DECODER {
    OggVorbis_File vf;
};

namespace {

// The source callbacks are handed to vorbisfile as they are: their types are vorbisfile's, and the
// seek origins the contract names 0, 1 and 2 are the ones vorbisfile passes.
static_assert(SEEK_SET == 0 && SEEK_CUR == 1 && SEEK_END == 2, "seek origins");

// Result codes (see core/codecs.h).
enum : int {
    OGG_FALSE = -1,
    OGG_EOF = -2,
    OGG_HOLE = -3,
    OGG_EREAD = -128,
    OGG_EFAULT = -129,
    OGG_EIMPL = -130,
    OGG_EINVAL = -131,
    OGG_ENOTVORBIS = -132,
    OGG_EBADHEADER = -133,
    OGG_EVERSION = -134,
    OGG_ENOTAUDIO = -135,
    OGG_EBADPACKET = -136,
    OGG_EBADLINK = -137,
    OGG_ENOSEEK = -138,
};

// A negative vorbisfile result as the contract's code; a code it does not know is an internal fault.
int MapResult(long long nResult)
{
    switch (nResult) {
    case OV_FALSE: return OGG_FALSE;
    case OV_EOF: return OGG_EOF;
    case OV_HOLE: return OGG_HOLE;
    case OV_EREAD: return OGG_EREAD;
    case OV_EFAULT: return OGG_EFAULT;
    case OV_EIMPL: return OGG_EIMPL;
    case OV_EINVAL: return OGG_EINVAL;
    case OV_ENOTVORBIS: return OGG_ENOTVORBIS;
    case OV_EBADHEADER: return OGG_EBADHEADER;
    case OV_EVERSION: return OGG_EVERSION;
    case OV_ENOTAUDIO: return OGG_ENOTAUDIO;
    case OV_EBADPACKET: return OGG_EBADPACKET;
    case OV_EBADLINK: return OGG_EBADLINK;
    case OV_ENOSEEK: return OGG_ENOSEEK;
    default: return OGG_EFAULT;
    }
}

// "KXOgg_Open": reads the stream's headers through the callbacks. 0 with the decoder in
// *ppDecoder, or a negative code with NULL there (the source's close is not called then).
int KxOggOpen(void* pSource, const PLAT_OGG_CALLBACKS* pCallbacks, PLAT_OGG_DECODER** ppDecoder)
{
    if (!ppDecoder) return OGG_EINVAL;
    *ppDecoder = nullptr;
    if (!pCallbacks || !pCallbacks->pfnRead) return OGG_EINVAL;
    PLAT_OGG_DECODER* pDecoder = new (std::nothrow) PLAT_OGG_DECODER;
    if (!pDecoder) return OGG_EFAULT;
    ov_callbacks callbacks;
    callbacks.read_func = pCallbacks->pfnRead;
    callbacks.seek_func = pCallbacks->pfnSeek;
    callbacks.close_func = pCallbacks->pfnClose;
    callbacks.tell_func = pCallbacks->pfnTell;
    // On a failure vorbisfile has already released what it built.
    const int nResult = ov_open_callbacks(pSource, &pDecoder->vf, nullptr, 0, callbacks);
    if (nResult < 0) {
        delete pDecoder;
        return MapResult(nResult);
    }
    *ppDecoder = pDecoder;
    return 0;
}

// "KXOgg_Info": the channels and the sample rate of the current stream. 0, or OGG_EINVAL (both 0).
int KxOggInfo(PLAT_OGG_DECODER* pDecoder, int32_t* pnChannels, int64_t* pllRate)
{
    if (pnChannels) *pnChannels = 0;
    if (pllRate) *pllRate = 0;
    const vorbis_info* pInfo = pDecoder ? ov_info(&pDecoder->vf, -1) : nullptr;
    if (!pInfo || !pnChannels || !pllRate) return OGG_EINVAL;
    *pnChannels = pInfo->channels;
    *pllRate = pInfo->rate;
    return 0;
}

// "KXOgg_Streams": the logical streams one after the other in the file (1 for a plain file).
int32_t KxOggStreams(PLAT_OGG_DECODER* pDecoder)
{
    const long n = pDecoder ? ov_streams(&pDecoder->vf) : 0;
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

// "KXOgg_Seekable": 1 when the source can seek, else 0.
int KxOggSeekable(PLAT_OGG_DECODER* pDecoder)
{
    return pDecoder && ov_seekable(&pDecoder->vf) != 0 ? 1 : 0;
}

// "KXOgg_TimeTotal": the length of the whole file in seconds, or a negative code (a source that
// cannot seek has no known length).
double KxOggTimeTotal(PLAT_OGG_DECODER* pDecoder)
{
    if (!pDecoder) return OGG_EINVAL;
    const double dTotal = ov_time_total(&pDecoder->vf, -1);
    return dTotal < 0 ? MapResult(static_cast<long long>(dTotal)) : dTotal;
}

// "KXOgg_PcmSeek": to a sample frame from the start. 0, or a negative code.
int KxOggPcmSeek(PLAT_OGG_DECODER* pDecoder, int64_t llFrame)
{
    if (!pDecoder) return OGG_EINVAL;
    const int nResult = ov_pcm_seek(&pDecoder->vf, llFrame);
    return nResult < 0 ? MapResult(nResult) : 0;
}

// "KXOgg_TimeSeek": to a time in seconds from the start. 0, or a negative code.
int KxOggTimeSeek(PLAT_OGG_DECODER* pDecoder, double dSeconds)
{
    if (!pDecoder) return OGG_EINVAL;
    const int nResult = ov_time_seek(&pDecoder->vf, dSeconds);
    return nResult < 0 ? MapResult(nResult) : 0;
}

// "KXOgg_PcmTell": the sample frame the next read starts at, or a negative code.
int64_t KxOggPcmTell(PLAT_OGG_DECODER* pDecoder)
{
    if (!pDecoder) return OGG_EINVAL;
    const ogg_int64_t llPos = ov_pcm_tell(&pDecoder->vf);
    return llPos < 0 ? MapResult(llPos) : static_cast<int64_t>(llPos);
}

// "KXOgg_Read": decodes up to nBytes bytes of interleaved 16-bit signed little-endian samples into
// pDst. The bytes written (whole frames; 0 at the end of the data), or a negative code: OGG_HOLE
// for a gap in the data, OGG_EBADLINK for a damaged stream, OGG_EINVAL for a bad call.
int32_t KxOggRead(PLAT_OGG_DECODER* pDecoder, uint8_t* pDst, int32_t nBytes)
{
    if (!pDecoder || nBytes < 0 || (!pDst && nBytes > 0)) return OGG_EINVAL;
    if (nBytes == 0) return 0;
    int nStream = 0;
    const long nRead = ov_read(&pDecoder->vf, reinterpret_cast<char*>(pDst), nBytes, 0, 2, 1, &nStream);
    return nRead < 0 ? MapResult(nRead) : static_cast<int32_t>(nRead);
}

// "KXOgg_Close": ends the decoder and calls the source's close (NULL is allowed).
void KxOggClose(PLAT_OGG_DECODER* pDecoder)
{
    if (!pDecoder) return;
    ov_clear(&pDecoder->vf);
    delete pDecoder;
}

const PLAT_MODULE_ENTRY k_aEntries[] = {
    {"KXOgg_Open", 0, reinterpret_cast<void*>(&KxOggOpen)},
    {"KXOgg_Info", 0, reinterpret_cast<void*>(&KxOggInfo)},
    {"KXOgg_Streams", 0, reinterpret_cast<void*>(&KxOggStreams)},
    {"KXOgg_Seekable", 0, reinterpret_cast<void*>(&KxOggSeekable)},
    {"KXOgg_TimeTotal", 0, reinterpret_cast<void*>(&KxOggTimeTotal)},
    {"KXOgg_PcmSeek", 0, reinterpret_cast<void*>(&KxOggPcmSeek)},
    {"KXOgg_TimeSeek", 0, reinterpret_cast<void*>(&KxOggTimeSeek)},
    {"KXOgg_PcmTell", 0, reinterpret_cast<void*>(&KxOggPcmTell)},
    {"KXOgg_Read", 0, reinterpret_cast<void*>(&KxOggRead)},
    {"KXOgg_Close", 0, reinterpret_cast<void*>(&KxOggClose)},
};

}  // namespace

const PLAT_MODULE_ENTRY* PlatOggModuleEntries(int* pnCount)
{
    *pnCount = static_cast<int>(sizeof k_aEntries / sizeof k_aEntries[0]);
    return k_aEntries;
}
