#include "tools/lib/jpeg_writer.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

struct JPEG_WRITER_ERR {
    jpeg_error_mgr pub;
    jmp_buf jb;
};

void JpegWriterErrorExit(j_common_ptr p) { longjmp(reinterpret_cast<JPEG_WRITER_ERR*>(p->err)->jb, 1); }

}  // namespace

std::vector<uint8_t> EncodeJpegSamples(const std::vector<uint8_t>& samples, int w, int h, int nComp, int nQuality,
                                       bool bYcck)
{
    if (w <= 0 || h <= 0 || (nComp != 1 && nComp != 3 && nComp != 4) ||
        samples.size() < static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(nComp))
        return {};
    jpeg_compress_struct c;
    JPEG_WRITER_ERR err;
    unsigned char* pOut = nullptr;
    unsigned long nOut = 0;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegWriterErrorExit;
    if (setjmp(err.jb)) {
        jpeg_destroy_compress(&c);
        std::free(pOut);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &pOut, &nOut);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = nComp;
    c.in_color_space = nComp == 1 ? JCS_GRAYSCALE : nComp == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    if (nComp == 4 && bYcck)
        jpeg_set_colorspace(&c, JCS_YCCK);
    jpeg_set_quality(&c, nQuality < 1 ? 1 : nQuality > 100 ? 100 : nQuality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + size_t(c.next_scanline) * size_t(w) * size_t(nComp));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> v(pOut, pOut + nOut);
    std::free(pOut);
    return v;
}
