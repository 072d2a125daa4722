// The pack index in a fresh process. A warm benchmark loop hides what a game pays once at start-up
// (first touches of every page the index build allocates), so this program writes a pack of
// 200,000 entries once and then runs itself again, one fresh process per measurement, timing
// (a) reading and decoding the pack's table alone and (b) the engine's whole index build.
// It prints the median of each and their ratio.
//
//   kxbench_pack_fresh [--runs N] [--entries N]
//   kxbench_pack_fresh --write FOLDER, then --child-tables FOLDER or --child-index FOLDER
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>


#include "core/engine_globals.h"
#include "core/file_location.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
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
    std::string strEngine = strFolder;
    for (char& c : strEngine)
        if (c == '/') c = '\\';
    InitPackNameTable();
    g_bPackedData = 0;
    if (PlatSetCurrentDir(strEngine.c_str()) != 0) return -1;
    std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", strEngine.c_str());
    return 0;
}

using CLOCK = std::chrono::steady_clock;

int64_t Nanoseconds(CLOCK::time_point t0) { return std::chrono::duration_cast<std::chrono::nanoseconds>(CLOCK::now() - t0).count(); }

// (a) The pack's header and table read into a buffer and every entry decoded (hash and name), as
// plainly as it can be done. Prints the time, or -1.
int ChildTables(const std::string& strFolder)
{
    if (EnterGame(strFolder) != 0) return 1;
    const CLOCK::time_point t0 = CLOCK::now();
    SUBFILE sub;
    if (OpenSubfile(&sub, kPackFile) != 0) return 1;
    int32_t nCount = 0, nTableSize = 0;
    if (SeekSubfile(&sub, 8) != 0 || ReadSubfileInt32(&sub, &nCount) != 0 || ReadSubfileInt32(&sub, &nTableSize) != 0 ||
        nCount < 0 || nTableSize < 0)
        return 1;
    std::vector<uint8_t> table(static_cast<size_t>(nTableSize));
    if (SeekSubfile(&sub, KX_PACK_HEADER_SIZE) != 0 || ReadSubfile(&sub, table.data(), nTableSize) != nTableSize) return 1;
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

// (b) The engine's index build.
int ChildIndex(const std::string& strFolder)
{
    if (EnterGame(strFolder) != 0) return 1;
    const CLOCK::time_point t0 = CLOCK::now();
    const int r = BuildPackIndex();
    const int64_t ns = Nanoseconds(t0);
    if (r != 0) return 1;
    std::printf("%lld %d\n", static_cast<long long>(ns), g_nPackEntries);
    FreePackIndex();
    return 0;
}

// Runs this program as a child and returns the time it printed, or -1.
int64_t RunChild(const std::string& strSelf, const char* pszMode, const std::string& strFolder)
{
    const std::string strCommand = "'" + strSelf + "' " + pszMode + " '" + strFolder + "'";
    FILE* pPipe = popen(strCommand.c_str(), "r");
    if (!pPipe) return -1;
    long long ns = -1;
    if (std::fscanf(pPipe, "%lld", &ns) != 1) ns = -1;
    char sz[256];
    while (std::fgets(sz, sizeof sz, pPipe)) {
    }
    return pclose(pPipe) == 0 ? ns : -1;
}

double MedianMs(std::vector<int64_t> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double ns = n % 2 ? static_cast<double>(v[n / 2]) : (static_cast<double>(v[n / 2 - 1]) + static_cast<double>(v[n / 2])) / 2;
    return ns / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--child-tables") == 0) return ChildTables(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--child-index") == 0) return ChildIndex(argv[2]);
    // Writes the game folder only, for measuring the children by hand (e.g. under perf).
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) return WriteGame(argv[2], KX_MAX_PACK_ENTRIES) == 0 ? 0 : 1;
    int nRuns = 21, nEntries = KX_MAX_PACK_ENTRIES;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) nRuns = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--entries") == 0) nEntries = std::clamp(std::atoi(argv[i + 1]), 1, int(KX_MAX_PACK_ENTRIES));
    }
    std::error_code ec;
    const std::string strSelf = fs::read_symlink("/proc/self/exe", ec).string();
    if (ec) return 1;
    std::string strTemplate = (fs::temp_directory_path() / "kxbench-fresh-XXXXXX").string();
    std::vector<char> buf(strTemplate.begin(), strTemplate.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return 1;
    const std::string strFolder = buf.data();
    int nResult = 0;
    if (WriteGame(strFolder, nEntries) != 0) {
        std::fprintf(stderr, "cannot write the pack\n");
        nResult = 1;
    }
    std::vector<int64_t> tables, index;
    for (int i = 0; i < nRuns && nResult == 0; ++i) {
        // Alternated, so that a change of the machine's load touches both alike.
        const int64_t a = RunChild(strSelf, "--child-tables", strFolder);
        const int64_t b = RunChild(strSelf, "--child-index", strFolder);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a measurement failed\n");
            nResult = 1;
            break;
        }
        tables.push_back(a);
        index.push_back(b);
    }
    fs::remove_all(strFolder, ec);
    if (nResult != 0) return nResult;
    const double dTables = MedianMs(tables), dIndex = MedianMs(index);
    std::printf("pack of %d entries, %d fresh processes each (medians)\n", nEntries, nRuns);
    std::printf("  read and decode the table: %8.3f ms\n", dTables);
    std::printf("  build the index:           %8.3f ms\n", dIndex);
    std::printf("  ratio index / table:       %8.2f\n", dIndex / dTables);
    return 0;
}
