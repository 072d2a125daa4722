// The pack index in a fresh process. A warm benchmark loop hides what a game pays once at start-up
// (first touches of every page the index build allocates), so this program writes a pack of
// 200,000 entries once and then runs itself again, one fresh process per measurement, timing
// (a) the pack's table streamed through a 64 KB buffer, the least any index build must do (the
// floor), (b) the table read into memory whole and every entry decoded, and (c) the engine's
// whole index build. It prints the median of each and the ratios of (c) to (a) and (b).
// The index holds at most 200,000 entries: a larger count is refused with a message.
//
//   kxbench_pack_fresh [--runs N] [--entries N]
//   kxbench_pack_fresh --write FOLDER [--entries N], then --child-stream FOLDER,
//   --child-tables FOLDER or --child-index FOLDER
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>


#include "bench/fresh/fresh_process.h"
#include "core/engine_globals.h"
#include "core/file_location.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "root/startup.h"
#include "tools/lib/pack_writer.h"

namespace {

namespace fs = std::filesystem;

const char kPackFile[] = "data.kpf";

std::string EntryName(int i)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "bg\\e%06d.png", i);
    return sz;
}

int WriteGame(const std::string& strFolder, int nEntries)
{
    std::vector<PACK_WRITER_ENTRY> entries;
    entries.reserve(static_cast<size_t>(nEntries));
    for (int i = 0; i < nEntries; ++i) {
        PACK_WRITER_ENTRY e;
        e.strName = EntryName(i);
        e.data = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0};
        e.bRepairTrailer = false;
        entries.push_back(std::move(e));
    }
    return WritePackFile(strFolder + "/" + kPackFile, entries);
}

// Enters the game folder as the engine does at start-up.
int EnterGame(const std::string& strFolder)
{
    // The error reporters and the rest of the engine's hooks, which a refused pack reaches.
    InstallEngineParts();
    std::string strEngine = strFolder;
    for (char& c : strEngine)
        if (c == '/') c = '\\';
    InitPackNameTable();
    g_bPackedData = 0;
    if (PlatSetCurrentDir(strEngine.c_str()) != 0) return -1;
    std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", strEngine.c_str());
    return 0;
}

int64_t Nanoseconds(int64_t t0) { return FreshProcessNanoseconds() - t0; }

// Opens the pack and reads its entry count and table size; the file stands at the table. 0, or 1.
int OpenPackTable(SUBFILE* pSub, int32_t* pnCount, int32_t* pnTableSize)
{
    if (OpenSubfile(pSub, kPackFile) != 0) return 1;
    if (SeekSubfile(pSub, 8) != 0 || ReadSubfileInt32(pSub, pnCount) != 0 || ReadSubfileInt32(pSub, pnTableSize) != 0 ||
        *pnCount < 0 || *pnTableSize < 0 || SeekSubfile(pSub, KX_PACK_HEADER_SIZE) != 0) {
        CloseSubfile(pSub);
        return 1;
    }
    return 0;
}

// (a) The floor: the pack's header read, then its table streamed through one 64 KB buffer with
// every 8-byte word folded into a sum, so each byte is read once and nothing is kept. Prints the
// time, or returns 1.
int ChildStream(const std::string& strFolder)
{
    if (EnterGame(strFolder) != 0) return 1;
    const int64_t t0 = FreshProcessNanoseconds();
    SUBFILE sub;
    int32_t nCount = 0, nTableSize = 0;
    if (OpenPackTable(&sub, &nCount, &nTableSize) != 0) return 1;
    alignas(64) static uint8_t abBuf[64 * 1024];
    uint64_t qwSum = 0;
    for (int64_t nLeft = nTableSize; nLeft > 0;) {
        const int64_t nChunk = std::min<int64_t>(nLeft, sizeof abBuf);
        if (ReadSubfile(&sub, abBuf, nChunk) != nChunk) return 1;
        for (int64_t i = 0; i + 8 <= nChunk; i += 8) {
            uint64_t q;
            std::memcpy(&q, abBuf + i, 8);
            qwSum ^= q;
        }
        nLeft -= nChunk;
    }
    CloseSubfile(&sub);
    const int64_t ns = Nanoseconds(t0);
    std::printf("%lld %llu\n", static_cast<long long>(ns), static_cast<unsigned long long>(qwSum));
    return 0;
}

// (b) The pack's header and table read into a buffer and every entry decoded (hash and name), as
// plainly as it can be done. Prints the time, or -1.
int ChildTables(const std::string& strFolder)
{
    if (EnterGame(strFolder) != 0) return 1;
    const int64_t t0 = FreshProcessNanoseconds();
    SUBFILE sub;
    int32_t nCount = 0, nTableSize = 0;
    if (OpenPackTable(&sub, &nCount, &nTableSize) != 0) return 1;
    std::vector<uint8_t> table(static_cast<size_t>(nTableSize));
    if (ReadSubfile(&sub, table.data(), nTableSize) != nTableSize) return 1;
    CloseSubfile(&sub);
    uint32_t dwSum = 0;
    size_t nOffset = 0;
    for (int32_t i = 0; i < nCount; ++i) {
        char szName[256];
        if (nOffset + 5 > table.size()) return 1;
        const int nLen = DecodePackName(szName, table[nOffset + 4], table.data() + nOffset + 5, table.size() - nOffset - 5);
        if (nLen < 0 || nOffset + KX_PACK_ENTRY_FIXED + static_cast<size_t>(nLen) > table.size()) return 1;
        const uint8_t* p = table.data() + nOffset;
        dwSum += (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
                  static_cast<uint32_t>(p[3]) << 24) ^
                 static_cast<uint8_t>(szName[nLen / 2]);
        nOffset += KX_PACK_ENTRY_FIXED + static_cast<size_t>(nLen);
    }
    const int64_t ns = Nanoseconds(t0);
    std::printf("%lld %u\n", static_cast<long long>(ns), dwSum);
    return 0;
}

// (c) The engine's index build.
int ChildIndex(const std::string& strFolder)
{
    if (EnterGame(strFolder) != 0) return 1;
    const int64_t t0 = FreshProcessNanoseconds();
    const int r = BuildPackIndex();
    const int64_t ns = Nanoseconds(t0);
    if (r != 0) {
        std::fprintf(stderr, "kxbench_pack_fresh: the engine refused the pack in %s (see its error report)\n",
                     strFolder.c_str());
        return 1;
    }
    std::printf("%lld %d\n", static_cast<long long>(ns), g_nPackEntries);
    FreePackIndex();
    return 0;
}

// Runs this program as a child and returns the time it printed, or -1.
int64_t RunChild(const std::string& strSelf, const char* pszMode, const std::string& strFolder)
{
    return RunFreshChild("'" + strSelf + "' " + pszMode + " '" + strFolder + "'");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child-stream") == 0) return ChildStream(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--child-tables") == 0) return ChildTables(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--child-index") == 0) return ChildIndex(argv[2]);
    int nRuns = 21, nEntries = KX_MAX_PACK_ENTRIES;
    const char* pszWrite = nullptr;
    for (int i = 1; i < argc; ++i) {
        const bool bValue = i + 1 < argc;
        if (bValue && std::strcmp(argv[i], "--runs") == 0) nRuns = std::max(1, std::atoi(argv[++i]));
        else if (bValue && std::strcmp(argv[i], "--entries") == 0) nEntries = std::max(1, std::atoi(argv[++i]));
        else if (bValue && std::strcmp(argv[i], "--write") == 0) pszWrite = argv[++i];
        else {
            std::fprintf(stderr, "usage: kxbench_pack_fresh [--runs N] [--entries N] | --write FOLDER [--entries N]\n");
            return 2;
        }
    }
    // Writes the game folder only, for measuring the children by hand (e.g. under perf). A pack
    // over the cap may be written, to see the engine refuse it.
    if (pszWrite) return WriteGame(pszWrite, nEntries) == 0 ? 0 : 1;
    if (nEntries > KX_MAX_PACK_ENTRIES) {
        std::fprintf(stderr,
                     "kxbench_pack_fresh: %d entries are over the pack index's cap of %d entries; the engine "
                     "refuses such a pack, so there is nothing to measure\n",
                     nEntries, static_cast<int>(KX_MAX_PACK_ENTRIES));
        return 2;
    }
    const std::string strSelf = FreshSelfPath(), strFolder = FreshTempFolder("kxbench-fresh");
    if (strSelf.empty() || strFolder.empty()) return 1;
    int nResult = 0;
    if (WriteGame(strFolder, nEntries) != 0) {
        std::fprintf(stderr, "cannot write the pack\n");
        nResult = 1;
    }
    std::vector<int64_t> stream, tables, index;
    for (int i = 0; i < nRuns && nResult == 0; ++i) {
        // Alternated, so that a change of the machine's load touches all alike.
        const int64_t a = RunChild(strSelf, "--child-stream", strFolder);
        const int64_t b = RunChild(strSelf, "--child-tables", strFolder);
        const int64_t c = RunChild(strSelf, "--child-index", strFolder);
        if (a < 0 || b < 0 || c < 0) {
            std::fprintf(stderr, "a measurement failed\n");
            nResult = 1;
            break;
        }
        stream.push_back(a);
        tables.push_back(b);
        index.push_back(c);
    }
    std::error_code ec;
    fs::remove_all(strFolder, ec);
    if (nResult != 0) return nResult;
    const double dStream = FreshMedianMs(stream), dTables = FreshMedianMs(tables), dIndex = FreshMedianMs(index);
    std::printf("pack of %d entries, %d fresh processes each (medians)\n", nEntries, nRuns);
    std::printf("  stream the table (64 KB):  %8.3f ms   (the floor)\n", dStream);
    std::printf("  read and decode the table: %8.3f ms\n", dTables);
    std::printf("  build the index:           %8.3f ms\n", dIndex);
    std::printf("  ratio index / stream:      %8.2f\n", dIndex / dStream);
    std::printf("  ratio index / table:       %8.2f\n", dIndex / dTables);
    return 0;
}
