// Folder aliases. The engine works in code page 932, which cannot express every name a file system
// holds (é, ü, an emoji). A folder the platform hands to the engine (the game folder, the user's
// data and documents folders) whose real path cp932 cannot express is presented as an alias: one
// ASCII component "\kx-folder-XXXXXXXX" (a hash of the real path) in place of the whole path. The
// file functions turn the alias back into the real path at the file-system boundary, and texts
// shown to the user (message boxes, standard error) name the real folder.
#include "platform/plat_internal.h"
#include "platform/plat_paths.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct FOLDER_ALIAS {
    std::string strToken;    // "kx-folder-XXXXXXXX"
    std::string strNative;   // the real path: absolute, UTF-8, '/' separators, no trailing '/'
};

std::mutex s_mxAliases;
std::vector<FOLDER_ALIAS> s_aAliases;

const char kPrefix[] = "kx-folder-";

uint32_t HashPath(const std::string& s)
{
    uint32_t h = 2166136261u;   // FNV-1a
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
    return h;
}

// The alias whose token the text starts with at pos, followed by a separator or the end; NULL.
const FOLDER_ALIAS* FindToken(const std::string& s, size_t pos, char chSep)
{
    if (s.compare(pos, sizeof kPrefix - 1, kPrefix) != 0) return nullptr;
    for (const FOLDER_ALIAS& a : s_aAliases) {
        const size_t nEnd = pos + a.strToken.size();
        if (s.compare(pos, a.strToken.size(), a.strToken) == 0 && (nEnd == s.size() || s[nEnd] == chSep ||
                                                                  (chSep == 0 && (s[nEnd] == '\\' || s[nEnd] == '/'))))
            return &a;
    }
    return nullptr;
}

}  // namespace

std::string PlatMakeFolderAlias(const std::string& strNative)
{
    std::string strReal = strNative;
    while (strReal.size() > 1 && strReal.back() == '/') strReal.pop_back();
    std::lock_guard<std::mutex> lock(s_mxAliases);
    for (const FOLDER_ALIAS& a : s_aAliases)
        if (a.strNative == strReal) return "\\" + a.strToken;
    // Two real paths with one hash keep apart: the later one counts on.
    uint32_t h = HashPath(strReal);
    for (;;) {
        char szToken[32];
        std::snprintf(szToken, sizeof szToken, "%s%08x", kPrefix, h);
        bool bTaken = false;
        for (const FOLDER_ALIAS& a : s_aAliases) bTaken |= a.strToken == szToken;
        if (!bTaken) {
            s_aAliases.push_back(FOLDER_ALIAS{szToken, strReal});
            return std::string("\\") + szToken;
        }
        ++h;
    }
}

int PlatExpandAliasPath(std::string* pPath)
{
    // The converted engine path: "/kx-folder-XXXXXXXX" or "/kx-folder-XXXXXXXX/rest".
    if (pPath->size() < 2 || (*pPath)[0] != '/') return 0;
    std::lock_guard<std::mutex> lock(s_mxAliases);
    const FOLDER_ALIAS* pAlias = FindToken(*pPath, 1, '/');
    if (!pAlias) return 0;
    *pPath = pAlias->strNative + pPath->substr(1 + pAlias->strToken.size());
    if (pPath->empty()) *pPath = "/";
    return 1;
}

int PlatAliasNativePath(const std::string& strNative, std::string* pEngineUtf8)
{
    std::lock_guard<std::mutex> lock(s_mxAliases);
    const FOLDER_ALIAS* pBest = nullptr;
    for (const FOLDER_ALIAS& a : s_aAliases) {
        const size_t n = a.strNative.size();
        if (strNative.compare(0, n, a.strNative) != 0) continue;
        if (strNative.size() != n && strNative[n] != '/' && a.strNative != "/") continue;
        if (!pBest || n > pBest->strNative.size()) pBest = &a;
    }
    if (!pBest) return -1;
    *pEngineUtf8 = "/" + pBest->strToken + strNative.substr(pBest->strNative.size());
    return 0;
}

std::string PlatShowFolderAliases(const std::string& strUtf8)
{
    std::lock_guard<std::mutex> lock(s_mxAliases);
    if (s_aAliases.empty() || strUtf8.find(kPrefix) == std::string::npos) return strUtf8;
    std::string out;
    for (size_t i = 0; i < strUtf8.size();) {
        const bool bSep = strUtf8[i] == '\\' || strUtf8[i] == '/';
        const FOLDER_ALIAS* pAlias = bSep ? FindToken(strUtf8, i + 1, 0) : nullptr;
        if (pAlias) {
            out += pAlias->strNative;
            i += 1 + pAlias->strToken.size();
        } else {
            out.push_back(strUtf8[i++]);
        }
    }
    return out;
}

void PlatClearFolderAliasesForTest(void)
{
    std::lock_guard<std::mutex> lock(s_mxAliases);
    s_aAliases.clear();
}
