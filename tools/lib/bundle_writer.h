// One-file games: a copy of the engine's executable with a game's pack (and, for a screen saver,
// a preview picture) appended behind the header "KXER", and the size marker patched to the size
// of the bare executable.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Where the size marker's value lies in the executable image (the only place the 16-byte tag
// occurs); -1 when the tag is missing or occurs more than once.
int64_t FindSizeMarker(const std::vector<uint8_t>& exe);

// The bundle: exe with the marker patched, the header (pack offset 16 + preview size, the preview
// size, 4 zero bytes), the preview and the pack. 0, or -1 with the reason in *pError.
int WriteBundle(const std::vector<uint8_t>& exe, const std::vector<uint8_t>& pack,
                const std::vector<uint8_t>& preview, std::vector<uint8_t>* pOut, std::string* pError);
