// What every fuzz target shares: a headless engine in a temporary game folder, reports and message
// boxes answered at once, files handed to the engine from memory, and the script game the script,
// save and thread targets start from.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/lib/script_builder.h"

struct TREE_NODE;

// Once per process (from LLVMFuzzerInitialize, with its arguments): no display or sound device, a
// fresh temporary folder (below $TMPDIR) made the current and the program folder, every report and
// message box swallowed, program starts refused, the codec libraries bound. libFuzzer reads its
// arguments only after this, so relative input paths (and the artifact and dictionary paths among
// its flags) are made absolute first. Idempotent.
void FuzzInit(int* pArgc = nullptr, char*** pArgv = nullptr);
// The temporary folder: native (UTF-8, '/') and engine (cp932, '\') forms.
const std::string& FuzzDirNative(void);
const std::string& FuzzDirEngine(void);
// Writes bytes to a file below the temporary folder (relative native path, folders made).
void FuzzWriteFile(const std::string& strRelative, const uint8_t* pData, size_t nSize);
// After each input: the per-run error state and the stop flag back to a fresh run.
void FuzzEndInput(void);
// Number of reports since the last FuzzEndInput.
int FuzzReportCount(void);

// Files the engine finds by name in memory (the script compiler's file list). The data is not
// copied: it must stay alive while the engine may read it. Replaces the whole list.
struct FUZZ_FILE {
    std::string strName;   // engine name, e.g. "kxbin\\kxc.kbn"
    const uint8_t* pData;
    size_t nSize;
};
void FuzzSetMemoryFiles(const std::vector<FUZZ_FILE>& files);
void FuzzClearMemoryFiles(void);
// The same for built game files, pointing into them.
std::vector<FUZZ_FILE> FuzzFilesOf(const std::vector<GAME_FILE>& files);
// The built game files as the memory files, with the body of script nScript replaced by the bytes.
void FuzzSetMemoryFilesWithBody(const std::vector<GAME_FILE>& files, int nScript, const uint8_t* pData, size_t nSize);

// A small game for the script targets: script 0 "main.txt" (labels SYSTEM_START and "a", a loop
// and an if-block), script 1 "sub\\two.txt" (label "b"), an integer, a float and a text variable.
GAME_DATA FuzzSampleGame(void);

// The thread tree with its "SYSTEM" thread (order 100), made afresh; NULL when it cannot be made.
TREE_NODE* FuzzCreateSystemThread(void);
// Frees the script tables, the variables and the thread tree.
void FuzzFreeScriptGame(void);

// Reads 32-bit little-endian at p.
inline uint32_t FuzzU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
