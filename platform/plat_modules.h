// Outside libraries in place of LoadLibrary, GetProcAddress and FreeLibrary.
//
// A registry of modules by DLL name (without regard to ASCII case). The built-in modules put the
// public codec libraries behind the entry points the engine binds:
//   "ZURUV.DLL"  zlib:    ordinal 1 uncompress, 2 compress2
//   "KXSNP.DLL"  Snappy:  "KXSnp_Uncompress", "KXSnp_Compress", "KXSnp_CompressedLength",
//                         "KXSnp_UncompressedLength"
//   "VOZEZ.DLL"  libpng:  ordinal 1 preload, 2 load, 3 end, 4 save
//   "VOROR.DLL"  libwebp: ordinal 1 version, 2 get info, 3 decode, 4 encode
//   "VORBISFILE.DLL"  Ogg Vorbis decoding through vorbisfile: "KXOgg_Open", "KXOgg_Info",
//                "KXOgg_Streams", "KXOgg_Seekable", "KXOgg_TimeTotal", "KXOgg_PcmSeek",
//                "KXOgg_TimeSeek", "KXOgg_PcmTell", "KXOgg_Read", "KXOgg_Close"
//   "THEORALIB.DLL"  Theora movies over libtheora, libvorbis and libogg: the 24 "theoralib_m_*" and
//                "theoralib_w_*" names (platform/plat_theora.h)
// The call contracts are those of core/codecs.h. A module that is not registered stays absent.
// Tests can hide a module or register a fake one under any name (a fake shadows a built-in).
#pragma once
#include <cstddef>
#include <cstdint>

struct PLAT_MODULE;

// One exported entry: found by name (when pszName is not NULL) or by ordinal (when nOrdinal > 0).
struct PLAT_MODULE_ENTRY {
    const char* pszName;
    int nOrdinal;
    void* pfn;
};

// VORBISFILE.DLL's decoder, made by "KXOgg_Open" and ended by "KXOgg_Close".
struct PLAT_OGG_DECODER;
// The byte source a decoder reads through, with the caller's source pointer as the last (read) or
// first argument. read: the bytes copied (nSize x nCount at most), 0 at the end or on an error.
// seek: to offset from whence 0 (the start), 1 (the position) or 2 (the end); 0, or -1 when that
// place cannot be reached. tell: the position, or -1. close: called once by "KXOgg_Close".
// seek and tell may be NULL for a source that cannot seek; close may be NULL.
struct PLAT_OGG_CALLBACKS {
    size_t (*pfnRead)(void* pDest, size_t nSize, size_t nCount, void* pSource);
    int (*pfnSeek)(void* pSource, int64_t llOffset, int nWhence);
    int (*pfnClose)(void* pSource);
    long (*pfnTell)(void* pSource);
};

// The last-error codes this layer sets (the Windows values).
enum {
    PLAT_ERROR_SUCCESS = 0,
    PLAT_ERROR_INVALID_HANDLE = 6,
    PLAT_ERROR_MOD_NOT_FOUND = 126,
    PLAT_ERROR_PROC_NOT_FOUND = 127,
};

// Loads a module by name. NULL when it is absent or hidden (last error PLAT_ERROR_MOD_NOT_FOUND).
// Each handle is independent of later registry changes and is released by PlatFreeLibrary.
PLAT_MODULE* PlatLoadLibrary(const char* pszName);
// An entry by name or by ordinal; NULL when the module has none (last error PLAT_ERROR_PROC_NOT_FOUND).
void* PlatGetProcAddress(PLAT_MODULE* pModule, const char* pszName);
void* PlatGetProcOrdinal(PLAT_MODULE* pModule, int nOrdinal);
// Releases a handle (NULL is allowed). 1.
int PlatFreeLibrary(PLAT_MODULE* pModule);

// The calling thread's last error of the calls above.
uint32_t PlatGetLastError(void);
// The system's text for an error code, cp932, in the user's language (Japanese when the locale
// is Japanese, else English), cut to cap bytes and terminated. Returns the length, or 0 with an
// empty text for a code it does not know.
int PlatFormatErrorText(uint32_t nCode, char* pszBuf, size_t nCap);

// Tests: hide a module by name (also a fake), register a fake module with a copy of the given
// entries (0, -1 for a bad argument), and put everything back (built-ins only, nothing hidden).
void PlatHideModule(const char* pszName, int bHidden);
int PlatRegisterFakeModule(const char* pszName, const PLAT_MODULE_ENTRY* pEntries, int nEntries);
void PlatResetModules(void);

// The built-in modules' entry tables, defined next to each codec.
const PLAT_MODULE_ENTRY* PlatZlibModuleEntries(int* pnCount);
const PLAT_MODULE_ENTRY* PlatSnappyModuleEntries(int* pnCount);
const PLAT_MODULE_ENTRY* PlatPngModuleEntries(int* pnCount);
const PLAT_MODULE_ENTRY* PlatWebPModuleEntries(int* pnCount);
const PLAT_MODULE_ENTRY* PlatOggModuleEntries(int* pnCount);
const PLAT_MODULE_ENTRY* PlatTheoraModuleEntries(int* pnCount);
