// What Theora and window movies share: the movie rectangle, the window movie's volume and playing
// flag, and the MPEG kind of a file.
#include "media/movies.h"

#include <cstring>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/kx_limits.h"
#include "platform/plat_file.h"

int32_t g_nMovieX = 0, g_nMovieY = 0, g_nMovieW = 0, g_nMovieH = 0;
int32_t g_nMovieVolume = 256;
uint8_t g_bMoviePlaying = 0;

int GetMpegKind(const char* pszName)
{
    // The working folder followed by the name, lower case, '\' separators.
    char szPath[KX_MAX_PATH];
    CopyTextBounded(szPath, sizeof szPath, g_szWorkDir);
    const size_t n = std::strlen(szPath);
    if (n > 0 && szPath[n - 1] != '\\' && szPath[n - 1] != '/') AppendTextBounded(szPath, sizeof szPath, "\\");
    if (AppendTextBounded(szPath, sizeof szPath, pszName ? pszName : "") + 1 >= sizeof szPath) return 0;
    LowerCaseASCII(szPath);
    SlashesToBackslashes(szPath);
    PLAT_FILE* pFile = PlatFileOpen(szPath, PLAT_FILE_READ);
    if (!pFile) return 0;
    uint8_t ab[5] = {};
    const int64_t nRead = PlatFileRead(pFile, ab, 5);
    PlatFileClose(pFile);
    // A file too short for the pack header is no MPEG program stream.
    if (nRead < 5) return 255;
    if (ab[0] != 0x00 || ab[1] != 0x00 || ab[2] != 0x01 || ab[3] != 0xBA) return 255;
    if ((ab[4] & 0xF0) == 0x20) return 1;
    if ((ab[4] & 0xC0) == 0x40) return 2;
    return 255;
}
