#include "tools/lib/ogg_writer.h"

#include <vorbis/vorbisenc.h>

#include <cmath>

namespace {

void AppendPage(std::vector<uint8_t>& out, const ogg_page& pg)
{
    out.insert(out.end(), pg.header, pg.header + pg.header_len);
    out.insert(out.end(), pg.body, pg.body + pg.body_len);
}

std::vector<float> MakeSignal(const OGG_WRITER_OPTIONS& opt)
{
    const int ch = opt.nChannels;
    const size_t n = opt.llFrames > 0 ? static_cast<size_t>(opt.llFrames) : 0;
    std::vector<float> v(n * static_cast<size_t>(ch > 0 ? ch : 0), 0.0f);
    const double kTwoPi = 6.283185307179586;
    for (size_t f = 0; f < n; ++f)
        for (int c = 0; c < ch; ++c) {
            double x = 0.0;
            if (opt.signal == OGGSIG_SINE)
                x = std::sin(kTwoPi * opt.dHz * double(f) / double(opt.nRate) + (c ? kTwoPi / 4 : 0.0));
            else if (opt.signal == OGGSIG_RAMP)
                x = n > 1 ? -1.0 + 2.0 * double(f) / double(n - 1) : 0.0;
            v[f * ch + c] = static_cast<float>(x * opt.fAmplitude);
        }
    return v;
}

}  // namespace

std::vector<uint8_t> WriteOggVorbisSamples(const OGG_WRITER_OPTIONS& opt, const float* pSamples, size_t nFrames)
{
    std::vector<uint8_t> out;
    if (opt.nChannels < 1 || opt.nChannels > 2)
        return out;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, opt.nChannels, opt.nRate, opt.fQuality) != 0) {
        vorbis_info_clear(&vi);
        return out;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, opt.nSerial);

    ogg_packet hdr, hdrComm, hdrCode;
    vorbis_analysis_headerout(&vd, &vc, &hdr, &hdrComm, &hdrCode);
    ogg_stream_packetin(&os, &hdr);
    ogg_stream_packetin(&os, &hdrComm);
    ogg_stream_packetin(&os, &hdrCode);
    ogg_page pg;
    while (ogg_stream_flush(&os, &pg) != 0)
        AppendPage(out, pg);

    // Fed in slices of 1024 frames, then the end of the stream.
    size_t f = 0;
    bool bEnd = false;
    while (!bEnd) {
        const size_t n = nFrames - f < 1024 ? nFrames - f : 1024;
        if (n == 0) {
            vorbis_analysis_wrote(&vd, 0);
        } else {
            float** pp = vorbis_analysis_buffer(&vd, static_cast<int>(n));
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < opt.nChannels; ++c)
                    pp[c][i] = pSamples[(f + i) * opt.nChannels + c];
            vorbis_analysis_wrote(&vd, static_cast<int>(n));
            f += n;
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &pg) != 0) {
                    AppendPage(out, pg);
                    if (ogg_page_eos(&pg))
                        bEnd = true;
                }
            }
        }
        if (n == 0 && !bEnd) {
            // Everything is out; whatever remains in the stream goes into a last page.
            while (ogg_stream_flush(&os, &pg) != 0)
                AppendPage(out, pg);
            bEnd = true;
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

std::vector<uint8_t> WriteOggVorbis(const OGG_WRITER_OPTIONS& opt)
{
    const std::vector<float> v = MakeSignal(opt);
    return WriteOggVorbisSamples(opt, v.data(), opt.nChannels > 0 ? v.size() / opt.nChannels : 0);
}

std::vector<uint8_t> WriteChainedOgg(const OGG_WRITER_OPTIONS& first, const OGG_WRITER_OPTIONS& second)
{
    std::vector<uint8_t> out = WriteOggVorbis(first);
    OGG_WRITER_OPTIONS b = second;
    if (b.nSerial == first.nSerial)
        b.nSerial = first.nSerial + 1;
    const std::vector<uint8_t> tail = WriteOggVorbis(b);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}
