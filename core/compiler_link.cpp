// The compiler link: the handshake over the two shared blocks and the handed-over files.
#include "core/compiler_link.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "platform/plat_file.h"
#include "platform/plat_process.h"
#include "platform/plat_shm.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"

COMPILER_FILE** g_apCompilerFiles = nullptr;
int32_t g_nCompilerFiles = 0;
static uint8_t* s_pTransferCopy = nullptr;   // the files point into it; kept for the whole run

static int32_t GetI32(const volatile uint8_t* p)
{
    uint32_t v = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
                 static_cast<uint32_t>(p[3]) << 24;
    return static_cast<int32_t>(v);
}

static void PutI32(volatile uint8_t* p, int32_t n)
{
    uint32_t v = static_cast<uint32_t>(n);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The flags are written by the other process while this one polls them.
static int32_t ReadFlag(const volatile uint8_t* pBlock, int nOffset)
{
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    return GetI32(pBlock + nOffset);
}

int CheckCompilerPresent(void)
{
    PLAT_FILE* pFile = PlatFileOpen(KX_COMPILER_PATH, PLAT_FILE_READ);
    if (!pFile) return 1;
    PlatFileClose(pFile);
    return 0;
}

void ResetCompilerFiles(void)
{
    std::free(g_apCompilerFiles);
    std::free(s_pTransferCopy);
    g_apCompilerFiles = nullptr;
    s_pTransferCopy = nullptr;
    g_nCompilerFiles = 0;
}

int ParseCompilerFiles(const uint8_t* pBlock, size_t nBlock, int32_t nCount, COMPILER_FILE*** pppFiles)
{
    *pppFiles = nullptr;
    // Every record takes at least 9 bytes (two lengths and a NUL), which bounds the count.
    if (nCount < 0 || static_cast<size_t>(nCount) > nBlock / 9) return -1;
    if (nCount == 0) return 0;
    size_t nPointers = sizeof(COMPILER_FILE*) * static_cast<size_t>(nCount);
    uint8_t* pAll = static_cast<uint8_t*>(std::malloc(nPointers + sizeof(COMPILER_FILE) * static_cast<size_t>(nCount)));
    if (!pAll) return -1;
    COMPILER_FILE** apFiles = reinterpret_cast<COMPILER_FILE**>(pAll);
    COMPILER_FILE* aEntries = reinterpret_cast<COMPILER_FILE*>(pAll + nPointers);
    size_t nPos = 0;
    for (int32_t i = 0; i < nCount; ++i) {
        if (nBlock - nPos < 4) break;
        int32_t nNameLen = GetI32(pBlock + nPos);
        nPos += 4;
        // The name holds its NUL, and the NUL lies inside the stated length.
        if (nNameLen <= 0 || static_cast<size_t>(nNameLen) > nBlock - nPos) break;
        const char* pszName = reinterpret_cast<const char*>(pBlock + nPos);
        if (!std::memchr(pszName, 0, static_cast<size_t>(nNameLen))) break;
        nPos += static_cast<size_t>(nNameLen);
        if (nBlock - nPos < 4) break;
        int32_t nSize = GetI32(pBlock + nPos);
        nPos += 4;
        if (nSize < 0 || static_cast<size_t>(nSize) > nBlock - nPos) break;
        aEntries[i].pszName = pszName;
        aEntries[i].nSize = nSize;
        aEntries[i].pData = pBlock + nPos;
        apFiles[i] = &aEntries[i];
        nPos += static_cast<size_t>(nSize);
        if (i == nCount - 1) {
            *pppFiles = apFiles;
            return 0;
        }
    }
    std::free(pAll);
    return -1;
}

// Waits for the compiler, an outside program, in turns of the engine's waits between threads.
static void WaitForEnd(PLAT_PROCESS* pProc)
{
    while (PlatPollProcess(pProc, nullptr) == 1) PlatWaitTurn(10);
}

// The engine ends after this; a compiler still waiting for the transfer block is not waited for.
static int FailCommunication(PLAT_SHARED_BLOCK* pLink, PLAT_SHARED_BLOCK* pTransfer)
{
    PlatCloseSharedBlock(pTransfer);
    PlatCloseSharedBlock(pLink);
    ShowMessageBox(nullptr, "%s", GetEngineText(TXT_LINK_NO_COMMUNICATION));
    return -1;
}

int RunCompilerLink(void)
{
    // The compiler is a development tool that a player's copy of the game does not carry: without
    // it the game runs from the compiled files in its folder, as a packed game does from its packs.
    if (CheckCompilerPresent() != 0) {
        DebugTrace("compiler", "system\\KXCom\\KXCom.exe is absent: the compiled files on disk are used");
        CopyTextBounded(g_szWorkDir, sizeof g_szWorkDir, g_szExeDir);
        return 0;
    }

    PLAT_SHARED_BLOCK* pLink = PlatCreateSharedBlock(KX_LINK_BLOCK_NAME, KX_LINK_BLOCK_SIZE);
    if (!pLink) return FailCommunication(nullptr, nullptr);
    volatile uint8_t* pBlock = static_cast<volatile uint8_t*>(PlatSharedBlockData(pLink));
    // The program folder must fit with its NUL; a cut folder would name another place.
    size_t nExeDir = std::strlen(g_szExeDir);
    if (nExeDir >= KX_LINK_FOLDER_MAX) return FailCommunication(pLink, nullptr);
    PutI32(pBlock + KX_LINK_VERSION, KX_LINK_VERSION_VALUE);
    for (size_t i = 0; i <= nExeDir; ++i) pBlock[KX_LINK_FOLDER + i] = static_cast<uint8_t>(g_szExeDir[i]);

    PLAT_PROCESS proc{};
    if (PlatSpawnProcess({KX_COMPILER_PATH, "kx"}, &proc) != 0) {
        PlatCloseSharedBlock(pLink);
        ShowMessageBox(nullptr, "%s", GetEngineText(TXT_LINK_NO_START));
        return 1;
    }

    PlatSleep(10);
    if (g_EngineHooks.pfnInitEngineOnce) g_EngineHooks.pfnInitEngineOnce();

    while (ReadFlag(pBlock, KX_LINK_RESULTS_READY) != 1) {
        if (PlatPollProcess(&proc, nullptr) != 1) {
            // Ended without results: the compiler has shown its own messages.
            PlatCloseSharedBlock(pLink);
            return 1;
        }
        PlatWaitTurn(10);
    }

    int32_t nCount = GetI32(pBlock + KX_LINK_FILE_COUNT);
    int32_t nTransfer = GetI32(pBlock + KX_LINK_TRANSFER_SIZE);
    if (nTransfer == 0) nTransfer = 16;
    if (nTransfer < 0) return FailCommunication(pLink, nullptr);
    PLAT_SHARED_BLOCK* pTransfer = PlatCreateSharedBlock(KX_TRANSFER_BLOCK_NAME, static_cast<size_t>(nTransfer));
    if (!pTransfer) return FailCommunication(pLink, nullptr);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    PutI32(pBlock + KX_LINK_ENGINE_READY, 1);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);

    // The transfer block is read only once the compiler has ended.
    WaitForEnd(&proc);

    ResetCompilerFiles();
    if (nCount != 0 && nTransfer > 0) {
        s_pTransferCopy = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(nTransfer)));
        if (!s_pTransferCopy) return FailCommunication(pLink, pTransfer);
        std::memcpy(s_pTransferCopy, PlatSharedBlockData(pTransfer), static_cast<size_t>(nTransfer));
        COMPILER_FILE** apFiles = nullptr;
        if (ParseCompilerFiles(s_pTransferCopy, static_cast<size_t>(nTransfer), nCount, &apFiles) != 0) {
            ResetCompilerFiles();
            return FailCommunication(pLink, pTransfer);
        }
        g_apCompilerFiles = apFiles;
        g_nCompilerFiles = nCount;
    }

    int32_t nResult = GetI32(pBlock + KX_LINK_RESULT);
    // The folder path the compiler leaves must end inside the block.
    char szFolder[KX_LINK_FOLDER_MAX];
    for (size_t i = 0; i < sizeof szFolder; ++i) szFolder[i] = static_cast<char>(pBlock[KX_LINK_FOLDER + i]);
    PlatCloseSharedBlock(pTransfer);
    PlatCloseSharedBlock(pLink);
    if (!std::memchr(szFolder, 0, sizeof szFolder)) {
        ResetCompilerFiles();
        ShowMessageBox(nullptr, "%s", GetEngineText(TXT_LINK_NO_COMMUNICATION));
        return -1;
    }
    std::memcpy(g_szWorkDir, szFolder, std::strlen(szFolder) + 1);

    if ((nResult & 0xFF) != 1) return 1;
    // A working folder that cannot be entered would leave the engine reading another folder.
    if (PlatSetCurrentDir(g_szWorkDir) != 0) return 1;
    return 0;
}
