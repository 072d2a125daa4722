// kxpack: packs a folder into a pack archive, or lists a pack's entries.
//   kxpack --help (or -h): the usage on standard output, status 0; wrong arguments: on standard
//     error, status 2
//   kxpack OUT.kpf [-z] [-v VERSION] [--no-repair] FOLDER
//     entry names are the paths below FOLDER, lower-cased, with '\' separators, in cp932;
//     -z compresses with zlib every entry that gets smaller by it
//   kxpack --list IN.kpf
//   kxpack --embed OUT KOLVEX IN.kpf [PREVIEW.bmp]
//     a copy of the engine KOLVEX that carries the pack (one file holds the whole game); with a
//     24-bit preview picture the copy is a screen saver
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "platform/plat_text.h"
#include "tools/lib/bundle_writer.h"
#include "tools/lib/pack_writer.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: kxpack OUT.kpf [-z] [-v VERSION] [--no-repair] FOLDER\n"
    "       kxpack --list IN.kpf\n"
    "       kxpack --embed OUT KOLVEX IN.kpf [PREVIEW.bmp]\n";

// Wrong arguments: the usage on standard error, status 2.
int PrintUsage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

// Asked for: the usage and what each form does on standard output, status 0.
int PrintHelp()
{
    std::fputs(kUsage, stdout);
    std::fputs("\n"
               "  OUT.kpf ... FOLDER   writes the folder's files as one pack, each entry named by its path\n"
               "                       below FOLDER (lower-cased, with '\\' separators); -z compresses\n"
               "                       with zlib each entry that gets smaller by it, -v sets the pack's\n"
               "                       version (default 234), --no-repair writes no repair trailer\n"
               "  --list IN.kpf        lists the pack's entries\n"
               "  --embed OUT KOLVEX IN.kpf [PREVIEW.bmp]\n"
               "                       writes OUT, a copy of the executable KOLVEX that carries the pack: a\n"
               "                       one-file game (with a 24-bit BMP preview: a screen-saver build)\n"
               "  -h, --help           this text\n",
               stdout);
    return 0;
}

uint32_t GetU32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* pOut)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    pOut->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int ListPack(const char* pszPath)
{
    std::ifstream in(pszPath, std::ios::binary);
    std::vector<uint8_t> head(32);
    if (!in || !in.read(reinterpret_cast<char*>(head.data()), 32)) {
        std::fprintf(stderr, "kxpack: cannot read %s\n", pszPath);
        return 1;
    }
    // Only the header and the table are needed; the table size is checked by ReadPackTable.
    uint32_t nTableSize = GetU32(&head[12]);
    std::error_code ec;
    uintmax_t nFileSize = fs::file_size(pszPath, ec);
    std::vector<uint8_t> image = head;
    if (!ec && nFileSize >= 32) {
        size_t nRead = static_cast<size_t>(std::min<uintmax_t>(nTableSize, nFileSize - 32));
        image.resize(32 + nRead);
        in.read(reinterpret_cast<char*>(image.data() + 32), static_cast<std::streamsize>(nRead));
        image.resize(32 + static_cast<size_t>(in.gcount()));
    }
    std::vector<PACK_TABLE_ENTRY> entries;
    if (std::memcmp(image.data(), "KPF\0", 4) != 0 || ReadPackTable(image.data(), image.size(), &entries) != 0) {
        std::fprintf(stderr, "kxpack: %s is not a readable pack\n", pszPath);
        return 1;
    }
    int32_t nVersion = static_cast<int32_t>(GetU32(&head[4]));
    std::printf("version %d, %zu entries\n", nVersion, entries.size());
    for (const PACK_TABLE_ENTRY& e : entries) {
        std::string strName = PlatCp932ToUtf8String(e.strName.c_str());
        std::printf("%s\ttype %d\tcompression %d\tsize %d\tstored %d\n", strName.c_str(), e.nType, e.nCompression,
                    e.nSize, e.nStoredSize);
    }
    return 0;
}

// -z keeps an entry stored when zlib would not make it smaller (already compressed pictures, sounds).
bool CompressionHelps(const std::vector<uint8_t>& data)
{
    uLongf nDst = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(nDst);
    return compress2(out.data(), &nDst, data.data(), static_cast<uLong>(data.size()), 9) == Z_OK && nDst < data.size();
}

// The entry name of a file below the folder: relative, '\' separators, cp932, lower-cased.
bool MakeEntryName(const fs::path& relative, std::string* pName)
{
    std::string strUtf8 = relative.generic_string();
    std::replace(strUtf8.begin(), strUtf8.end(), '/', '\\');
    if (!PlatUtf8FitsCp932(strUtf8.c_str())) return false;
    *pName = PlatUtf8ToCp932String(strUtf8.c_str());
    LowerCaseASCII(pName->data());
    return !pName->empty() && pName->size() <= 255;
}

int PackFolder(const char* pszOut, const fs::path& folder, int nCompression, int nVersion, bool bRepair)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "kxpack: %s is not a folder\n", folder.c_str());
        return 1;
    }
    std::vector<PACK_WRITER_ENTRY> entries;
    fs::recursive_directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        fs::path relative = it->path().lexically_relative(folder);
        PACK_WRITER_ENTRY e;
        if (!MakeEntryName(relative, &e.strName)) {
            std::fprintf(stderr, "kxpack: %s: the name does not fit a pack entry (cp932, 1..255 bytes)\n",
                         relative.c_str());
            return 1;
        }
        if (!ReadWholeFile(it->path(), &e.data)) {
            std::fprintf(stderr, "kxpack: cannot read %s\n", it->path().c_str());
            return 1;
        }
        e.nCompression = nCompression == 1 && CompressionHelps(e.data) ? 1 : 0;
        e.bRepairTrailer = bRepair;
        entries.push_back(std::move(e));
    }
    if (ec) {
        std::fprintf(stderr, "kxpack: cannot walk %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    std::sort(entries.begin(), entries.end(),
              [](const PACK_WRITER_ENTRY& a, const PACK_WRITER_ENTRY& b) { return a.strName < b.strName; });
    // Names that differ only in letter case would be the same entry to the engine.
    for (size_t i = 1; i < entries.size(); i++) {
        if (entries[i].strName == entries[i - 1].strName) {
            std::fprintf(stderr, "kxpack: two files give the entry %s\n",
                         PlatCp932ToUtf8String(entries[i].strName.c_str()).c_str());
            return 1;
        }
    }
    PACK_WRITER_OPTIONS opt;
    opt.nVersion = nVersion;
    if (WritePackFile(pszOut, entries, opt) != 0) {
        std::fprintf(stderr, "kxpack: cannot write %s\n", pszOut);
        return 1;
    }
    std::printf("kxpack: %zu entries written to %s\n", entries.size(), pszOut);
    return 0;
}

int EmbedPack(const char* pszOut, const char* pszEngine, const char* pszPack, const char* pszPreview)
{
    std::vector<uint8_t> exe, pack, preview, out;
    if (!ReadWholeFile(pszEngine, &exe) || !ReadWholeFile(pszPack, &pack) ||
        (pszPreview && !ReadWholeFile(pszPreview, &preview))) {
        std::fprintf(stderr, "kxpack: cannot read the engine, the pack or the preview\n");
        return 1;
    }
    if (pszPreview && preview.empty()) {
        std::fprintf(stderr, "kxpack: the preview %s is empty\n", pszPreview);
        return 1;
    }
    std::string strError;
    if (WriteBundle(exe, pack, preview, &out, &strError) != 0) {
        std::fprintf(stderr, "kxpack: %s\n", strError.c_str());
        return 1;
    }
    std::ofstream file(pszOut, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    file.close();
    std::error_code ec;
    if (!file || (fs::permissions(pszOut,
                                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec,
                                  ec),
                  ec)) {
        std::fprintf(stderr, "kxpack: cannot write %s\n", pszOut);
        return 1;
    }
    std::printf("kxpack: %s carries %s%s\n", pszOut, pszPack, pszPreview ? " and a screen-saver preview" : "");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) return PrintHelp();
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--embed") == 0)
        return EmbedPack(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    if (argc == 3 && std::strcmp(argv[1], "--list") == 0) return ListPack(argv[2]);
    if (argc < 3) return PrintUsage();
    const char* pszOut = argv[1];
    int nCompression = 0, nVersion = 234;
    bool bRepair = true;
    int i = 2;
    for (; i < argc - 1; i++) {
        if (std::strcmp(argv[i], "-z") == 0) {
            nCompression = 1;
        } else if (std::strcmp(argv[i], "--no-repair") == 0) {
            bRepair = false;
        } else if (std::strcmp(argv[i], "-v") == 0 && i + 2 < argc) {
            char* pEnd = nullptr;
            errno = 0;
            long v = std::strtol(argv[++i], &pEnd, 10);
            if (errno != 0 || *pEnd != '\0' || v < 0 || v > 0x7FFFFFFF) return PrintUsage();
            nVersion = static_cast<int>(v);
        } else {
            return PrintUsage();
        }
    }
    if (i != argc - 1) return PrintUsage();
    return PackFolder(pszOut, argv[argc - 1], nCompression, nVersion, bRepair);
}
