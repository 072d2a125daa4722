// The dropped-file lists of WM_DROPFILES, kept by the drop's number until the program is done
// with them (PlatDragFinish).
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/plat_window_backend.h"

namespace {

struct DROP_LIST {
    std::vector<std::string> names;
};
std::mutex g_mxDrops;
std::map<uintptr_t, DROP_LIST> g_mapDrops;
uintptr_t g_nDropNext = 1;

}  // namespace

void PlatForgetDrops(void)
{
    std::lock_guard<std::mutex> lk(g_mxDrops);
    g_mapDrops.clear();
}

void PlatQueueDrop(PLAT_HWND hwnd, const std::vector<std::string>& names)
{
    uintptr_t hDrop;
    {
        std::lock_guard<std::mutex> lk(g_mxDrops);
        hDrop = g_nDropNext++;
        g_mapDrops[hDrop].names = names;
    }
    if (PlatPostMessage(hwnd, PLAT_WM_DROPFILES, hDrop, 0) != 0) PlatDragFinish(hDrop);
}

int PlatDragQueryFileCount(uintptr_t hDrop)
{
    std::lock_guard<std::mutex> lk(g_mxDrops);
    auto it = g_mapDrops.find(hDrop);
    return it == g_mapDrops.end() ? -1 : (int)it->second.names.size();
}

int PlatDragQueryFile(uintptr_t hDrop, int nIndex, char* pszOut, int cap)
{
    std::lock_guard<std::mutex> lk(g_mxDrops);
    auto it = g_mapDrops.find(hDrop);
    if (it == g_mapDrops.end() || nIndex < 0 || (size_t)nIndex >= it->second.names.size()) return -1;
    const std::string& s = it->second.names[(size_t)nIndex];
    if (!pszOut || cap <= 0) return (int)s.size();
    if (s.size() + 1 > (size_t)cap) return -1;  // a cut path would name another file
    memcpy(pszOut, s.c_str(), s.size() + 1);
    return (int)s.size();
}

void PlatDragFinish(uintptr_t hDrop)
{
    std::lock_guard<std::mutex> lk(g_mxDrops);
    g_mapDrops.erase(hDrop);
}

