// One-file games: patching the size marker and appending the header, the preview and the pack.
#include "tools/lib/bundle_writer.h"

#include <algorithm>
#include <cstring>

#include "core/appended_data.h"

namespace {

void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int64_t FindSizeMarker(const std::vector<uint8_t>& exe)
{
    static const char kTag[KX_RES_TAG_SIZE] = KX_RES_TAG;
    int64_t llFound = -1;
    auto it = exe.begin();
    for (;;) {
        it = std::search(it, exe.end(), kTag, kTag + KX_RES_TAG_SIZE);
        if (it == exe.end()) break;
        if (llFound >= 0) return -1;
        llFound = (it - exe.begin()) + KX_RES_TAG_SIZE;
        ++it;
    }
    if (llFound < 0 || static_cast<uint64_t>(llFound) + 4 > exe.size()) return -1;
    return llFound;
}

int WriteBundle(const std::vector<uint8_t>& exe, const std::vector<uint8_t>& pack,
                const std::vector<uint8_t>& preview, std::vector<uint8_t>* pOut, std::string* pError)
{
    const int64_t llMarker = FindSizeMarker(exe);
    if (llMarker < 0) {
        *pError = "the executable has no single size marker (not a kolvex executable?)";
        return -1;
    }
    uint32_t dwOld = 0;
    for (int i = 0; i < 4; ++i) dwOld |= static_cast<uint32_t>(exe[static_cast<size_t>(llMarker) + i]) << (8 * i);
    if (dwOld != KX_RES_NO_DATA) {
        *pError = "the executable already carries a game";
        return -1;
    }
    const uint64_t nTotal = exe.size() + KX_APPENDED_HEADER_SIZE + preview.size() + pack.size();
    if (exe.size() <= KX_RES_NO_DATA || exe.size() > 0xFFFFFFFFu || KX_APPENDED_HEADER_SIZE + preview.size() > 0xFFFFFFFFu ||
        nTotal < exe.size()) {
        *pError = "the executable or the preview is too large";
        return -1;
    }
    if (pack.size() < 4 || std::memcmp(pack.data(), "KPF\0", 4) != 0) {
        *pError = "the pack is not a pack archive";
        return -1;
    }
    *pOut = exe;
    PutU32(pOut->data() + llMarker, static_cast<uint32_t>(exe.size()));
    uint8_t header[KX_APPENDED_HEADER_SIZE] = {'K', 'X', 'E', 'R'};
    PutU32(header + 4, static_cast<uint32_t>(KX_APPENDED_HEADER_SIZE + preview.size()));
    PutU32(header + 8, static_cast<uint32_t>(preview.size()));
    pOut->insert(pOut->end(), header, header + sizeof header);
    pOut->insert(pOut->end(), preview.begin(), preview.end());
    pOut->insert(pOut->end(), pack.begin(), pack.end());
    return 0;
}
