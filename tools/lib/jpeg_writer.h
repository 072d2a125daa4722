// JPEG writer for fixtures and the demo builder: libjpeg used directly, independent of the engine's
// own encoder, so tests can compare the engine's decoding with a file the engine did not make.
#pragma once
#include <cstdint>
#include <vector>

// Encodes w x h samples of nComp components per pixel (1 grey, 3 R,G,B, 4 C,M,Y,K), rows top-down
// without padding, at the quality (1..100). Four components are stored as CMYK with an Adobe
// marker, or with bYcck as YCCK (the colour part turned into Y,Cb,Cr, K kept); the samples are
// stored as given (inverted CMYK, as Adobe's writers store it, is the caller's to make). The JPEG
// file image, or empty when the library refuses.
std::vector<uint8_t> EncodeJpegSamples(const std::vector<uint8_t>& samples, int w, int h, int nComp,
                                       int nQuality = 90, bool bYcck = false);
