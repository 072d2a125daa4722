// JPEG writer for fixtures and the demo builder: libjpeg used directly, independent of the engine's
// own encoder, so tests can compare the engine's decoding with a file the engine did not make.
#pragma once
#include <cstdint>
#include <vector>

// Encodes w x h samples of nComp components per pixel (1 grey, 3 R,G,B, 4 CMYK), rows top-down
// without padding, at the quality (1..100). The JPEG file image, or empty when the library refuses.
std::vector<uint8_t> EncodeJpegSamples(const std::vector<uint8_t>& samples, int w, int h, int nComp,
                                       int nQuality = 90);
