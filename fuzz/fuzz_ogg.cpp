// Ogg Vorbis files through vorbisfile from memory: the open checks, then decoding and seeking.
// Every page's checksum is set right before the engine sees the input, so that changed bytes
// reach the stream's contents instead of ending at libogg's checksum test.
#include <ogg/ogg.h>

#include <cstring>
#include <vector>

#include "fuzz/sound_input.h"

namespace {

void SetPageChecksums(std::vector<uint8_t>& b)
{
    for (size_t p = 0; p + 27 <= b.size();) {
        if (std::memcmp(&b[p], "OggS", 4) != 0) {
            ++p;
            continue;
        }
        const size_t nSegs = b[p + 26];
        const size_t nHeader = 27 + nSegs;
        if (p + nHeader > b.size()) break;
        size_t nBody = 0;
        for (size_t i = 0; i < nSegs; ++i) nBody += b[p + 27 + i];
        if (p + nHeader + nBody > b.size()) nBody = b.size() - p - nHeader;
        ogg_page page;
        page.header = &b[p];
        page.header_len = long(nHeader);
        page.body = &b[p + nHeader];
        page.body_len = long(nBody);
        ogg_page_checksum_set(&page);
        p += nHeader + nBody;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzSoundInit(pArgc, pArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::vector<uint8_t> file(pData, pData + nSize);
    SetPageChecksums(file);
    FuzzSoundInput(file.data(), file.size(), SNDSRC_OGG);
    return 0;
}
