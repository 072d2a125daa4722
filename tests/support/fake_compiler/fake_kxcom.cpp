// A stand-in for the outside script compiler, for the compiler-link tests. It plays the compiler's
// side of the handshake over the two shared blocks, steered by its environment:
//   KX_FAKE_FILES       files to hand over: "name=content" pairs separated by ';'
//   KX_FAKE_RESULT      the result byte (default 1)
//   KX_FAKE_EARLY_EXIT  "1": end at once without results
//   KX_FAKE_FOLDER      the working folder to write back (default: leave the engine's)
//   KX_FAKE_DAMAGE      one damaged field: "name_len", "no_nul", "size", "count", "folder", "transfer"
//   KX_FAKE_LOG         a file that gets the arguments, the version and the folder the engine wrote
//   KOLVEX_SHM_SUFFIX   the blocks' name suffix, as the engine uses it
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Env(const char* pszName)
{
    const char* p = std::getenv(pszName);
    return p ? p : "";
}

std::string BlockName(const char* pszBase)
{
    return "/" + std::string(pszBase) + Env("KOLVEX_SHM_SUFFIX");
}

uint8_t* MapBlock(const std::string& strName, size_t nSize)
{
    int fd = shm_open(strName.c_str(), O_RDWR, 0);
    if (fd < 0) return nullptr;
    void* p = mmap(nullptr, nSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

void PutI32(uint8_t* p, int32_t n)
{
    std::memcpy(p, &n, 4);
}

int32_t GetI32(const volatile uint8_t* p)
{
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

void AppendI32(std::vector<uint8_t>* pOut, int32_t n)
{
    uint8_t b[4];
    std::memcpy(b, &n, 4);
    pOut->insert(pOut->end(), b, b + 4);
}

}  // namespace

int main(int argc, char** argv)
{
    if (Env("KX_FAKE_EARLY_EXIT") == "1") return 3;
    uint8_t* pLink = MapBlock(BlockName("KOLVEXCompilerFileMapObject"), 512);
    if (!pLink) return 4;

    std::string strLog = Env("KX_FAKE_LOG");
    if (!strLog.empty()) {
        if (FILE* f = std::fopen(strLog.c_str(), "w")) {
            for (int i = 1; i < argc; ++i) std::fprintf(f, "arg %s\n", argv[i]);
            std::fprintf(f, "version %d\nfolder %s\n", GetI32(pLink + 128), reinterpret_cast<char*>(pLink + 132));
            std::fclose(f);
        }
    }

    // The records, built before the handshake so that their size can be announced.
    std::string strDamage = Env("KX_FAKE_DAMAGE");
    std::vector<uint8_t> records;
    int32_t nCount = 0;
    std::string strFiles = Env("KX_FAKE_FILES");
    size_t nStart = 0;
    while (nStart < strFiles.size()) {
        size_t nEnd = strFiles.find(';', nStart);
        if (nEnd == std::string::npos) nEnd = strFiles.size();
        std::string strPair = strFiles.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        size_t nEq = strPair.find('=');
        if (nEq == std::string::npos) continue;
        std::string strName = strPair.substr(0, nEq), strData = strPair.substr(nEq + 1);
        bool bLast = nStart >= strFiles.size();
        int32_t nNameLen = static_cast<int32_t>(strName.size() + 1);
        if (bLast && strDamage == "name_len") nNameLen = 0x7FFFFFF0;
        AppendI32(&records, nNameLen);
        records.insert(records.end(), strName.begin(), strName.end());
        records.push_back(bLast && strDamage == "no_nul" ? 'X' : 0);
        AppendI32(&records, bLast && strDamage == "size" ? static_cast<int32_t>(strData.size() + 1000) : static_cast<int32_t>(strData.size()));
        records.insert(records.end(), strData.begin(), strData.end());
        nCount++;
    }
    if (strDamage == "count") nCount += 5;
    int32_t nTransfer = static_cast<int32_t>(records.size());
    if (strDamage == "transfer") nTransfer = -8;

    std::string strFolder = Env("KX_FAKE_FOLDER");
    if (!strFolder.empty() && strFolder.size() < 380) std::memcpy(pLink + 132, strFolder.c_str(), strFolder.size() + 1);
    if (strDamage == "folder") std::memset(pLink + 132, 'F', 380);
    pLink[12] = static_cast<uint8_t>(std::atoi(Env("KX_FAKE_RESULT").empty() ? "1" : Env("KX_FAKE_RESULT").c_str()));
    PutI32(pLink + 16, nCount);
    PutI32(pLink + 20, nTransfer);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    PutI32(pLink + 0, 1);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);

    // The engine makes the transfer block and says so; give up after ten seconds.
    for (int i = 0; GetI32(pLink + 4) != 1; ++i) {
        if (i > 1000) return 5;
        usleep(10000);
    }
    size_t nMap = nTransfer <= 0 ? 16 : static_cast<size_t>(nTransfer);
    uint8_t* pTransfer = MapBlock(BlockName("KOLVEXCompilerFileMapObject2"), nMap);
    if (!pTransfer) return 6;
    if (!records.empty()) std::memcpy(pTransfer, records.data(), std::min(records.size(), nMap));
    munmap(pTransfer, nMap);
    munmap(pLink, 512);
    return 0;
}
