// Building the pack index and looking names up in it, at several entry counts, so that the growth
// with the number of entries shows.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "core/file_location.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "tools/lib/pack_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPacksPerGame = 8;

std::string EntryName(int i)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "bg\\e%06d.png", i);
    return sz;
}

// Game folders with packs of nEntries entries in all, written once per size and removed at exit.
struct BENCH_GAMES {
    std::string strRoot;
    std::map<int, std::string> folders;   // entry count -> engine path of the folder
    ~BENCH_GAMES()
    {
        std::error_code ec;
        if (!strRoot.empty()) fs::remove_all(strRoot, ec);
    }
    const std::string& Folder(int nEntries)
    {
        auto it = folders.find(nEntries);
        if (it != folders.end()) return it->second;
        if (strRoot.empty()) {
            std::string strTemplate = (fs::temp_directory_path() / "kxbench-XXXXXX").string();
            std::vector<char> buf(strTemplate.begin(), strTemplate.end());
            buf.push_back('\0');
            if (!mkdtemp(buf.data())) std::abort();
            strRoot = buf.data();
        }
        const std::string strFolder = strRoot + "/g" + std::to_string(nEntries);
        fs::create_directories(strFolder);
        for (int p = 0; p < kPacksPerGame; ++p) {
            std::vector<PACK_WRITER_ENTRY> entries;
            for (int i = p; i < nEntries; i += kPacksPerGame) {
                PACK_WRITER_ENTRY e;
                e.strName = EntryName(i);
                e.data = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0};
                e.bRepairTrailer = false;
                entries.push_back(std::move(e));
            }
            if (WritePackFile(strFolder + "/data" + std::to_string(p) + ".kpf", entries) != 0) std::abort();
        }
        // ASCII temporary paths: the engine form only swaps the separators.
        std::string strEngine = strFolder;
        for (char& c : strEngine)
            if (c == '/') c = '\\';
        return folders[nEntries] = strEngine;
    }
};

BENCH_GAMES g_games;

bool EnterGame(benchmark::State& state)
{
    const std::string& strFolder = g_games.Folder(static_cast<int>(state.range(0)));
    InitPackNameTable();
    g_bPackedData = 0;
    if (PlatSetCurrentDir(strFolder.c_str()) != 0) {
        state.SkipWithError("cannot enter the game folder");
        return false;
    }
    std::snprintf(g_szExeDir, sizeof g_szExeDir, "%s", strFolder.c_str());
    return true;
}

void BM_BuildPackIndex(benchmark::State& state)
{
    if (!EnterGame(state)) return;
    for (auto _ : state) {
        if (BuildPackIndex() != 0) {
            state.SkipWithError("BuildPackIndex failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    FreePackIndex();
}

// Look-ups of names that are there (each opens its pack to confirm the name) and of names that
// are not (the binary search alone).
void LookUp(benchmark::State& state, bool bHits)
{
    if (!EnterGame(state)) return;
    if (BuildPackIndex() != 0) {
        state.SkipWithError("BuildPackIndex failed");
        return;
    }
    const int nEntries = static_cast<int>(state.range(0));
    std::vector<std::string> names;
    uint32_t x = 12345;
    for (int i = 0; i < 4096; ++i) {
        x = x * 1664525u + 1013904223u;
        int n = static_cast<int>(x % static_cast<uint32_t>(nEntries));
        names.push_back(bHits ? EntryName(n) : EntryName(n) + "x");
    }
    size_t i = 0;
    for (auto _ : state) {
        FILE_LOCATION loc{};
        int r = FindPackEntry(&loc, names[i++ & 4095].c_str());
        if (r != (bHits ? FILESRC_PACK : 0)) {
            state.SkipWithError("unexpected look-up result");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    FreePackIndex();
}

void BM_FindPackEntryHit(benchmark::State& state) { LookUp(state, true); }
void BM_FindPackEntryMiss(benchmark::State& state) { LookUp(state, false); }

}  // namespace

BENCHMARK(BM_BuildPackIndex)->Arg(25000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindPackEntryHit)->Arg(25000)->Arg(100000)->Arg(200000);
BENCHMARK(BM_FindPackEntryMiss)->Arg(25000)->Arg(100000)->Arg(200000);
