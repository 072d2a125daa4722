// Picture decoding in a fresh process. A warm benchmark loop hides what the first load of a game
// pays (first touches of every page of a new buffer, code and tables used for the first time), so
// this program writes the decode benchmarks' 1920 x 1080 picture as PNG, JPEG and WebP once and then
// runs itself again, one fresh process per measurement, timing the first decode of a file:
//   engine  the engine's decoder (which gives the transparent normal form) and the picture taken
//           by a layer, as a load does it;
//   plain   the library's own decode into a buffer the program allocates (libpng's simplified
//           API, libjpeg's scanlines, WebPDecodeBGRAInto).
// Times are the process's processor time (page faults included), so other work on the machine does
// not enter them. It prints the median of each and the engine's time as a multiple of the plain one.
//
//   kxbench_decode_fresh [--runs N]
//   kxbench_decode_fresh --write FOLDER (the three files, for measuring the children by hand)
//   kxbench_decode_fresh --child engine|plain png|jpeg|webp FILE
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>

#include "bench/fresh/fresh_process.h"
#include "bench/image_files.h"
#include "core/codecs.h"
#include "image/image_load.h"
#include "image/layer.h"
#include "root/startup.h"

namespace {

namespace fs = std::filesystem;

constexpr int W = BENCH_PICTURE_W, H = BENCH_PICTURE_H;

std::vector<uint8_t> ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The engine's path: decoder (normal form included) and layer. 0 and the time, or 1.
int ChildEngine(const std::string& strFormat, const std::vector<uint8_t>& file)
{
    InstallEngineParts();
    LoadCodecLibraries();
    LoadWebPDLL();
    int (*pfnDecode)(const uint8_t*, size_t, const char*, DECODED_IMAGE*) =
        strFormat == "png" ? DecodePNGImage : strFormat == "jpeg" ? DecodeJPEGImage : DecodeWebPImage;
    LAYER layer{};
    const int64_t t0 = FreshProcessNanoseconds();
    DECODED_IMAGE img;
    if (pfnDecode(file.data(), file.size(), "bench", &img) != 0) return 1;
    SetLayerPixels(&layer, img.pPixels, img.nWidth, img.nHeight);
    const int64_t ns = FreshProcessNanoseconds() - t0;
    std::printf("%lld %u\n", static_cast<long long>(ns), img.pPixels[size_t(W) * 4 * 7 + 3]);
    SetLayerPixels(&layer, nullptr, 0, 0);
    return 0;
}

struct JPEG_ERROR {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void JpegFail(j_common_ptr p)
{
    longjmp(reinterpret_cast<JPEG_ERROR*>(p->err)->jump, 1);
}

// Jump range of libjpeg: nothing with a destructor lives in this frame.
int PlainJpeg(const std::vector<uint8_t>& file, uint8_t* pOut)
{
    jpeg_decompress_struct d;
    JPEG_ERROR err;
    d.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegFail;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        return 1;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), file.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = pOut + size_t(d.output_scanline) * W * 4;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return 0;
}

// The library's own decode into a buffer allocated for it. 0 and the time, or 1.
int ChildPlain(const std::string& strFormat, const std::vector<uint8_t>& file)
{
    const int64_t t0 = FreshProcessNanoseconds();
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(W) * H * 4]);
    bool bOk = false;
    if (strFormat == "png") {
        png_image img;
        std::memset(&img, 0, sizeof img);
        img.version = PNG_IMAGE_VERSION;
        bOk = png_image_begin_read_from_memory(&img, file.data(), file.size()) != 0;
        img.format = PNG_FORMAT_BGRA;
        bOk = bOk && png_image_finish_read(&img, nullptr, out.get(), 0, nullptr) != 0;
    } else if (strFormat == "jpeg") {
        bOk = PlainJpeg(file, out.get()) == 0;
    } else {
        bOk = WebPDecodeBGRAInto(file.data(), file.size(), out.get(), size_t(W) * H * 4, W * 4) != nullptr;
    }
    const int64_t ns = FreshProcessNanoseconds() - t0;
    if (!bOk) return 1;
    std::printf("%lld %u\n", static_cast<long long>(ns), out[size_t(W) * 4 * 7 + 3]);
    return 0;
}

int64_t RunChild(const std::string& strSelf, const char* pszSide, const char* pszFormat, const std::string& strFile)
{
    return RunFreshChild("'" + strSelf + "' --child " + pszSide + " " + pszFormat + " '" + strFile + "'");
}

bool WriteFile(const std::string& strPath, const std::vector<uint8_t>& data)
{
    std::ofstream out(strPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        const std::string strSide = argv[2], strFormat = argv[3];
        if (strFormat != "png" && strFormat != "jpeg" && strFormat != "webp") return 2;
        const std::vector<uint8_t> file = ReadFile(argv[4]);
        if (file.empty()) return 1;
        return strSide == "engine" ? ChildEngine(strFormat, file) : ChildPlain(strFormat, file);
    }
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        const std::string strFolder = argv[2];
        const bool bOk = WriteFile(strFolder + "/png", BenchPngFile()) && WriteFile(strFolder + "/jpeg", BenchJpegFile()) &&
                         WriteFile(strFolder + "/webp", BenchWebPFile());
        return bOk ? 0 : 1;
    }
    int nRuns = 15;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && std::strcmp(argv[i], "--runs") == 0) {
            nRuns = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: kxbench_decode_fresh [--runs N] | --write FOLDER\n");
            return 2;
        }
    }
    const std::string strSelf = FreshSelfPath(), strFolder = FreshTempFolder("kxbench-decode");
    if (strSelf.empty() || strFolder.empty()) return 1;
    struct FORMAT {
        const char* pszName;
        const std::vector<uint8_t>& file;
        std::vector<int64_t> engine, plain;
    };
    FORMAT aFormats[] = {{"png", BenchPngFile(), {}, {}}, {"jpeg", BenchJpegFile(), {}, {}}, {"webp", BenchWebPFile(), {}, {}}};
    int nResult = 0;
    for (FORMAT& f : aFormats)
        if (!WriteFile(strFolder + "/" + f.pszName, f.file)) nResult = 1;
    for (int i = 0; i < nRuns && nResult == 0; ++i) {
        for (FORMAT& f : aFormats) {
            // Alternated, so that a change of the machine's load touches both alike.
            const std::string strFile = strFolder + "/" + f.pszName;
            const int64_t a = RunChild(strSelf, "engine", f.pszName, strFile);
            const int64_t b = RunChild(strSelf, "plain", f.pszName, strFile);
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "a %s measurement failed\n", f.pszName);
                nResult = 1;
                break;
            }
            f.engine.push_back(a);
            f.plain.push_back(b);
        }
    }
    std::error_code ec;
    fs::remove_all(strFolder, ec);
    if (nResult != 0) return nResult;
    std::printf("first decode of a %d x %d picture, %d fresh processes each (medians)\n", W, H, nRuns);
    for (const FORMAT& f : aFormats) {
        const double dEngine = FreshMedianMs(f.engine), dPlain = FreshMedianMs(f.plain);
        std::printf("  %-5s engine %8.3f ms   plain %8.3f ms   engine / plain %5.2f\n", f.pszName, dEngine, dPlain,
                    dEngine / dPlain);
    }
    return 0;
}
