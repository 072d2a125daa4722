// The link to the outside script compiler (development layout). At every start the engine runs
// "system\KXCom\KXCom.exe kx", which compiles the game's scripts and hands the compiled files back
// through two named shared blocks; they become the compiler's file source, searched before packs.
#pragma once
#include <cstddef>
#include <cstdint>

struct COMPILER_FILE {
    const char* pszName;   // e.g. "kxbin\\kxc.kbn"
    int32_t nSize;
    const uint8_t* pData;
};

extern COMPILER_FILE** g_apCompilerFiles;
extern int32_t g_nCompilerFiles;

// The link block: 512 bytes, int32 fields little-endian at these offsets; unlisted bytes are zero.
enum {
    KX_LINK_BLOCK_SIZE = 512,
    KX_LINK_RESULTS_READY = 0,   // the compiler: 1 once the fields below are filled
    KX_LINK_ENGINE_READY = 4,    // the engine: 1 once the transfer block exists
    KX_LINK_RESULT = 12,         // the compiler: 1 compiled successfully
    KX_LINK_FILE_COUNT = 16,     // the compiler: files in the transfer block
    KX_LINK_TRANSFER_SIZE = 20,  // the compiler: the transfer block's bytes (0 means 16)
    KX_LINK_VERSION = 128,       // the engine: KX_LINK_VERSION_VALUE
    KX_LINK_FOLDER = 132,        // both: the folder path, NUL-terminated inside the block's end
    KX_LINK_FOLDER_MAX = KX_LINK_BLOCK_SIZE - KX_LINK_FOLDER,
    KX_LINK_VERSION_VALUE = 555,
};
#define KX_LINK_BLOCK_NAME "KOLVEXCompilerFileMapObject"
#define KX_TRANSFER_BLOCK_NAME "KOLVEXCompilerFileMapObject2"
#define KX_COMPILER_PATH "system\\KXCom\\KXCom.exe"

// 1 when the compiler cannot be opened for reading, else 0.
int CheckCompilerPresent(void);

// Runs the compiler and takes over its files; the once-only tables are built while it works.
// 0 compiled (the working folder g_szWorkDir is now current), or no compiler: the game runs from the
// compiled files already in its folder, the program folder as the working folder; 1 the compiler failed to
// start, ended without results or reported failure; -1 a shared block could not be made, or the
// compiler handed over damaged records or folder path (after the communication message).
int RunCompilerLink(void);

// Walks the transfer block's records {int32 name length with its NUL, the name, int32 size, the
// bytes} for nCount files, every one bounded by the block: 0 with the list in *pppFiles (one
// allocation holding the pointers and the entries, pointing into pBlock), -1 on a damaged record.
int ParseCompilerFiles(const uint8_t* pBlock, size_t nBlock, int32_t nCount, COMPILER_FILE*** pppFiles);

// Tests: drops the handed-over files.
void ResetCompilerFiles(void);
