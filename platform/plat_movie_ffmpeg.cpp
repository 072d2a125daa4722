// The FFmpeg window-movie back end: a decoding thread reads the file with libavformat, decodes with
// libavcodec, scales pictures to the movie rectangle (libswscale, B,G,R,A) and converts sound to
// 16-bit stereo at 48000 Hz (libswresample). Each picture is shown when the clock since the start
// reaches its time: it is drawn into the owner window's retained picture on the window thread and
// presented. Sound streams through a one-second looping voice of the engine's mixer.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/plat_audio.h"
#include "platform/plat_file.h"
#include "platform/plat_movie_backend.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"

namespace {

constexpr int kMaxSide = 8192;
constexpr uint32_t kOutRate = 48000;

struct PICTURE {
    int64_t llDueMs;
    int w, h;
    std::vector<uint32_t> px;
};

struct FF_MOVIE {
    AVFormatContext* pFmt = nullptr;
    AVCodecContext* pVideo = nullptr;
    AVCodecContext* pAudio = nullptr;
    int nVideoStream = -1, nAudioStream = -1;
    SwsContext* pSws = nullptr;
    SwrContext* pSwr = nullptr;
    PLAT_HWND hOwner = 0;
    std::thread thread;
    std::atomic<bool> bQuit{false};
    std::atomic<bool> bStopped{false};
    std::atomic<bool> bEnded{false};   // the decoding thread's last act
    // Guarded by lock: the rectangle and the picture shown last.
    std::mutex lock;
    PLAT_RECT rc{};
    PICTURE shown;
    bool bShowQueued = false;
    // Decoding thread only.
    std::deque<PICTURE> pending;
    uint32_t dwStart = 0;
    bool bEof = false;
    // Sound.
    PLAT_DS_BUFFER* pVoice = nullptr;
    uint32_t nVoiceBytes = 0;
    std::vector<int16_t> fifo;
    size_t nFifoRead = 0;
    int64_t llWritten = 0, llPlayed = 0, llRealEnd = -1;
    uint32_t dwLastPlay = 0;
};

// The open movie; the window thread's drawing call finds it here under g_movieLock.
std::mutex g_movieLock;
FF_MOVIE* g_pMovie = nullptr;

int64_t ToMs(int64_t pts, AVRational tb)
{
    if (pts == AV_NOPTS_VALUE) return -1;
    return av_rescale_q(pts, tb, AVRational{1, 1000});
}

// Window thread: the picture into the owner's retained picture at the rectangle, then presented.
void DrawShownPicture(void*)
{
    std::lock_guard<std::mutex> g(g_movieLock);
    FF_MOVIE* m = g_pMovie;
    if (!m) return;
    uint32_t* pFb = nullptr;
    int fw = 0, fh = 0, nPitch = 0;
    {
        std::lock_guard<std::mutex> g2(m->lock);
        m->bShowQueued = false;
        if (m->shown.px.empty()) return;
        if (PlatGetWindowFramebuffer(m->hOwner, &pFb, &fw, &fh, &nPitch) != 0 || !pFb) return;
        const int x0 = m->rc.left, y0 = m->rc.top;
        for (int y = 0; y < m->shown.h; ++y) {
            const int ty = y0 + y;
            if (ty < 0 || ty >= fh) continue;
            const int xs = std::max(0, -x0), xe = std::min(m->shown.w, fw - x0);
            if (xe <= xs) continue;
            uint32_t* pRow = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pFb) + static_cast<size_t>(ty) * nPitch);
            std::memcpy(pRow + x0 + xs, m->shown.px.data() + static_cast<size_t>(y) * m->shown.w + xs,
                        static_cast<size_t>(xe - xs) * 4);
        }
    }
    PlatPresentWindow(m->hOwner);
}

// Converts a decoded picture to the rectangle's size.
bool ConvertPicture(FF_MOVIE* m, const AVFrame* f, PICTURE* pOut)
{
    int w, h;
    {
        std::lock_guard<std::mutex> g(m->lock);
        w = std::clamp(m->rc.right - m->rc.left, 1, kMaxSide);
        h = std::clamp(m->rc.bottom - m->rc.top, 1, kMaxSide);
    }
    m->pSws = sws_getCachedContext(m->pSws, f->width, f->height, static_cast<AVPixelFormat>(f->format), w, h,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m->pSws) return false;
    pOut->w = w;
    pOut->h = h;
    pOut->px.assign(static_cast<size_t>(w) * h, 0);
    uint8_t* apDst[4] = {reinterpret_cast<uint8_t*>(pOut->px.data()), nullptr, nullptr, nullptr};
    int anDst[4] = {w * 4, 0, 0, 0};
    sws_scale(m->pSws, f->data, f->linesize, 0, f->height, apDst, anDst);
    return true;
}

void TakeVideoFrames(FF_MOVIE* m)
{
    AVFrame* f = av_frame_alloc();
    if (!f) return;
    while (avcodec_receive_frame(m->pVideo, f) == 0) {
        PICTURE pic;
        // Times count from the stream's start (program streams start after a preload delay).
        const AVStream* pStream = m->pFmt->streams[m->nVideoStream];
        int64_t ms = ToMs(f->best_effort_timestamp, pStream->time_base);
        if (ms >= 0 && pStream->start_time != AV_NOPTS_VALUE) ms = std::max<int64_t>(ms - ToMs(pStream->start_time, pStream->time_base), 0);
        if (ms < 0) ms = m->pending.empty() ? 0 : m->pending.back().llDueMs;
        pic.llDueMs = ms;
        if (ConvertPicture(m, f, &pic)) m->pending.push_back(std::move(pic));
        av_frame_unref(f);
    }
    av_frame_free(&f);
}

void TakeAudioFrames(FF_MOVIE* m)
{
    AVFrame* f = av_frame_alloc();
    if (!f) return;
    while (avcodec_receive_frame(m->pAudio, f) == 0) {
        if (m->pSwr) {
            const int nOut = swr_get_out_samples(m->pSwr, f->nb_samples);
            if (nOut > 0) {
                if (m->nFifoRead > 0 && m->nFifoRead == m->fifo.size()) {
                    m->fifo.clear();
                    m->nFifoRead = 0;
                }
                const size_t nOld = m->fifo.size();
                m->fifo.resize(nOld + static_cast<size_t>(nOut) * 2);
                uint8_t* pOut = reinterpret_cast<uint8_t*>(m->fifo.data() + nOld);
                const int n = swr_convert(m->pSwr, &pOut, nOut, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
                m->fifo.resize(nOld + static_cast<size_t>(std::max(n, 0)) * 2);
            }
        }
        av_frame_unref(f);
    }
    av_frame_free(&f);
}

// Keeps the voice filled behind its play cursor; silence once the sound ran out.
void ServiceVoice(FF_MOVIE* m)
{
    if (!m->pVoice) return;
    uint32_t dwPlay = 0;
    if (PlatDsBufferGetCurrentPosition(m->pVoice, &dwPlay, nullptr) != PLAT_DS_OK) return;
    m->llPlayed += (dwPlay + m->nVoiceBytes - m->dwLastPlay) % m->nVoiceBytes;
    m->dwLastPlay = dwPlay;
    if (m->llPlayed > m->llWritten) m->llWritten = m->llPlayed;
    const int64_t llLead = m->llWritten - m->llPlayed;
    uint32_t nFree = static_cast<uint32_t>(m->nVoiceBytes - llLead) & ~3u;
    // Decoded sound goes in as it comes; silence only where the voice would otherwise run into old
    // sound (a lead below a tenth of a second), and after the end.
    if (!m->bEof) {
        const int64_t llAvail = static_cast<int64_t>((m->fifo.size() - m->nFifoRead) * 2) & ~int64_t(3);
        const int64_t llWant = std::max<int64_t>(llAvail, static_cast<int64_t>(kOutRate) * 4 / 10 - llLead);
        nFree = static_cast<uint32_t>(std::clamp<int64_t>(llWant, 0, nFree)) & ~3u;
    }
    if (nFree == 0) return;
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    if (PlatDsBufferLock(m->pVoice, static_cast<uint32_t>(m->llWritten % m->nVoiceBytes), nFree, &p1, &n1, &p2, &n2, 0) != PLAT_DS_OK)
        return;
    uint8_t* apDest[2] = {static_cast<uint8_t*>(p1), static_cast<uint8_t*>(p2)};
    const uint32_t anBytes[2] = {n1, n2};
    int64_t llAt = m->llWritten;
    for (int i = 0; i < 2; ++i) {
        if (!apDest[i]) continue;
        const size_t nAvail = (m->fifo.size() - m->nFifoRead) * 2;
        const size_t nCopy = std::min<size_t>(anBytes[i], nAvail);
        if (nCopy) std::memcpy(apDest[i], m->fifo.data() + m->nFifoRead, nCopy);
        m->nFifoRead += nCopy / 2;
        std::memset(apDest[i] + nCopy, 0, anBytes[i] - nCopy);
        if (nCopy < anBytes[i] && m->bEof && m->llRealEnd < 0) m->llRealEnd = llAt + static_cast<int64_t>(nCopy);
        llAt += anBytes[i];
    }
    PlatDsBufferUnlock(m->pVoice, p1, n1, p2, n2);
    m->llWritten += nFree;
}

void ShowPicture(FF_MOVIE* m, PICTURE&& pic)
{
    bool bQueue;
    {
        std::lock_guard<std::mutex> g(m->lock);
        m->shown = std::move(pic);
        bQueue = !m->bShowQueued;
        m->bShowQueued = true;
    }
    if (bQueue && PlatRunOnWindowThread(DrawShownPicture, nullptr, 0) != 0) {
        std::lock_guard<std::mutex> g(m->lock);
        m->bShowQueued = false;
    }
}

void DecodeLoop(FF_MOVIE* m)
{
    AVPacket* pkt = av_packet_alloc();
    if (!pkt) {
        PlatMovieQueueEvent(PLAT_MOVIE_EVENT_ERRORABORT);
        return;
    }
    m->dwStart = PlatGetTime();
    bool bError = false;
    while (!m->bQuit.load()) {
        if (m->bStopped.load()) {
            PlatSleep(10);
            continue;
        }
        ServiceVoice(m);
        const int64_t llNow = static_cast<uint32_t>(PlatGetTime() - m->dwStart);
        if (!m->pending.empty()) {
            if (m->pending.front().llDueMs <= llNow) {
                ShowPicture(m, std::move(m->pending.front()));
                m->pending.pop_front();
                continue;
            }
            // Enough read ahead: wait for the picture's time (sound keeps flowing).
            if (m->pending.size() >= 2 || m->bEof) {
                PlatSleep(static_cast<uint32_t>(std::min<int64_t>(m->pending.front().llDueMs - llNow, 4)));
                continue;
            }
        }
        if (m->bEof) {
            // Every picture shown: the movie ends when its sound has been heard.
            const bool bSoundDone = !m->pVoice || (m->fifo.size() == m->nFifoRead && m->llRealEnd >= 0 && m->llPlayed >= m->llRealEnd);
            if (bSoundDone) break;
            PlatSleep(4);
            continue;
        }
        const int r = av_read_frame(m->pFmt, pkt);
        if (r < 0) {
            if (r != AVERROR_EOF && !(m->pFmt->pb && avio_feof(m->pFmt->pb))) {
                bError = true;
                break;
            }
            m->bEof = true;
            if (m->pVideo && avcodec_send_packet(m->pVideo, nullptr) == 0) TakeVideoFrames(m);
            if (m->pAudio && avcodec_send_packet(m->pAudio, nullptr) == 0) TakeAudioFrames(m);
            continue;
        }
        if (pkt->stream_index == m->nVideoStream && m->pVideo) {
            if (avcodec_send_packet(m->pVideo, pkt) == 0) TakeVideoFrames(m);
        } else if (pkt->stream_index == m->nAudioStream && m->pAudio) {
            if (avcodec_send_packet(m->pAudio, pkt) == 0) TakeAudioFrames(m);
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    if (m->pVoice) PlatDsBufferStop(m->pVoice);
    if (!m->bQuit.load()) PlatMovieQueueEvent(bError ? PLAT_MOVIE_EVENT_ERRORABORT : PLAT_MOVIE_EVENT_COMPLETE);
}

AVCodecContext* OpenDecoder(AVFormatContext* pFmt, int nStream)
{
    const AVCodecParameters* par = pFmt->streams[nStream]->codecpar;
    const AVCodec* pCodec = avcodec_find_decoder(par->codec_id);
    if (!pCodec) return nullptr;
    AVCodecContext* c = avcodec_alloc_context3(pCodec);
    if (!c) return nullptr;
    c->thread_count = 1;   // one core: the engine's frame thread and workers have the others
    if (avcodec_parameters_to_context(c, par) < 0 || avcodec_open2(c, pCodec, nullptr) < 0) {
        avcodec_free_context(&c);
        return nullptr;
    }
    return c;
}

void FreeMovie(FF_MOVIE* m)
{
    if (m->pVoice) PlatDsBufferRelease(m->pVoice);
    sws_freeContext(m->pSws);
    swr_free(&m->pSwr);
    avcodec_free_context(&m->pVideo);
    avcodec_free_context(&m->pAudio);
    avformat_close_input(&m->pFmt);
    delete m;
}

void StartVoice(FF_MOVIE* m, PLAT_DS* pDs, int32_t nVolume)
{
    if (!pDs || !m->pAudio) return;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&m->pSwr, &stereo, AV_SAMPLE_FMT_S16, kOutRate, &m->pAudio->ch_layout,
                            m->pAudio->sample_fmt, m->pAudio->sample_rate, 0, nullptr) < 0 ||
        swr_init(m->pSwr) < 0) {
        swr_free(&m->pSwr);
        return;
    }
    PLAT_WAVEFORMATEX wfx{};
    wfx.wFormatTag = PLAT_WAVE_FORMAT_PCM;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = kOutRate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 4;
    wfx.nAvgBytesPerSec = kOutRate * 4;
    PLAT_DSBUFFERDESC desc{};
    desc.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_LOCSOFTWARE | DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
    desc.dwBufferBytes = wfx.nAvgBytesPerSec;
    desc.lpwfxFormat = &wfx;
    if (PlatDsCreateBuffer(pDs, &desc, &m->pVoice) != PLAT_DS_OK) {
        m->pVoice = nullptr;
        return;
    }
    PlatDsBufferGetSize(m->pVoice, &m->nVoiceBytes);
    PlatDsBufferSetVolume(m->pVoice, nVolume);
    PlatDsBufferPlay(m->pVoice, DSBPLAY_LOOPING);   // silence until the first sound is written
}

int FfOpen(const PLAT_MOVIE_OPEN* p)
{
    av_log_set_level(AV_LOG_ERROR);
    std::string strNative;
    if (PlatResolvePath(p->pszFile, &strNative) != 0) return -2;
    FF_MOVIE* m = new FF_MOVIE();
    m->hOwner = p->hOwner;
    m->rc = PLAT_RECT{p->x, p->y, p->x + std::max(p->w, 1), p->y + std::max(p->h, 1)};
    if (avformat_open_input(&m->pFmt, strNative.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(m->pFmt, nullptr) < 0) {
        FreeMovie(m);
        return -2;
    }
    m->nVideoStream = av_find_best_stream(m->pFmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    m->nAudioStream = av_find_best_stream(m->pFmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (m->nVideoStream >= 0) m->pVideo = OpenDecoder(m->pFmt, m->nVideoStream);
    if (m->nAudioStream >= 0) m->pAudio = OpenDecoder(m->pFmt, m->nAudioStream);
    if (!m->pVideo && !m->pAudio) {
        FreeMovie(m);
        return -2;
    }
    StartVoice(m, p->pAudio, p->nVolume);
    {
        std::lock_guard<std::mutex> g(g_movieLock);
        g_pMovie = m;
    }
    m->thread = std::thread([m] {
        DecodeLoop(m);
        m->bEnded = true;
    });
    return 0;
}

void FfSetRect(int32_t x, int32_t y, int32_t w, int32_t h)
{
    std::lock_guard<std::mutex> g(g_movieLock);
    if (!g_pMovie) return;
    std::lock_guard<std::mutex> g2(g_pMovie->lock);
    g_pMovie->rc = PLAT_RECT{x, y, x + std::max(w, 1), y + std::max(h, 1)};
}

void FfSetVolume(int32_t nVolume)
{
    std::lock_guard<std::mutex> g(g_movieLock);
    if (g_pMovie && g_pMovie->pVoice) PlatDsBufferSetVolume(g_pMovie->pVoice, nVolume);
}

void FfStop(void)
{
    std::lock_guard<std::mutex> g(g_movieLock);
    if (!g_pMovie) return;
    g_pMovie->bStopped = true;
    if (g_pMovie->pVoice) PlatDsBufferStop(g_pMovie->pVoice);
}

void FfRelease(void)
{
    FF_MOVIE* m;
    {
        std::lock_guard<std::mutex> g(g_movieLock);
        m = g_pMovie;
        g_pMovie = nullptr;
    }
    if (!m) return;
    m->bQuit = true;
    // Waited for as every wait between threads is: on the window thread, serving it.
    if (m->thread.joinable()) {
        PlatWaitUntil([](void* p) { return static_cast<FF_MOVIE*>(p)->bEnded.load() ? 1 : 0; }, m, 1);
        m->thread.join();
    }
    FreeMovie(m);
}

}  // namespace

const PLAT_MOVIE_BACKEND_OPS g_FfmpegMovieOps = {FfOpen, FfSetRect, FfSetVolume, FfStop, FfRelease};
