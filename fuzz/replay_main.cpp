// Replays inputs through a fuzz target without libFuzzer: every file named on the command line, and
// every file of every folder named there (in name order), goes once through the target's entry.
// The test build links each target with this driver and replays the seed corpus, so the targets
// keep building and passing with the project's compiler between fuzzing runs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv) __attribute__((weak));
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    // The targets may change the current folder when they start: take the paths first.
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = fs::absolute(argv[i]);
        if (fs::is_directory(path)) {
            std::vector<fs::path> inFolder;
            for (const auto& entry : fs::directory_iterator(path))
                if (entry.is_regular_file()) inFolder.push_back(entry.path());
            std::sort(inFolder.begin(), inFolder.end());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.push_back(path);
        }
    }
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    for (const fs::path& path : files) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replay: %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
