#include "tests/support/screenshot.h"

#include <png.h>

bool ReadShot(const std::string& strPath, SHOT* pShot)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&img, strPath.c_str()) == 0) return false;
    img.format = PNG_FORMAT_RGB;
    pShot->rgb.assign(PNG_IMAGE_SIZE(img), 0);
    if (png_image_finish_read(&img, nullptr, pShot->rgb.data(), 0, nullptr) == 0) {
        png_image_free(&img);
        return false;
    }
    pShot->nWidth = img.width;
    pShot->nHeight = img.height;
    return true;
}
