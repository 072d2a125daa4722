// Frame-sheet writer for the fixtures: a head, the offset and length tables, and each frame's
// colour and alpha JPEG parts scrambled with ((j AND 0x0F) OR 0x10). Raw options write damaged
// sheets: a different count, alpha flag or table entries, or a file cut short.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

struct SHEET_FRAME {
    std::vector<uint8_t> color;   // a JPEG file (unscrambled)
    std::vector<uint8_t> alpha;   // a grey JPEG file, or empty
};

struct SHEET_RAW {
    // Written in place of the number of frames; the tables keep the layout of the frames given.
    std::optional<int32_t> nCount;
    std::optional<int32_t> nAlphaFlag;    // written in place of the flag (1 when every frame has alpha)
    // Table entries written in place of the true ones: (frame, value).
    std::vector<std::pair<int32_t, uint32_t>> offsets, colorLens, alphaLens;
    std::optional<size_t> nCutTo;         // the file is cut to this many bytes
};

// The scramble (its own inverse) of n bytes.
void ScrambleSheetBytes(uint8_t* p, size_t n);
// The whole sheet file. Header values 1..3 go to offsets 16, 20 and 24.
std::vector<uint8_t> WriteFrameSheetBytes(const std::vector<SHEET_FRAME>& frames, int32_t nValue1 = 0,
                                          int32_t nValue2 = 0, int32_t nValue3 = 0, const SHEET_RAW& raw = {});
