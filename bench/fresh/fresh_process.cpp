// What the fresh-process benchmarks share (see fresh_process.h).
#include "bench/fresh/fresh_process.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

int64_t FreshProcessNanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t RunFreshChild(const std::string& strCommand)
{
    FILE* pPipe = popen(strCommand.c_str(), "r");
    if (!pPipe) return -1;
    long long ns = -1;
    if (std::fscanf(pPipe, "%lld", &ns) != 1) ns = -1;
    char sz[256];
    while (std::fgets(sz, sizeof sz, pPipe)) {
    }
    return pclose(pPipe) == 0 ? ns : -1;
}

double FreshMedianMs(std::vector<int64_t> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double ns = n % 2 ? static_cast<double>(v[n / 2]) : (static_cast<double>(v[n / 2 - 1]) + static_cast<double>(v[n / 2])) / 2;
    return ns / 1e6;
}

std::string FreshSelfPath()
{
    std::error_code ec;
    const std::string strSelf = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    return ec ? std::string() : strSelf;
}

std::string FreshTempFolder(const char* pszStem)
{
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) return std::string();
    std::string strTemplate = (dir / (std::string(pszStem) + "-XXXXXX")).string();
    std::vector<char> buf(strTemplate.begin(), strTemplate.end());
    buf.push_back('\0');
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}
