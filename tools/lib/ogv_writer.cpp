#include "tools/lib/ogv_writer.h"

#include <ogg/ogg.h>
#include <theora/theoraenc.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

void AppendPage(std::vector<uint8_t>& out, const ogg_page& pg)
{
    out.insert(out.end(), pg.header, pg.header + pg.header_len);
    out.insert(out.end(), pg.body, pg.body + pg.body_len);
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v)))); }

void RgbToYcc(const uint8_t* pRgb, double* pY, double* pCb, double* pCr)
{
    const double r = pRgb[0], g = pRgb[1], b = pRgb[2];
    *pY = 16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0;
    *pCb = 128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0;
    *pCr = 128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0;
}

struct AUDIO_ENC {
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    ogg_stream_state os;
    int64_t llDone = 0;
};

void PumpAudio(AUDIO_ENC* a, std::vector<uint8_t>& out, bool bFlush)
{
    ogg_page pg;
    while (vorbis_analysis_blockout(&a->vd, &a->vb) == 1) {
        vorbis_analysis(&a->vb, nullptr);
        vorbis_bitrate_addblock(&a->vb);
        ogg_packet op;
        while (vorbis_bitrate_flushpacket(&a->vd, &op)) ogg_stream_packetin(&a->os, &op);
    }
    while ((bFlush ? ogg_stream_flush(&a->os, &pg) : ogg_stream_pageout(&a->os, &pg)) != 0) AppendPage(out, pg);
}

}  // namespace

void OgvFrameColour(int nFrame, uint8_t* pRgb)
{
    // Three digits in base 4 pick the levels of R, G and B.
    static const uint8_t k_aLevel[4] = {40, 100, 160, 220};
    const int n = nFrame & 63;
    pRgb[0] = k_aLevel[n & 3];
    pRgb[1] = k_aLevel[(n >> 2) & 3];
    pRgb[2] = k_aLevel[(n >> 4) & 3];
}

int OgvWrittenFrames(const OGV_WRITER_OPTIONS& opt)
{
    return opt.nFrames + (opt.nDupAfterFrame >= 0 && opt.nDupAfterFrame < opt.nFrames ? opt.nDupCount : 0);
}

std::vector<uint8_t> WriteOgvMovie(const OGV_WRITER_OPTIONS& opt)
{
    std::vector<uint8_t> out;
    if (opt.nWidth <= 0 || opt.nHeight <= 0 || opt.nFrames <= 0) return out;
    const int nFrameW = (opt.nPicX + opt.nWidth + 15) & ~15;
    const int nFrameH = (opt.nPicY + opt.nHeight + 15) & ~15;

    th_info ti;
    th_info_init(&ti);
    ti.frame_width = static_cast<ogg_uint32_t>(nFrameW);
    ti.frame_height = static_cast<ogg_uint32_t>(nFrameH);
    ti.pic_width = static_cast<ogg_uint32_t>(opt.nWidth);
    ti.pic_height = static_cast<ogg_uint32_t>(opt.nHeight);
    ti.pic_x = static_cast<ogg_uint32_t>(opt.nPicX);
    ti.pic_y = static_cast<ogg_uint32_t>(opt.nPicY);
    ti.fps_numerator = static_cast<ogg_uint32_t>(opt.nFpsNum);
    ti.fps_denominator = static_cast<ogg_uint32_t>(opt.nFpsDen);
    ti.aspect_numerator = 1;
    ti.aspect_denominator = 1;
    ti.colorspace = TH_CS_UNSPECIFIED;
    ti.pixel_fmt = opt.nPixelFormat == 444 ? TH_PF_444 : (opt.nPixelFormat == 422 ? TH_PF_422 : TH_PF_420);
    ti.quality = opt.nQuality;
    ti.target_bitrate = 0;
    ti.keyframe_granule_shift = opt.nKeyShift;
    th_enc_ctx* enc = th_encode_alloc(&ti);
    if (!enc) {
        th_info_clear(&ti);
        return out;
    }
    ogg_stream_state vos;
    ogg_stream_init(&vos, opt.nVideoSerial);
    th_comment tc;
    th_comment_init(&tc);
    ogg_packet op;
    ogg_page pg;
    // The first header packet alone on the stream's first page.
    bool bFirst = true;
    while (th_encode_flushheader(enc, &tc, &op) > 0) {
        ogg_stream_packetin(&vos, &op);
        if (bFirst) {
            while (ogg_stream_flush(&vos, &pg) != 0) AppendPage(out, pg);
            bFirst = false;
        }
    }

    AUDIO_ENC audio;
    bool bAudio = opt.bAudio;
    if (bAudio) {
        vorbis_info_init(&audio.vi);
        if (vorbis_encode_init_vbr(&audio.vi, opt.nAudioChannels, opt.nAudioRate, 0.2f) != 0) {
            vorbis_info_clear(&audio.vi);
            bAudio = false;
        }
    }
    if (bAudio) {
        vorbis_comment_init(&audio.vc);
        vorbis_analysis_init(&audio.vd, &audio.vi);
        vorbis_block_init(&audio.vd, &audio.vb);
        ogg_stream_init(&audio.os, opt.nAudioSerial);
        ogg_packet h1, h2, h3;
        vorbis_analysis_headerout(&audio.vd, &audio.vc, &h1, &h2, &h3);
        ogg_stream_packetin(&audio.os, &h1);
        while (ogg_stream_flush(&audio.os, &pg) != 0) AppendPage(out, pg);
        ogg_stream_packetin(&audio.os, &h2);
        ogg_stream_packetin(&audio.os, &h3);
    }
    // The remaining headers of both streams before any data page.
    while (ogg_stream_flush(&vos, &pg) != 0) AppendPage(out, pg);
    if (bAudio)
        while (ogg_stream_flush(&audio.os, &pg) != 0) AppendPage(out, pg);

    const int nCShiftX = opt.nPixelFormat == 444 ? 0 : 1;
    const int nCShiftY = opt.nPixelFormat == 420 ? 1 : 0;
    const int nCW = nFrameW >> nCShiftX, nCH = nFrameH >> nCShiftY;
    std::vector<uint8_t> planeY(static_cast<size_t>(nFrameW) * nFrameH, 16);
    std::vector<uint8_t> planeCb(static_cast<size_t>(nCW) * nCH, 128), planeCr(planeCb.size(), 128);
    std::vector<double> sumCb(planeCb.size()), sumCr(planeCb.size());
    std::vector<int> count(planeCb.size());
    const int64_t llAudioTotal =
        static_cast<int64_t>(static_cast<double>(OgvWrittenFrames(opt)) * opt.nFpsDen / opt.nFpsNum * opt.nAudioRate);

    for (int f = 0; f < opt.nFrames; ++f) {
        std::fill(sumCb.begin(), sumCb.end(), 0.0);
        std::fill(sumCr.begin(), sumCr.end(), 0.0);
        std::fill(count.begin(), count.end(), 0);
        for (int y = 0; y < nFrameH; ++y)
            for (int x = 0; x < nFrameW; ++x) {
                // Pixels outside the picture repeat its nearest edge pixel.
                const int px = std::clamp(x - opt.nPicX, 0, opt.nWidth - 1);
                const int py = std::clamp(y - opt.nPicY, 0, opt.nHeight - 1);
                uint8_t rgb[3];
                if (opt.pixel)
                    opt.pixel(f, px, py, rgb);
                else
                    OgvFrameColour(f, rgb);
                double Y, Cb, Cr;
                RgbToYcc(rgb, &Y, &Cb, &Cr);
                planeY[static_cast<size_t>(y) * nFrameW + x] = Clamp(Y);
                const size_t c = static_cast<size_t>(y >> nCShiftY) * nCW + (x >> nCShiftX);
                sumCb[c] += Cb;
                sumCr[c] += Cr;
                ++count[c];
            }
        for (size_t c = 0; c < planeCb.size(); ++c) {
            planeCb[c] = Clamp(sumCb[c] / std::max(count[c], 1));
            planeCr[c] = Clamp(sumCr[c] / std::max(count[c], 1));
        }
        th_ycbcr_buffer buf;
        buf[0].width = nFrameW; buf[0].height = nFrameH; buf[0].stride = nFrameW; buf[0].data = planeY.data();
        buf[1].width = nCW; buf[1].height = nCH; buf[1].stride = nCW; buf[1].data = planeCb.data();
        buf[2].width = nCW; buf[2].height = nCH; buf[2].stride = nCW; buf[2].data = planeCr.data();
        if (f == opt.nDupAfterFrame && opt.nDupCount > 0) {
            int nDup = opt.nDupCount;
            th_encode_ctl(enc, TH_ENCCTL_SET_DUP_COUNT, &nDup, sizeof(nDup));
        }
        if (th_encode_ycbcr_in(enc, buf) != 0) break;
        const int bLast = f == opt.nFrames - 1;
        while (th_encode_packetout(enc, bLast, &op) > 0) ogg_stream_packetin(&vos, &op);
        while (ogg_stream_pageout(&vos, &pg) != 0) AppendPage(out, pg);

        if (bAudio) {
            // The sound up to the end of this frame (and its repeats).
            const int nShown = f + 1 + (f >= opt.nDupAfterFrame && opt.nDupAfterFrame >= 0 ? opt.nDupCount : 0);
            const int64_t llUpTo = std::min<int64_t>(
                llAudioTotal, static_cast<int64_t>(static_cast<double>(nShown) * opt.nFpsDen / opt.nFpsNum * opt.nAudioRate));
            while (audio.llDone < llUpTo) {
                const int n = static_cast<int>(std::min<int64_t>(llUpTo - audio.llDone, 1024));
                float** pp = vorbis_analysis_buffer(&audio.vd, n);
                for (int i = 0; i < n; ++i) {
                    const double t = static_cast<double>(audio.llDone + i) / opt.nAudioRate;
                    for (int c = 0; c < opt.nAudioChannels; ++c)
                        pp[c][i] = static_cast<float>(0.4 * std::sin(2.0 * M_PI * opt.dAudioHz * t + c * M_PI / 2));
                }
                vorbis_analysis_wrote(&audio.vd, n);
                audio.llDone += n;
            }
            if (bLast) vorbis_analysis_wrote(&audio.vd, 0);
            PumpAudio(&audio, out, bLast);
        }
    }
    while (ogg_stream_flush(&vos, &pg) != 0) AppendPage(out, pg);

    if (bAudio) {
        ogg_stream_clear(&audio.os);
        vorbis_block_clear(&audio.vb);
        vorbis_dsp_clear(&audio.vd);
        vorbis_comment_clear(&audio.vc);
        vorbis_info_clear(&audio.vi);
    }
    ogg_stream_clear(&vos);
    th_comment_clear(&tc);
    th_encode_free(enc);
    th_info_clear(&ti);
    return out;
}
