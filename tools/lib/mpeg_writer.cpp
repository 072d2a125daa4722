#include "tools/lib/mpeg_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstring>

#include "tools/lib/ogv_writer.h"

namespace {

uint8_t Clamp(double v) { return static_cast<uint8_t>(std::lround(v < 0 ? 0 : (v > 255 ? 255 : v))); }

struct MUX {
    AVFormatContext* pFmt = nullptr;
    AVCodecContext* pVideo = nullptr;
    AVCodecContext* pAudio = nullptr;
    AVStream* pVs = nullptr;
    AVStream* pAs = nullptr;
    AVFrame* pFrame = nullptr;
    AVFrame* pSound = nullptr;
    AVPacket* pPkt = nullptr;
    ~MUX()
    {
        av_packet_free(&pPkt);
        av_frame_free(&pFrame);
        av_frame_free(&pSound);
        avcodec_free_context(&pVideo);
        avcodec_free_context(&pAudio);
        if (pFmt) {
            if (pFmt->pb) {
                uint8_t* p = nullptr;
                avio_close_dyn_buf(pFmt->pb, &p);
                av_free(p);
                pFmt->pb = nullptr;
            }
            avformat_free_context(pFmt);
        }
    }
};

bool Drain(MUX* m, AVCodecContext* c, AVStream* s)
{
    for (;;) {
        const int r = avcodec_receive_packet(c, m->pPkt);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return false;
        av_packet_rescale_ts(m->pPkt, c->time_base, s->time_base);
        m->pPkt->stream_index = s->index;
        if (av_interleaved_write_frame(m->pFmt, m->pPkt) < 0) return false;
    }
}

}  // namespace

std::vector<uint8_t> WriteMpeg1Movie(const MPEG_WRITER_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    av_log_set_level(AV_LOG_ERROR);
    MUX m;
    if (avformat_alloc_output_context2(&m.pFmt, nullptr, "mpeg", nullptr) < 0 || !m.pFmt) return out;
    const AVCodec* pVCodec = avcodec_find_encoder(AV_CODEC_ID_MPEG1VIDEO);
    if (!pVCodec) return out;
    m.pVs = avformat_new_stream(m.pFmt, nullptr);
    m.pVideo = avcodec_alloc_context3(pVCodec);
    if (!m.pVs || !m.pVideo) return out;
    m.pVideo->width = opt.nWidth;
    m.pVideo->height = opt.nHeight;
    m.pVideo->time_base = AVRational{1, opt.nFps};
    m.pVideo->framerate = AVRational{opt.nFps, 1};
    m.pVideo->pix_fmt = AV_PIX_FMT_YUV420P;
    m.pVideo->bit_rate = opt.nBitRate;
    m.pVideo->gop_size = 12;
    m.pVideo->max_b_frames = 0;
    m.pVideo->thread_count = 1;
    m.pVideo->rc_buffer_size = 327680;
    m.pVideo->rc_max_rate = opt.nBitRate * 2;
    if (avcodec_open2(m.pVideo, pVCodec, nullptr) < 0) return out;
    avcodec_parameters_from_context(m.pVs->codecpar, m.pVideo);
    m.pVs->time_base = m.pVideo->time_base;

    if (opt.bAudio) {
        const AVCodec* pACodec = avcodec_find_encoder(AV_CODEC_ID_MP2);
        if (!pACodec) return out;
        m.pAs = avformat_new_stream(m.pFmt, nullptr);
        m.pAudio = avcodec_alloc_context3(pACodec);
        if (!m.pAs || !m.pAudio) return out;
        m.pAudio->sample_fmt = AV_SAMPLE_FMT_S16;
        m.pAudio->sample_rate = 44100;
        m.pAudio->bit_rate = 128000;
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&m.pAudio->ch_layout, &stereo);
        m.pAudio->time_base = AVRational{1, 44100};
        if (avcodec_open2(m.pAudio, pACodec, nullptr) < 0) return out;
        avcodec_parameters_from_context(m.pAs->codecpar, m.pAudio);
        m.pAs->time_base = m.pAudio->time_base;
    }

    if (avio_open_dyn_buf(&m.pFmt->pb) < 0) return out;
    if (avformat_write_header(m.pFmt, nullptr) < 0) return out;
    m.pFrame = av_frame_alloc();
    m.pPkt = av_packet_alloc();
    if (!m.pFrame || !m.pPkt) return out;
    m.pFrame->format = AV_PIX_FMT_YUV420P;
    m.pFrame->width = opt.nWidth;
    m.pFrame->height = opt.nHeight;
    if (av_frame_get_buffer(m.pFrame, 0) < 0) return out;

    int64_t llSamples = 0;
    const int nSamplesTotal = static_cast<int>(static_cast<int64_t>(opt.nFrames) * 44100 / opt.nFps);
    for (int f = 0; f < opt.nFrames; ++f) {
        if (av_frame_make_writable(m.pFrame) < 0) return out;
        for (int y = 0; y < opt.nHeight; ++y)
            for (int x = 0; x < opt.nWidth; ++x) {
                uint8_t rgb[3];
                if (opt.pixel)
                    opt.pixel(f, x, y, rgb);
                else
                    OgvFrameColour(f, rgb);
                const double r = rgb[0], g = rgb[1], b = rgb[2];
                m.pFrame->data[0][y * m.pFrame->linesize[0] + x] = Clamp(16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0);
                if (!(x & 1) && !(y & 1)) {
                    m.pFrame->data[1][(y / 2) * m.pFrame->linesize[1] + x / 2] =
                        Clamp(128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0);
                    m.pFrame->data[2][(y / 2) * m.pFrame->linesize[2] + x / 2] =
                        Clamp(128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0);
                }
            }
        m.pFrame->pts = f;
        if (avcodec_send_frame(m.pVideo, m.pFrame) < 0 || !Drain(&m, m.pVideo, m.pVs)) return out;

        while (m.pAudio && llSamples < static_cast<int64_t>(f + 1) * 44100 / opt.nFps && llSamples < nSamplesTotal) {
            if (!m.pSound) {
                m.pSound = av_frame_alloc();
                if (!m.pSound) return out;
                m.pSound->format = AV_SAMPLE_FMT_S16;
                m.pSound->nb_samples = m.pAudio->frame_size;
                m.pSound->sample_rate = 44100;
                av_channel_layout_copy(&m.pSound->ch_layout, &m.pAudio->ch_layout);
                if (av_frame_get_buffer(m.pSound, 0) < 0) return out;
            }
            if (av_frame_make_writable(m.pSound) < 0) return out;
            int16_t* p = reinterpret_cast<int16_t*>(m.pSound->data[0]);
            for (int i = 0; i < m.pSound->nb_samples; ++i) {
                const int16_t s = static_cast<int16_t>(12000.0 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(llSamples + i) / 44100.0));
                p[2 * i] = p[2 * i + 1] = s;
            }
            m.pSound->pts = llSamples;
            llSamples += m.pSound->nb_samples;
            if (avcodec_send_frame(m.pAudio, m.pSound) < 0 || !Drain(&m, m.pAudio, m.pAs)) return out;
        }
    }
    if (avcodec_send_frame(m.pVideo, nullptr) < 0 || !Drain(&m, m.pVideo, m.pVs)) return out;
    if (m.pAudio && (avcodec_send_frame(m.pAudio, nullptr) < 0 || !Drain(&m, m.pAudio, m.pAs))) return out;
    if (av_write_trailer(m.pFmt) < 0) return out;
    uint8_t* pBuf = nullptr;
    const int n = avio_close_dyn_buf(m.pFmt->pb, &pBuf);
    m.pFmt->pb = nullptr;
    if (pBuf && n > 0) out.assign(pBuf, pBuf + n);
    av_free(pBuf);
    return out;
}
