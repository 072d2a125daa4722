// The registry store: the input is the store file. What it holds must read back the same after a
// rewrite (names and values byte for byte). It is read through every query, then changed twice; the first change rewrites it in the store's own form, and that form must read back whole
// and unchanged: the second change of the same value writes the very same bytes and keeps no
// damaged copy of it.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/support.h"
#include "platform/plat_registry.h"

namespace fs = std::filesystem;

namespace {

std::string s_strStore;

std::string ReadStore(void)
{
    std::ifstream in(s_strStore, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The damaged copies beside the store.
int CountKeptCopies(void)
{
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(FuzzDirNative(), ec))
        if (e.path().filename().string().find(".damaged") != std::string::npos) ++n;
    return n;
}

void RemoveStoreFiles(void)
{
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(FuzzDirNative(), ec))
        if (e.path().filename().string().rfind("registry.reg", 0) == 0) fs::remove(e.path(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    s_strStore = FuzzDirNative() + "/registry.reg";
    PlatSetRegistryPathForTest(s_strStore.c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    RemoveStoreFiles();
    FuzzWriteFile("registry.reg", pData, nSize);

    // Every key, name and value read from the input survives a rewrite byte for byte.
    const std::string strInput(reinterpret_cast<const char*>(pData), nSize);
    const std::string strRead = PlatRegListForTest(strInput);
    const std::string strRewrite = PlatRegRewriteForTest(strInput);
    if (PlatRegListForTest(strRewrite) != strRead) {
        std::fprintf(stderr, "a rewrite changes what the store holds:\n--- read\n%s\n--- after a rewrite\n%s\n",
                     strRead.c_str(), PlatRegListForTest(strRewrite).c_str());
        __builtin_trap();
    }

    static const char* const kKeys[] = {"", "K", "Software\\Kx", "k\\sub"};
    static const char* const kNames[] = {nullptr, "a", "b", "Path"};
    char buf[256];
    for (const char* pszKey : kKeys) {
        PlatRegKeyExists("HKEY_CURRENT_USER", pszKey);
        for (const char* pszName : kNames) {
            size_t n = 0;
            int nType = 0;
            if (PlatRegQueryValue("HKEY_CURRENT_USER", pszKey, pszName, buf, sizeof buf, &n, &nType) == 0 &&
                n > sizeof buf)
                __builtin_trap();
        }
    }
    PlatRegDeleteValue("HKEY_CURRENT_USER", "K", "a");
    PlatRegDeleteKey("HKEY_CURRENT_USER", "k\\sub");

    // The round trip: rewrite, then rewrite the same value again.
    if (PlatRegSetValue("HKEY_CURRENT_USER", "Fuzz", "v", PLAT_REG_SZ, "1", 1) == 0) {
        const std::string strFirst = ReadStore();
        const int nKept = CountKeptCopies();
        if (PlatRegSetValue("HKEY_CURRENT_USER", "Fuzz", "v", PLAT_REG_SZ, "1", 1) != 0) __builtin_trap();
        const std::string strSecond = ReadStore();
        if (strSecond != strFirst) {
            std::fprintf(stderr, "registry rewrite is not stable:\n--- first\n%s\n--- second\n%s\n", strFirst.c_str(),
                         strSecond.c_str());
            __builtin_trap();
        }
        if (CountKeptCopies() != nKept) {
            std::fprintf(stderr, "the store's own rewrite reads as damaged:\n%s\n", strFirst.c_str());
            __builtin_trap();
        }
    }
    RemoveStoreFiles();
    FuzzEndInput();
    return 0;
}
