// THEORALIB.DLL: Theora video and Vorbis audio of an Ogg file held by the caller (see
// platform/plat_theora.h). The file is read whole through the caller's callbacks and split into the
// packets of its first Theora and first Vorbis stream; decoding then works on those packets.
#include "platform/plat_theora.h"

#include <ogg/ogg.h>
#include <theora/theoradec.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/plat_audio.h"
#include "platform/plat_modules.h"
#include "platform/plat_theora_convert.h"
#include "platform/plat_time.h"

namespace {

enum { TH_OK = 0, TH_BAD_ARG = -1, TH_DAMAGED = -2, TH_RESIZE_REFUSED = -3, TH_NO_MEMORY = -4 };

// The packets of one logical stream: payloads one after the other, with their offsets and sizes.
struct PACKET_LIST {
    std::vector<uint8_t> bytes;
    std::vector<size_t> offsets;
    std::vector<uint32_t> sizes;
    int64_t llLastGranule = -1;
    size_t Count() const { return sizes.size(); }
    void Fill(size_t i, ogg_packet* pOp) const
    {
        std::memset(pOp, 0, sizeof(*pOp));
        // libtheora and libvorbis read the payload only; the pointer is not written through.
        pOp->packet = const_cast<unsigned char*>(bytes.data() + offsets[i]);
        pOp->bytes = static_cast<long>(sizes[i]);
        pOp->b_o_s = i == 0;
        pOp->granulepos = -1;
        pOp->packetno = static_cast<ogg_int64_t>(i);
    }
};

enum STREAM_KIND { KIND_THEORA, KIND_VORBIS };

bool IsKindHeader(const ogg_packet& op, STREAM_KIND kind)
{
    if (op.bytes < 7) return false;
    if (kind == KIND_THEORA) return op.packet[0] == 0x80 && std::memcmp(op.packet + 1, "theora", 6) == 0;
    return op.packet[0] == 0x01 && std::memcmp(op.packet + 1, "vorbis", 6) == 0;
}

// Reads the whole source through the callbacks. false when the size is unusable or memory is short.
bool ReadSource(void* pData, THEORA_READ_FN pfnRead, THEORA_SIZE_FN pfnSize, std::vector<uint8_t>* pOut)
{
    const int64_t llSize = pfnSize();
    // Ogg pages are handed to libogg in pieces of at most 2^30 bytes; a file larger than the
    // address range cannot be held anyway.
    if (llSize <= 0 || static_cast<uint64_t>(llSize) > (static_cast<uint64_t>(1) << 40)) return false;
    try {
        pOut->resize(static_cast<size_t>(llSize));
    } catch (const std::bad_alloc&) {
        return false;
    }
    int64_t llPos = 0;
    while (llPos < llSize) {
        const int32_t nWant = static_cast<int32_t>(std::min<int64_t>(llSize - llPos, 1 << 20));
        const int32_t nGot = pfnRead(pData, pOut->data() + llPos, llPos, nWant);
        if (nGot <= 0 || nGot > nWant) break;
        llPos += nGot;
    }
    pOut->resize(static_cast<size_t>(llPos));
    return llPos > 0;
}

// The packets of the first stream of the kind. false when there is none (or memory is short).
bool SplitStream(const std::vector<uint8_t>& file, STREAM_KIND kind, PACKET_LIST* pList)
{
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    ogg_stream_state stream;
    bool bHaveStream = false;
    bool bFound = false;
    int nSerial = 0;
    bool bOk = true;
    size_t nFed = 0;
    ogg_page page;
    for (;;) {
        const int r = ogg_sync_pageout(&sync, &page);
        if (r == 0) {
            if (nFed >= file.size()) break;
            const size_t nChunk = std::min<size_t>(file.size() - nFed, 1 << 16);
            char* pBuf = ogg_sync_buffer(&sync, static_cast<long>(nChunk));
            if (!pBuf) { bOk = false; break; }
            std::memcpy(pBuf, file.data() + nFed, nChunk);
            ogg_sync_wrote(&sync, static_cast<long>(nChunk));
            nFed += nChunk;
            continue;
        }
        if (r < 0) continue;   // bytes skipped to the next page
        if (!bFound && ogg_page_bos(&page)) {
            // A stream's first page holds its identification header alone.
            ogg_stream_state probe;
            if (ogg_stream_init(&probe, ogg_page_serialno(&page)) != 0) { bOk = false; break; }
            ogg_packet op;
            if (ogg_stream_pagein(&probe, &page) == 0 && ogg_stream_packetout(&probe, &op) == 1 && IsKindHeader(op, kind)) {
                bFound = true;
                nSerial = ogg_page_serialno(&page);
                if (ogg_stream_init(&stream, nSerial) != 0) { ogg_stream_clear(&probe); bOk = false; break; }
                bHaveStream = true;
            }
            ogg_stream_clear(&probe);
        }
        if (!bHaveStream || ogg_page_serialno(&page) != nSerial) continue;
        if (ogg_stream_pagein(&stream, &page) != 0) continue;
        const int64_t llGranule = ogg_page_granulepos(&page);
        if (llGranule >= 0) pList->llLastGranule = llGranule;
        ogg_packet op;
        for (;;) {
            const int p = ogg_stream_packetout(&stream, &op);
            if (p == 0) break;
            if (p < 0) continue;   // a hole in the data: the packet before it is lost
            if (op.bytes < 0 || static_cast<uint64_t>(op.bytes) > 0xFFFFFFFFu) continue;
            try {
                pList->offsets.push_back(pList->bytes.size());
                pList->sizes.push_back(static_cast<uint32_t>(op.bytes));
                pList->bytes.insert(pList->bytes.end(), op.packet, op.packet + op.bytes);
            } catch (const std::bad_alloc&) {
                bOk = false;
                break;
            }
        }
        if (!bOk) break;
    }
    if (bHaveStream) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    if (!bOk) {
        *pList = PACKET_LIST();
        return false;
    }
    // Offsets and sizes must agree even when an insert failed half way.
    pList->offsets.resize(std::min(pList->offsets.size(), pList->sizes.size()));
    return bFound;
}

// ---- video -------------------------------------------------------------------------------------

struct VIDEO_DECODER {
    bool bTopDown = false;
    bool bLoaded = false;
    PACKET_LIST packets;            // the Theora stream's packets, headers included
    size_t nFirstData = 0;          // index of the first frame packet
    std::vector<uint8_t> abKey;     // per frame: 1 for a key frame
    th_info info;
    th_comment comment;
    th_setup_info* pSetup = nullptr;
    th_dec_ctx* pDec = nullptr;
    int32_t nTotal = 0;
    int32_t nNext = 0;              // the next frame packet to decode
    int32_t nShown = -1;            // the frame last written into the buffer
    bool bHaveImage = false;        // the decoder holds a picture
    void* pFrame = nullptr;
    THEORA_ROW_FN pfnRow = nullptr;
    int nConvertLevel = THEORA_CONVERT_PLAIN;
    // While the requested frame's packet is decoded, its rows are converted stripe by stripe as
    // the decoder finishes them (still in the cache); the luma rows converted so far.
    bool bConvertStripes = false;
    int nStripeRows = 0;
};

void ServiceAllVoices();
th_dec_ctx* NewDecoder(VIDEO_DECODER* v);

void ResetVideo(VIDEO_DECODER* v)
{
    if (v->pDec) th_decode_free(v->pDec);
    v->pDec = nullptr;
    if (v->pSetup) th_setup_free(v->pSetup);
    v->pSetup = nullptr;
    th_comment_clear(&v->comment);
    th_info_clear(&v->info);
    th_info_init(&v->info);
    th_comment_init(&v->comment);
    v->packets = PACKET_LIST();
    v->abKey.clear();
    v->bLoaded = false;
    v->nTotal = 0;
    v->nNext = 0;
    v->nShown = -1;
    v->bHaveImage = false;
}

void* TheoraMCreate(void)
{
    VIDEO_DECODER* v = new (std::nothrow) VIDEO_DECODER();
    if (!v) return nullptr;
    th_info_init(&v->info);
    th_comment_init(&v->comment);
    return v;
}

int32_t TheoraMFree(void* h)
{
    VIDEO_DECODER* v = static_cast<VIDEO_DECODER*>(h);
    if (!v) return 0;
    if (v->pDec) th_decode_free(v->pDec);
    if (v->pSetup) th_setup_free(v->pSetup);
    th_comment_clear(&v->comment);
    th_info_clear(&v->info);
    delete v;
    return 0;
}

int32_t TheoraMSetVRevers(void* h, int32_t bTopDown)
{
    if (h) static_cast<VIDEO_DECODER*>(h)->bTopDown = bTopDown != 0;
    return 0;
}

int32_t TheoraMLoad(void* h, void* pData, THEORA_READ_FN pfnRead, THEORA_SIZE_FN pfnSize, void* pFrame,
                    THEORA_ROW_FN pfnRow, THEORA_RESIZE_FN pfnResize, int32_t)
{
    VIDEO_DECODER* v = static_cast<VIDEO_DECODER*>(h);
    if (!v || !pfnRead || !pfnSize || !pfnRow || !pfnResize) return TH_BAD_ARG;
    ResetVideo(v);
    std::vector<uint8_t> file;
    if (!ReadSource(pData, pfnRead, pfnSize, &file)) return TH_DAMAGED;
    if (!SplitStream(file, KIND_THEORA, &v->packets)) return TH_DAMAGED;
    file = std::vector<uint8_t>();

    // The three headers; the first packet the header reader does not take is the first frame.
    size_t i = 0;
    for (;; ++i) {
        if (i >= v->packets.Count()) break;
        ogg_packet op;
        v->packets.Fill(i, &op);
        const int r = th_decode_headerin(&v->info, &v->comment, &v->pSetup, &op);
        if (r == 0) break;
        if (r < 0) return TH_DAMAGED;
    }
    if (!v->pSetup) return TH_DAMAGED;
    const th_info& ti = v->info;
    if (ti.pic_width == 0 || ti.pic_height == 0 || ti.pic_width > PLAT_THEORA_MAX_SIDE ||
        ti.pic_height > PLAT_THEORA_MAX_SIDE || ti.pic_x + ti.pic_width > ti.frame_width ||
        ti.pic_y + ti.pic_height > ti.frame_height)
        return TH_DAMAGED;
    if (ti.pixel_fmt != TH_PF_420 && ti.pixel_fmt != TH_PF_422 && ti.pixel_fmt != TH_PF_444) return TH_DAMAGED;
    v->pDec = NewDecoder(v);
    if (!v->pDec) return TH_DAMAGED;
    v->nConvertLevel = TheoraConvertLevel();
    v->nFirstData = i;
    const size_t nFrames = v->packets.Count() - i;
    if (nFrames > 0x7FFFFFFF) return TH_DAMAGED;
    v->nTotal = static_cast<int32_t>(nFrames);
    try {
        v->abKey.resize(nFrames);
    } catch (const std::bad_alloc&) {
        return TH_NO_MEMORY;
    }
    for (size_t f = 0; f < nFrames; ++f) {
        ogg_packet op;
        v->packets.Fill(i + f, &op);
        v->abKey[f] = op.bytes > 0 && th_packet_iskeyframe(&op) == 1;
    }
    v->pFrame = pFrame;
    v->pfnRow = pfnRow;
    if (pfnResize(v, static_cast<int32_t>(ti.pic_width), static_cast<int32_t>(ti.pic_height)) != 0)
        return TH_RESIZE_REFUSED;
    v->bLoaded = true;
    return TH_OK;
}

int32_t TheoraMTotalFrame(void* h)
{
    const VIDEO_DECODER* v = static_cast<const VIDEO_DECODER*>(h);
    return v && v->bLoaded ? v->nTotal : 0;
}

// Converts the picture rows whose luma rows lie in [nLumaTop, nLumaEnd) of the coded frame (rows
// counted from its top).
void WriteRows(VIDEO_DECODER* v, th_ycbcr_buffer ycbcr, int nLumaTop, int nLumaEnd)
{
    const th_info& ti = v->info;
    const int nShiftX = ti.pixel_fmt == TH_PF_444 ? 0 : 1;
    const int nShiftY = ti.pixel_fmt == TH_PF_420 ? 1 : 0;
    const int nW = static_cast<int>(ti.pic_width), nH = static_cast<int>(ti.pic_height);
    const int x0 = static_cast<int>(ti.pic_x), y0 = static_cast<int>(ti.pic_y);
    const int yEnd = std::min(nH, nLumaEnd - y0);
    const int nLevel = v->nConvertLevel;
    for (int y = std::max(0, nLumaTop - y0); y < yEnd; ++y) {
        const int ly = y0 + y, cy = ly >> nShiftY;
        const uint8_t* pCb = ycbcr[1].data + static_cast<ptrdiff_t>(cy) * ycbcr[1].stride;
        const uint8_t* pCr = ycbcr[2].data + static_cast<ptrdiff_t>(cy) * ycbcr[2].stride;
        if (nShiftY == 1 && !(ly & 1) && y + 1 < yEnd) {
            // This row and the next share their chroma row.
            uint8_t* pOut0 = v->pfnRow(v, v->bTopDown ? y : nH - 1 - y);
            uint8_t* pOut1 = v->pfnRow(v, v->bTopDown ? y + 1 : nH - 2 - y);
            if (pOut0 && pOut1) {
                TheoraConvertRowPair(nLevel, ycbcr[0].data + static_cast<ptrdiff_t>(ly) * ycbcr[0].stride,
                                     ycbcr[0].data + static_cast<ptrdiff_t>(ly + 1) * ycbcr[0].stride, pCb, pCr, x0, nW,
                                     pOut0, pOut1);
                ++y;
                continue;
            }
        }
        uint8_t* pOut = v->pfnRow(v, v->bTopDown ? y : nH - 1 - y);
        if (!pOut) continue;
        TheoraConvertRow(nLevel, ycbcr[0].data + static_cast<ptrdiff_t>(ly) * ycbcr[0].stride, pCb, pCr, x0, nW,
                         nShiftX, pOut);
    }
}

// The decoder hands over each stripe of rows as it finishes them, bottom stripe first; the fragment
// rows [nFragTop, nFragEnd) count from the frame's top, eight luma rows each.
void StripeDecoded(void* pCtx, th_ycbcr_buffer ycbcr, int nFragTop, int nFragEnd)
{
    VIDEO_DECODER* v = static_cast<VIDEO_DECODER*>(pCtx);
    if (!v->bConvertStripes || nFragTop < 0 || nFragEnd <= nFragTop) return;
    WriteRows(v, ycbcr, nFragTop * 8, nFragEnd * 8);
    v->nStripeRows += (nFragEnd - nFragTop) * 8;
}

// A decoder for the stream that hands its stripes to StripeDecoded; NULL on failure.
th_dec_ctx* NewDecoder(VIDEO_DECODER* v)
{
    th_dec_ctx* pDec = th_decode_alloc(&v->info, v->pSetup);
    if (!pDec) return nullptr;
    th_stripe_callback cb;
    cb.ctx = v;
    cb.stripe_decoded = StripeDecoded;
    th_decode_ctl(pDec, TH_DECCTL_SET_STRIPE_CB, &cb, sizeof cb);
    return pDec;
}

int32_t TheoraMDecodeFrame(void* h, int32_t n)
{
    ServiceAllVoices();
    VIDEO_DECODER* v = static_cast<VIDEO_DECODER*>(h);
    if (!v || !v->bLoaded || n < 0 || n >= v->nTotal || n == v->nShown) return 0;
    if (n < v->nNext) {
        // Backwards: decoding starts again from the first frame.
        th_decode_free(v->pDec);
        v->pDec = NewDecoder(v);
        v->nNext = 0;
        v->bHaveImage = false;
        if (!v->pDec) { v->bLoaded = false; return 0; }
    }
    // Frames before the last key frame up to n need not be decoded.
    for (int32_t k = n; k > v->nNext; --k)
        if (v->abKey[static_cast<size_t>(k)]) { v->nNext = k; break; }
    bool bConverted = false;
    for (; v->nNext <= n; ++v->nNext) {
        ogg_packet op;
        v->packets.Fill(v->nFirstData + static_cast<size_t>(v->nNext), &op);
        // Only frame n's rows are converted, as the decoder finishes them.
        v->bConvertStripes = v->nNext == n;
        v->nStripeRows = 0;
        const int r = th_decode_packetin(v->pDec, &op, nullptr);
        v->bConvertStripes = false;
        if (r == 0) v->bHaveImage = true;
        // A repeat (TH_DUPFRAME) hands over no stripes, and a damaged packet leaves the last good
        // picture: either way the whole picture is converted below.
        bConverted = r == 0 && v->nStripeRows >= static_cast<int>(v->info.frame_height);
    }
    if (!v->bHaveImage) return 0;
    if (!bConverted) {
        th_ycbcr_buffer ycbcr;
        if (th_decode_ycbcr_out(v->pDec, ycbcr) != 0) return 0;
        WriteRows(v, ycbcr, 0, static_cast<int>(v->info.frame_height));
    }
    v->nShown = n;
    return 1;
}

// ---- audio -------------------------------------------------------------------------------------

PLAT_DS* g_pTheoraDevice = nullptr;

struct AUDIO_DECODER {
    bool bLoaded = false;
    PACKET_LIST packets;
    size_t nNextPacket = 0;
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    bool bDsp = false;
    int nOutChannels = 0;
    long nRate = 0;
    std::vector<int16_t> fifo;      // decoded interleaved samples not yet written
    size_t nFifoRead = 0;
    bool bDecodeEnded = false;
    int64_t llDecodedFrames = 0;    // sample frames the decoder produced
    int64_t llTotalFrames = 0;      // by the stream's last granule, 0 when unknown
    PLAT_DS_BUFFER* pVoice = nullptr;
    uint32_t nVoiceBytes = 0;
    uint32_t nBlock = 0;
    int64_t llWritten = 0;          // bytes written into the voice
    int64_t llPlayed = 0;           // bytes the voice has played
    int64_t llRealBytes = -1;       // bytes of real sound in the voice, once decoding ended
    uint32_t dwLastPlay = 0;
    uint32_t dwStart = 0;
};

std::mutex g_voiceLock;
std::vector<AUDIO_DECODER*> g_apVoices;

// Decodes until the fifo holds at least nFrames frames or the stream ends.
void DecodeAudio(AUDIO_DECODER* a, size_t nFrames)
{
    const size_t nCh = static_cast<size_t>(a->nOutChannels);
    while (!a->bDecodeEnded && (a->fifo.size() - a->nFifoRead) / nCh < nFrames) {
        float** ppPcm = nullptr;
        int n = vorbis_synthesis_pcmout(&a->vd, &ppPcm);
        if (n > 0) {
            // The stream's last granule is its length: what the final block gives beyond it is
            // padding.
            int nKeep = n;
            if (a->llTotalFrames > 0 && a->llDecodedFrames + nKeep > a->llTotalFrames)
                nKeep = static_cast<int>(std::max<int64_t>(a->llTotalFrames - a->llDecodedFrames, 0));
            if (a->nFifoRead > 0 && a->nFifoRead == a->fifo.size()) {
                a->fifo.clear();
                a->nFifoRead = 0;
            }
            const size_t nOld = a->fifo.size();
            a->fifo.resize(nOld + static_cast<size_t>(nKeep) * nCh);
            int16_t* pOut = a->fifo.data() + nOld;
            for (int i = 0; i < nKeep; ++i)
                for (size_t c = 0; c < nCh; ++c) {
                    float f = ppPcm[c][i] * 32767.0f;
                    f = f > 32767.0f ? 32767.0f : (f < -32768.0f ? -32768.0f : f);
                    *pOut++ = static_cast<int16_t>(f);
                }
            vorbis_synthesis_read(&a->vd, n);
            a->llDecodedFrames += nKeep;
            continue;
        }
        if (a->nNextPacket >= a->packets.Count()) {
            a->bDecodeEnded = true;
            break;
        }
        ogg_packet op;
        a->packets.Fill(a->nNextPacket++, &op);
        if (vorbis_synthesis(&a->vb, &op) == 0) vorbis_synthesis_blockin(&a->vd, &a->vb);
    }
}

// Keeps the voice filled up to its play cursor (caller holds g_voiceLock).
void ServiceVoice(AUDIO_DECODER* a)
{
    if (!a->pVoice) return;
    uint32_t dwPlay = 0;
    if (PlatDsBufferGetCurrentPosition(a->pVoice, &dwPlay, nullptr) != PLAT_DS_OK) return;
    a->llPlayed += (dwPlay + a->nVoiceBytes - a->dwLastPlay) % a->nVoiceBytes;
    a->dwLastPlay = dwPlay;
    if (a->llPlayed > a->llWritten) a->llWritten = a->llPlayed;   // the voice ran dry
    uint32_t nFree = static_cast<uint32_t>(a->nVoiceBytes - (a->llWritten - a->llPlayed));
    nFree -= nFree % a->nBlock;
    if (nFree == 0) return;
    const uint32_t dwAt = static_cast<uint32_t>(a->llWritten % a->nVoiceBytes);
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    if (PlatDsBufferLock(a->pVoice, dwAt, nFree, &p1, &n1, &p2, &n2, 0) != PLAT_DS_OK) return;
    const size_t nFrameBytes = a->nBlock;
    DecodeAudio(a, nFree / nFrameBytes);
    for (int part = 0; part < 2; ++part) {
        uint8_t* pDest = static_cast<uint8_t*>(part == 0 ? p1 : p2);
        const uint32_t nBytes = part == 0 ? n1 : n2;
        if (!pDest) continue;
        const size_t nAvail = (a->fifo.size() - a->nFifoRead) * sizeof(int16_t);
        const size_t nCopy = std::min<size_t>(nBytes, nAvail);
        if (nCopy) std::memcpy(pDest, a->fifo.data() + a->nFifoRead, nCopy);
        a->nFifoRead += nCopy / sizeof(int16_t);
        std::memset(pDest + nCopy, 0, nBytes - nCopy);
        if (nCopy < nBytes && a->llRealBytes < 0 && a->bDecodeEnded)
            a->llRealBytes = a->llWritten + (part == 0 ? 0 : n1) + static_cast<int64_t>(nCopy);
    }
    PlatDsBufferUnlock(a->pVoice, p1, n1, p2, n2);
    a->llWritten += nFree;
}

void ServiceAllVoices()
{
    std::lock_guard<std::mutex> g(g_voiceLock);
    for (AUDIO_DECODER* a : g_apVoices) ServiceVoice(a);
}

void ClearAudio(AUDIO_DECODER* a)
{
    {
        std::lock_guard<std::mutex> g(g_voiceLock);
        g_apVoices.erase(std::remove(g_apVoices.begin(), g_apVoices.end(), a), g_apVoices.end());
    }
    if (a->pVoice) PlatDsBufferRelease(a->pVoice);
    a->pVoice = nullptr;
    if (a->bDsp) {
        vorbis_block_clear(&a->vb);
        vorbis_dsp_clear(&a->vd);
        a->bDsp = false;
    }
}

void* TheoraWCreate(void)
{
    AUDIO_DECODER* a = new (std::nothrow) AUDIO_DECODER();
    if (!a) return nullptr;
    vorbis_info_init(&a->vi);
    vorbis_comment_init(&a->vc);
    return a;
}

int32_t TheoraWFree(void* h)
{
    AUDIO_DECODER* a = static_cast<AUDIO_DECODER*>(h);
    if (!a) return 0;
    ClearAudio(a);
    vorbis_comment_clear(&a->vc);
    vorbis_info_clear(&a->vi);
    delete a;
    return 0;
}

int32_t TheoraWLoad(void* h, void* pData, THEORA_READ_FN pfnRead, THEORA_SIZE_FN pfnSize)
{
    AUDIO_DECODER* a = static_cast<AUDIO_DECODER*>(h);
    if (!a || !pfnRead || !pfnSize) return TH_BAD_ARG;
    if (a->bLoaded) return TH_BAD_ARG;
    std::vector<uint8_t> file;
    if (!ReadSource(pData, pfnRead, pfnSize, &file)) return TH_DAMAGED;
    if (!SplitStream(file, KIND_VORBIS, &a->packets)) return TH_DAMAGED;
    file = std::vector<uint8_t>();
    size_t i = 0;
    for (; i < 3; ++i) {
        if (i >= a->packets.Count()) return TH_DAMAGED;
        ogg_packet op;
        a->packets.Fill(i, &op);
        if (vorbis_synthesis_headerin(&a->vi, &a->vc, &op) != 0) return TH_DAMAGED;
    }
    if (a->vi.channels < 1 || a->vi.rate < static_cast<long>(DSBFREQUENCY_MIN) ||
        a->vi.rate > static_cast<long>(DSBFREQUENCY_MAX))
        return TH_DAMAGED;
    if (vorbis_synthesis_init(&a->vd, &a->vi) != 0) return TH_DAMAGED;
    vorbis_block_init(&a->vd, &a->vb);
    a->bDsp = true;
    a->nNextPacket = i;
    a->nOutChannels = std::min(a->vi.channels, 2);
    a->nRate = a->vi.rate;
    a->llTotalFrames = std::max<int64_t>(a->packets.llLastGranule, 0);
    a->dwStart = PlatGetTime();
    a->bLoaded = true;

    if (g_pTheoraDevice) {
        PLAT_WAVEFORMATEX wfx{};
        wfx.wFormatTag = PLAT_WAVE_FORMAT_PCM;
        wfx.nChannels = static_cast<uint16_t>(a->nOutChannels);
        wfx.nSamplesPerSec = static_cast<uint32_t>(a->nRate);
        wfx.wBitsPerSample = 16;
        wfx.nBlockAlign = static_cast<uint16_t>(wfx.nChannels * 2);
        wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
        PLAT_DSBUFFERDESC desc{};
        desc.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_LOCSOFTWARE | DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
        desc.dwBufferBytes = wfx.nAvgBytesPerSec;   // one second
        desc.lpwfxFormat = &wfx;
        PLAT_DS_BUFFER* pVoice = nullptr;
        if (PlatDsCreateBuffer(g_pTheoraDevice, &desc, &pVoice) == PLAT_DS_OK) {
            a->pVoice = pVoice;
            a->nBlock = wfx.nBlockAlign;
            PlatDsBufferGetSize(pVoice, &a->nVoiceBytes);
            std::lock_guard<std::mutex> g(g_voiceLock);
            ServiceVoice(a);   // fills the whole buffer before it plays
            PlatDsBufferPlay(pVoice, DSBPLAY_LOOPING);
            g_apVoices.push_back(a);
        }
    }
    return TH_OK;
}

int64_t TheoraWNowSample(void* h)
{
    AUDIO_DECODER* a = static_cast<AUDIO_DECODER*>(h);
    if (!a || !a->bLoaded) return 0;
    if (a->pVoice) {
        std::lock_guard<std::mutex> g(g_voiceLock);
        ServiceVoice(a);
        int64_t llBytes = a->llPlayed;
        if (a->llRealBytes >= 0) llBytes = std::min(llBytes, a->llRealBytes);
        return llBytes / a->nBlock;
    }
    const uint64_t ms = static_cast<uint32_t>(PlatGetTime() - a->dwStart);
    int64_t llSamples = static_cast<int64_t>(ms * static_cast<uint64_t>(a->nRate) / 1000u);
    if (a->llTotalFrames > 0) llSamples = std::min(llSamples, a->llTotalFrames);
    return llSamples;
}

// The names the engine binds but never calls.
int32_t TheoraUnused(void) { return 0; }

}  // namespace

void PlatTheoraSetAudioDevice(PLAT_DS* pDs)
{
    g_pTheoraDevice = pDs;
}

const PLAT_MODULE_ENTRY* PlatTheoraModuleEntries(int* pnCount)
{
    static const PLAT_MODULE_ENTRY k_aEntries[] = {
        {"theoralib_m_create", 0, reinterpret_cast<void*>(TheoraMCreate)},
        {"theoralib_m_free", 0, reinterpret_cast<void*>(TheoraMFree)},
        {"theoralib_m_init", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_m_load", 0, reinterpret_cast<void*>(TheoraMLoad)},
        {"theoralib_m_exists", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_m_decodeframe", 0, reinterpret_cast<void*>(TheoraMDecodeFrame)},
        {"theoralib_m_setvrevers", 0, reinterpret_cast<void*>(TheoraMSetVRevers)},
        {"theoralib_m_setdecodemode", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_m_nowframe", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_m_totalframe", 0, reinterpret_cast<void*>(TheoraMTotalFrame)},
        {"theoralib_m_totaltime", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_m_info", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_m_comment", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_w_create", 0, reinterpret_cast<void*>(TheoraWCreate)},
        {"theoralib_w_free", 0, reinterpret_cast<void*>(TheoraWFree)},
        {"theoralib_w_init", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_w_load", 0, reinterpret_cast<void*>(TheoraWLoad)},
        {"theoralib_w_exists", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_w_decodesample", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_w_nowsample", 0, reinterpret_cast<void*>(TheoraWNowSample)},
        {"theoralib_w_totalsample", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_w_totaltime", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_w_info", 0, reinterpret_cast<void*>(TheoraUnused)},
        {"theoralib_w_comment", 0, reinterpret_cast<void*>(TheoraUnused)},
    };
    *pnCount = static_cast<int>(sizeof(k_aEntries) / sizeof(k_aEntries[0]));
    return k_aEntries;
}
