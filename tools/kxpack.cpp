// kxpack: packs a folder into a pack archive, checks or lists a pack, or makes a one-file game.
//   kxpack --help (or -h): the usage on standard output, status 0; kxpack --version: one version
//     line, status 0; wrong arguments: the usage on standard error, status 2
//   kxpack OUT.kpf [-z] [-v VERSION] [--no-repair] [--force] FOLDER
//     entry names are the paths below FOLDER, lower-cased, with '\' separators, in cp932;
//     -z compresses with zlib every entry that gets smaller by it; a folder without
//     kxbin/kxcfg.kbn (the compiled game configuration) is refused unless --force
//   kxpack --list IN.kpf, kxpack --check IN.kpf
//     every entry is read whole and checked (its place in the file, its name hash, its data
//     checksum, its decoding, its repair trailer); --list also prints each entry. A damaged or cut
//     pack gives a line per damaged entry on standard error and status 1
//   kxpack --embed [--force] OUT KOLVEX IN.kpf [PREVIEW.bmp]
//     a copy of the engine KOLVEX that carries the pack (one file holds the whole game); with a
//     24-bit preview picture the copy is a screen saver. A pack without kxbin\kxcfg.kbn is refused
//     unless --force
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
#include "core/kx_hash.h"
#include "platform/plat_text.h"
#include "tools/lib/bundle_writer.h"
#include "tools/lib/pack_writer.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: kxpack OUT.kpf [-z] [-v VERSION] [--no-repair] [--force] FOLDER\n"
    "       kxpack --list IN.kpf\n"
    "       kxpack --check IN.kpf\n"
    "       kxpack --embed [--force] OUT KOLVEX IN.kpf [PREVIEW.bmp]\n"
    "       kxpack --version\n";
const char kVersion[] = "0.1.0";

// The compiled game configuration: the engine starts a packed game only when the pack holds it.
const char kConfigEntry[] = "kxbin\\kxcfg.kbn";

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
               "                       version (default 234), --no-repair writes no repair trailer; a\n"
               "                       folder without kxbin/kxcfg.kbn (no game) is refused unless --force\n"
               "  --list IN.kpf        lists the pack's entries and checks each one as --check does\n"
               "  --check IN.kpf       reads every entry whole and checks it (place, name, checksum,\n"
               "                       decoding, repair trailer); status 1 and a line per damaged entry\n"
               "  --embed [--force] OUT KOLVEX IN.kpf [PREVIEW.bmp]\n"
               "                       writes OUT, a copy of the executable KOLVEX that carries the pack: a\n"
               "                       one-file game (with a 24-bit BMP preview: a screen-saver build); a\n"
               "                       pack without kxbin\\kxcfg.kbn is refused unless --force\n"
               "  --version            the version of kxpack\n"
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

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// What is wrong with one entry read whole from a pack image, or "" when it is sound.
std::string CheckEntry(const std::vector<uint8_t>& image, const PACK_TABLE_ENTRY& e)
{
    enum { REPAIR_BLOCK = 1024 };
    std::string strLower = e.strName;
    LowerCaseASCII(strLower.data());
    if (MurmurHash2(strLower.data(), strLower.size(), 0) != e.nHash) return "the name's hash does not match";
    if (e.nSize < 0 || e.nStoredSize < 0) return "a negative size";
    if (e.nCompression != 0 && e.nCompression != 1) return "unknown compression " + std::to_string(e.nCompression);
    if (e.nCompression == 0 && e.nSize != e.nStoredSize) return "stored and decoded sizes differ";
    const uint64_t nFile = image.size();
    if (e.llOffset < 0 || static_cast<uint64_t>(e.llOffset) > nFile ||
        static_cast<uint64_t>(e.nStoredSize) > nFile - static_cast<uint64_t>(e.llOffset))
        return "its data lies beyond the end of the file (a cut pack?)";
    const uint8_t* pStored = image.data() + e.llOffset;
    const size_t nStored = static_cast<size_t>(e.nStoredSize);
    std::string strDamage;
    if (MurmurHash2(pStored, nStored, 0) != e.nChecksum) strDamage = "the data does not match its checksum";
    // Deflate packs at most about 1032 bytes into one: a larger decoded size is damage, found before
    // a buffer of that size is asked for.
    if (strDamage.empty() && e.nCompression == 1 && static_cast<uint64_t>(e.nSize) > uint64_t(nStored) * 1032 + 64)
        strDamage = "its decoded size is more than its compressed data can hold";
    if (strDamage.empty() && e.nCompression == 1) {
        std::vector<uint8_t> out(static_cast<size_t>(e.nSize) + 1);
        uLongf nOut = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &nOut, pStored, static_cast<uLong>(nStored)) != Z_OK || nOut != static_cast<uLongf>(e.nSize))
            strDamage = "the compressed data does not decode to its size";
    }
    // The repair trailer right behind the data.
    const uint64_t nAt = static_cast<uint64_t>(e.llOffset) + nStored;
    if (nFile - nAt < 8) return strDamage.empty() ? "its repair trailer lies beyond the end of the file (a cut pack?)" : strDamage;
    const uint32_t nParity = GetU32(image.data() + nAt);
    const uint32_t nBlocks = GetU32(image.data() + nAt + 4);
    if (nParity == 0) return strDamage;
    const uint64_t nNeeded = (nStored + REPAIR_BLOCK - 1) / REPAIR_BLOCK;
    if (nParity != REPAIR_BLOCK || nBlocks != nNeeded)
        return strDamage.empty() ? "its repair trailer is damaged" : strDamage;
    if (nFile - nAt - 8 < 2 * uint64_t(nBlocks) + REPAIR_BLOCK)
        return strDamage.empty() ? "its repair trailer lies beyond the end of the file (a cut pack?)" : strDamage;
    const uint8_t* pChecks = image.data() + nAt + 8;
    const uint8_t* pParity = pChecks + 2 * size_t(nBlocks);
    uint8_t abXor[REPAIR_BLOCK] = {};
    int nBadBlocks = 0;
    for (size_t b = 0; b < nBlocks; b++) {
        const size_t nLen = std::min<size_t>(REPAIR_BLOCK, nStored - b * REPAIR_BLOCK);
        const uint8_t* pBlock = pStored + b * REPAIR_BLOCK;
        if ((ComputeCRC32(pBlock, nLen) & 0xFFFF) != GetU16(pChecks + 2 * b)) ++nBadBlocks;
        for (size_t i = 0; i < nLen; i++) abXor[i] ^= pBlock[i];
    }
    const bool bParityOk = std::memcmp(abXor, pParity, REPAIR_BLOCK) == 0;
    if (!strDamage.empty())
        return strDamage + (nBadBlocks == 1 ? " (one damaged block: the engine repairs it from the trailer)" : "");
    if (nBadBlocks || !bParityOk) return "its repair trailer does not match the data";
    return "";
}

// --list and --check: every entry read whole and checked against the pack's own records.
int CheckPack(const char* pszPath, bool bList)
{
    std::vector<uint8_t> image;
    if (!ReadWholeFile(pszPath, &image)) {
        std::fprintf(stderr, "kxpack: cannot read %s\n", pszPath);
        return 1;
    }
    std::vector<PACK_TABLE_ENTRY> entries;
    if (image.size() < 32 || std::memcmp(image.data(), "KPF\0", 4) != 0) {
        std::fprintf(stderr, "kxpack: %s is not a pack\n", pszPath);
        return 1;
    }
    const uint32_t nTableSize = GetU32(&image[12]);
    const int32_t nCount = static_cast<int32_t>(GetU32(&image[8]));
    if (nCount < 0 || nTableSize > image.size() - 32 || ReadPackTable(image.data(), image.size(), &entries) != 0) {
        std::fprintf(stderr, "kxpack: %s: the entry table is damaged or cut short\n", pszPath);
        return 1;
    }
    const int32_t nVersion = static_cast<int32_t>(GetU32(&image[4]));
    if (bList) std::printf("version %d, %zu entries\n", nVersion, entries.size());
    int nDamaged = 0;
    for (const PACK_TABLE_ENTRY& e : entries) {
        const std::string strName = PlatCp932ToUtf8String(e.strName.c_str());
        if (bList)
            std::printf("%s\ttype %d\tcompression %d\tsize %d\tstored %d\n", strName.c_str(), e.nType, e.nCompression,
                        e.nSize, e.nStoredSize);
        const std::string strDamage = CheckEntry(image, e);
        if (!strDamage.empty()) {
            std::fprintf(stderr, "kxpack: %s: entry %s: %s\n", pszPath, strName.c_str(), strDamage.c_str());
            ++nDamaged;
        }
    }
    if (nVersion < 234) {
        std::fprintf(stderr, "kxpack: %s: version %d is below 234 (the engine does not read it)\n", pszPath, nVersion);
        ++nDamaged;
    }
    if (nDamaged) {
        std::fprintf(stderr, "kxpack: %s: %d damaged\n", pszPath, nDamaged);
        return 1;
    }
    if (!bList) std::printf("kxpack: %s: version %d, %zu entries, all sound\n", pszPath, nVersion, entries.size());
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

int PackFolder(const char* pszOut, const fs::path& folder, int nCompression, int nVersion, bool bRepair, bool bForce)
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
    if (!bForce && std::none_of(entries.begin(), entries.end(),
                                [](const PACK_WRITER_ENTRY& e) { return e.strName == kConfigEntry; })) {
        std::fprintf(stderr,
                     "kxpack: %s holds no kxbin/kxcfg.kbn: the engine would not start a game from this pack "
                     "(--force packs it all the same)\n",
                     folder.c_str());
        return 1;
    }
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

int EmbedPack(const char* pszOut, const char* pszEngine, const char* pszPack, const char* pszPreview, bool bForce)
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
    // A one-file game without the compiled configuration would only tell the player to start kolvex
    // with a game's folder.
    std::vector<PACK_TABLE_ENTRY> table;
    if (!bForce && pack.size() >= 32 && std::memcmp(pack.data(), "KPF\0", 4) == 0 &&
        ReadPackTable(pack.data(), pack.size(), &table) == 0 &&
        std::none_of(table.begin(), table.end(), [](const PACK_TABLE_ENTRY& e) {
            std::string strName = e.strName;
            LowerCaseASCII(strName.data());
            return strName == kConfigEntry;
        })) {
        std::fprintf(stderr,
                     "kxpack: %s holds no kxbin\\kxcfg.kbn: the one-file game would not start "
                     "(--force embeds it all the same)\n",
                     pszPack);
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
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kxpack %s (packs of version 234 and later)\n", kVersion);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--embed") == 0) {
        int i = 2;
        const bool bForce = i < argc && std::strcmp(argv[i], "--force") == 0;
        if (bForce) ++i;
        const int nRest = argc - i;
        if (nRest != 3 && nRest != 4) return PrintUsage();
        return EmbedPack(argv[i], argv[i + 1], argv[i + 2], nRest == 4 ? argv[i + 3] : nullptr, bForce);
    }
    if (argc == 3 && std::strcmp(argv[1], "--list") == 0) return CheckPack(argv[2], true);
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return CheckPack(argv[2], false);
    if (argc < 3 || argv[1][0] == '-') return PrintUsage();
    const char* pszOut = argv[1];
    int nCompression = 0, nVersion = 234;
    bool bRepair = true, bForce = false;
    int i = 2;
    for (; i < argc - 1; i++) {
        if (std::strcmp(argv[i], "-z") == 0) {
            nCompression = 1;
        } else if (std::strcmp(argv[i], "--no-repair") == 0) {
            bRepair = false;
        } else if (std::strcmp(argv[i], "--force") == 0) {
            bForce = true;
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
    return PackFolder(pszOut, argv[argc - 1], nCompression, nVersion, bRepair, bForce);
}
