// Object trees: nodes, their child index and sibling order, object paths.
#include "core/object_tree.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/kx_hash.h"
#include "core/window_record.h"
#include "core/game_config.h"
#include "core/script_thread.h"
#include "core/sysfacts.h"

TREE_NODE* g_pLayerRoot = nullptr;
TREE_NODE* g_pThreadRoot = nullptr;
TREE_NODE* g_pSoundRoot = nullptr;
TREE_NODE* g_pMenuRoot = nullptr;

static char s_szLayerPath[KX_MAX_OBJECT_PATH];
static char s_szThreadPath[KX_MAX_OBJECT_PATH];
static char s_szSoundPath[KX_MAX_OBJECT_PATH];
static char s_szMenuPath[KX_MAX_OBJECT_PATH];
char* g_pszLayerPath = s_szLayerPath;
char* g_pszThreadPath = s_szThreadPath;
char* g_pszSoundPath = s_szSoundPath;
char* g_pszMenuPath = s_szMenuPath;

// Counts every change of any sibling list; a remembered position in a list is valid only while the
// count is unchanged. Trees are shared between threads only under their own locks, which order
// the count's updates as well.
static std::atomic<uint64_t> s_qwSiblingEdits{0};

// Where GetNthChild last stopped, per thread (the sound thread walks the sound tree while the
// frame step walks the others).
struct NTH_CHILD_CACHE {
    const TREE_NODE* pParent;
    TREE_NODE* pNode;
    int64_t n;
    uint64_t qwEdits;
};
static thread_local NTH_CHILD_CACHE s_nthCache;


// ---------------------------------------------------------------------------------------------
// Path text helpers. Every walk steps by cp932 character, so a '/' inside a double-byte character
// is never a separator and a lead byte before the terminator ends the walk.

// The next '/' at or after p, or the terminator.
static const char* FindSeparator(const char* p)
{
    while (*p && *p != '/')
        p = NextCharCp932(p);
    return p;
}

// Start of the last component: after the last '/', or the text itself.
static const char* FindLastComponent(const char* psz)
{
    const char* pLast = psz;
    for (const char* p = psz; *p; p = NextCharCp932(p)) {
        if (*p == '/')
            pLast = p + 1;
    }
    return pLast;
}

static bool NameEquals(const TREE_NODE* pNode, const char* pName, int32_t len)
{
    return pNode->nNameLen == len && (len == 0 || memcmp(pNode->pszName, pName, static_cast<size_t>(len)) == 0);
}

static uint32_t HashBytes31(const char* p, size_t len)
{
    return MurmurHash2(p, len, 0) & KX_KEY_HASH_MASK;
}

// ---------------------------------------------------------------------------------------------
// NormalizeObjectPath

static bool HasPathSeparator(const char* psz)
{
    for (const char* p = psz; *p; p = NextCharCp932(p)) {
        if (*p == '.' || *p == ':' || *p == '/')
            return true;
    }
    return false;
}

// Marks the bytes of text that are '/' separators (never a byte of a double-byte character).
static std::vector<uint8_t> MarkSeparators(const std::string& text)
{
    std::vector<uint8_t> sep(text.size(), 0);
    const char* pBase = text.c_str();
    for (const char* p = pBase; *p; p = NextCharCp932(p)) {
        if (*p == '/')
            sep[static_cast<size_t>(p - pBase)] = 1;
    }
    return sep;
}

// "../": drop the last component of out with its trailing '/' run and the '/' run before it, then
// put back one '/'. A single component (or nothing) leaves out empty.
static void DropLastComponent(std::string& out)
{
    std::vector<uint8_t> sep = MarkSeparators(out);
    size_t i = out.size();
    while (i > 0 && sep[i - 1])
        --i;
    while (i > 0 && !sep[i - 1])
        --i;
    if (i == 0) {
        out.clear();
        return;
    }
    while (i > 0 && sep[i - 1])
        --i;
    out.resize(i);
    out += '/';
}

static int StoreObjectPath(char* pszOut, const std::string& out, int nResult)
{
    if (out.size() >= KX_MAX_OBJECT_PATH) {
        ReportScriptErrorF(KX_ERR_PATH_TOO_LONG, 1, out.c_str());
        return -1;
    }
    memcpy(pszOut, out.c_str(), out.size() + 1);
    return nResult;
}

int NormalizeObjectPath(char* pszOut, const char* pszName, const char* pszCurPath, uint8_t bAllowSpace)
{
    if (!pszOut)
        return -1;
    pszOut[0] = '\0';
    if (!pszName)
        pszName = "";
    if (!pszCurPath)
        pszCurPath = "";

    std::string out;
    if (!HasPathSeparator(pszName)) {
        if (*pszCurPath) {
            out = pszCurPath;
            out += '/';
        }
        out += pszName;
        return StoreObjectPath(pszOut, out, 0);
    }

    std::string temp;
    if (pszName[0] == ':') {
        const char* p = pszName + 1;
        if (*p == '/')
            ++p;
        temp = p;
    } else {
        temp = pszCurPath;
        if (!temp.empty())
            temp += '/';
        temp += pszName[0] == '/' ? pszName + 1 : pszName;
    }
    if (temp.empty())
        return 0;

    const char* p = temp.c_str();
    while (*p) {
        if (*p == '/') {
            out += '/';
            ++p;
            continue;
        }
        // A component runs to the next '/' and includes it.
        const char* q = p;
        bool bSpace = false;
        while (*q && *q != '/') {
            if (*q == ' ')
                bSpace = true;
            q = NextCharCp932(q);
        }
        if (*q == '/')
            ++q;
        if (bSpace && !bAllowSpace) {
            ReportScriptErrorF(KX_ERR_SPACE_IN_PATH, 1, temp.c_str());
            return -1;
        }
        size_t n = static_cast<size_t>(q - p);
        if (n == 2 && p[0] == '.' && p[1] == '/') {
            // "./" names the current level
        } else if (n == 3 && p[0] == '.' && p[1] == '.' && p[2] == '/') {
            DropLastComponent(out);
        } else {
            out.append(p, n);
        }
        p = q;
    }

    int nResult = 0;
    if (!out.empty()) {
        std::vector<uint8_t> sep = MarkSeparators(out);
        if (sep.back()) {
            out.pop_back();
            nResult = out.empty() ? 0 : 1;
        }
    }
    return StoreObjectPath(pszOut, out, nResult);
}

// ---------------------------------------------------------------------------------------------
// Lookup

TREE_NODE* CreateRootNode(void)
{
    TREE_NODE* pRoot = static_cast<TREE_NODE*>(AllocZeroed(sizeof(TREE_NODE)));
    if (!pRoot)
        ReportError(KX_ERR_NO_MEMORY, 1);
    return pRoot;
}

TREE_NODE* FindChildNode(TREE_NODE* pNode, const char* pName, int32_t len)
{
    if (!pNode || !pName || len < 0)
        return nullptr;
    uint32_t dwKey = MurmurHash2(pName, static_cast<size_t>(len), 0) | KX_KEY_GROUP;
    for (TREE_NODE* pChild = pNode->pFirstChild; pChild; pChild = pChild->pNext) {
        if (pChild->dwKey == dwKey && NameEquals(pChild, pName, len))
            return pChild;
    }
    return nullptr;
}

// Walks the groups named before the last component. On a missing one returns NULL and, when
// bReport is set, reports it with the component's text.
static TREE_NODE* WalkParentGroups(const char* pszPath, TREE_NODE* pRoot, bool bReport)
{
    TREE_NODE* pNode = pRoot;
    const char* p = pszPath;
    for (;;) {
        const char* pEnd = FindSeparator(p);
        if (!*pEnd)
            return pNode;
        int32_t len = static_cast<int32_t>(pEnd - p);
        TREE_NODE* pChild = FindChildNode(pNode, p, len);
        if (!pChild) {
            if (bReport) {
                std::string component(p, static_cast<size_t>(len));
                ReportScriptErrorF(KX_ERR_NO_SUCH_GROUP, 1, component.c_str());
            }
            return nullptr;
        }
        pNode = pChild;
        p = pEnd + 1;
    }
}

TREE_NODE* FindParentNode(const char* pszPath, TREE_NODE* pRoot)
{
    if (!pszPath || !pRoot)
        return nullptr;
    return WalkParentGroups(pszPath, pRoot, true);
}

TREE_NODE* FindNodeByPath(TREE_NODE* pRoot, const char* pszPath, int nMode)
{
    if (!pRoot || !pszPath)
        return nullptr;
    TREE_NODE* pParent = WalkParentGroups(pszPath, pRoot, false);
    if (!pParent)
        return nullptr;
    const char* pName = FindLastComponent(pszPath);
    int32_t len = static_cast<int32_t>(strlen(pName));
    uint32_t dwHash = HashBytes31(pName, static_cast<size_t>(len));

    if (nMode == KX_FIND_LEAF) {
        // One bucket of the index; a group that never had a child has no index.
        if (!pParent->pdwChildKeys)
            return nullptr;
        uint32_t b = dwHash >> 24;
        int nStart = pParent->pwBucketStart[b];
        int nEnd = nStart + pParent->pwBucketCount[b];
        for (int i = nStart; i < nEnd; ++i) {
            if (pParent->pdwChildKeys[i] == dwHash && NameEquals(pParent->ppChildNodes[i], pName, len))
                return pParent->ppChildNodes[i];
        }
        return nullptr;
    }
    if (nMode == KX_FIND_GROUP || nMode == KX_FIND_ANY) {
        for (TREE_NODE* pChild = pParent->pFirstChild; pChild; pChild = pChild->pNext) {
            bool bKey = nMode == KX_FIND_GROUP ? pChild->dwKey == (dwHash | KX_KEY_GROUP)
                                               : (pChild->dwKey & KX_KEY_HASH_MASK) == dwHash;
            if (bKey && NameEquals(pChild, pName, len))
                return pChild;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Child index

static int AllocChildIndex(TREE_NODE* pParent)
{
    pParent->pdwChildKeys = static_cast<uint32_t*>(AllocZeroed(KX_TREE_MAX_CHILDREN * sizeof(uint32_t)));
    pParent->ppChildNodes = static_cast<TREE_NODE**>(AllocZeroed(KX_TREE_MAX_CHILDREN * sizeof(TREE_NODE*)));
    pParent->pwBucketStart = static_cast<uint16_t*>(AllocZeroed(KX_TREE_BUCKETS * sizeof(uint16_t)));
    pParent->pwBucketCount = static_cast<uint16_t*>(AllocZeroed(KX_TREE_BUCKETS * sizeof(uint16_t)));
    pParent->nIndexed = 0;
    if (pParent->pdwChildKeys && pParent->ppChildNodes && pParent->pwBucketStart && pParent->pwBucketCount)
        return 0;
    free(pParent->pdwChildKeys);
    free(pParent->ppChildNodes);
    free(pParent->pwBucketStart);
    free(pParent->pwBucketCount);
    pParent->pdwChildKeys = nullptr;
    pParent->ppChildNodes = nullptr;
    pParent->pwBucketStart = nullptr;
    pParent->pwBucketCount = nullptr;
    return -1;
}

int InsertChildIndex(TREE_NODE* pParent, TREE_NODE* pChild)
{
    if (!pParent || !pChild)
        return -1;
    if (!pParent->pdwChildKeys && AllocChildIndex(pParent) != 0) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    if (pParent->nIndexed >= KX_TREE_MAX_CHILDREN) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    uint32_t dwKey = pChild->dwKey;
    uint32_t b = dwKey >> 24;
    int nStart = pParent->pwBucketStart[b];
    int nEnd = nStart + pParent->pwBucketCount[b];
    int nPos = nStart;
    while (nPos < nEnd && pParent->pdwChildKeys[nPos] < dwKey)
        ++nPos;
    int nMove = pParent->nIndexed - nPos;
    if (nMove > 0) {
        memmove(pParent->pdwChildKeys + nPos + 1, pParent->pdwChildKeys + nPos, static_cast<size_t>(nMove) * sizeof(uint32_t));
        memmove(pParent->ppChildNodes + nPos + 1, pParent->ppChildNodes + nPos, static_cast<size_t>(nMove) * sizeof(TREE_NODE*));
    }
    pParent->pdwChildKeys[nPos] = dwKey;
    pParent->ppChildNodes[nPos] = pChild;
    for (uint32_t i = b + 1; i < KX_TREE_BUCKETS; ++i)
        pParent->pwBucketStart[i]++;
    pParent->pwBucketCount[b]++;
    pParent->nIndexed++;
    return 0;
}

void UnindexChildNode(TREE_NODE* pParent, TREE_NODE* pChild)
{
    if (!pParent || !pChild || !pParent->pdwChildKeys)
        return;
    uint32_t b = pChild->dwKey >> 24;
    int nStart = pParent->pwBucketStart[b];
    int nEnd = nStart + pParent->pwBucketCount[b];
    int nPos = -1;
    for (int i = nStart; i < nEnd; ++i) {
        if (pParent->pdwChildKeys[i] == pChild->dwKey && pParent->ppChildNodes[i] == pChild) {
            nPos = i;
            break;
        }
    }
    if (nPos < 0) {
        // A node whose key changed after it was indexed: find it by address, so that the index
        // never keeps a pointer to a node that is about to be freed.
        for (int i = 0; i < pParent->nIndexed; ++i) {
            if (pParent->ppChildNodes[i] == pChild) {
                nPos = i;
                b = pParent->pdwChildKeys[i] >> 24;
                break;
            }
        }
    }
    if (nPos < 0)
        return;
    int nMove = pParent->nIndexed - nPos - 1;
    if (nMove > 0) {
        memmove(pParent->pdwChildKeys + nPos, pParent->pdwChildKeys + nPos + 1, static_cast<size_t>(nMove) * sizeof(uint32_t));
        memmove(pParent->ppChildNodes + nPos, pParent->ppChildNodes + nPos + 1, static_cast<size_t>(nMove) * sizeof(TREE_NODE*));
    }
    pParent->nIndexed--;
    pParent->pdwChildKeys[pParent->nIndexed] = 0;
    pParent->ppChildNodes[pParent->nIndexed] = nullptr;
    for (uint32_t i = b + 1; i < KX_TREE_BUCKETS; ++i)
        pParent->pwBucketStart[i]--;
    pParent->pwBucketCount[b]--;
}

// ---------------------------------------------------------------------------------------------
// Sibling list

void InsertChildSorted(TREE_NODE* pParent, TREE_NODE* pChild, int64_t llOrder)
{
    if (!pParent || !pChild)
        return;
    s_qwSiblingEdits.fetch_add(1, std::memory_order_relaxed);
    pChild->pParent = pParent;
    pChild->llOrder = llOrder;
    // The list is sorted, so "before the first sibling with a greater key" is "after the last
    // sibling whose key is not greater"; searching from the tail makes the usual case (a new key
    // at or above all others) a single step.
    TREE_NODE* pAfter = pParent->pLastChild;
    while (pAfter && pAfter->llOrder > llOrder)
        pAfter = pAfter->pPrev;
    pChild->pPrev = pAfter;
    if (pAfter) {
        pChild->pNext = pAfter->pNext;
        pAfter->pNext = pChild;
    } else {
        pChild->pNext = pParent->pFirstChild;
        pParent->pFirstChild = pChild;
    }
    if (pChild->pNext)
        pChild->pNext->pPrev = pChild;
    else
        pParent->pLastChild = pChild;
    pParent->nChildCount++;
}

// 1 when the child is linked into the parent's sibling list.
static bool IsLinkedChild(const TREE_NODE* pParent, const TREE_NODE* pChild)
{
    if (pChild->pParent != pParent)
        return false;
    bool bPrev = pChild->pPrev ? pChild->pPrev->pNext == pChild : pParent->pFirstChild == pChild;
    bool bNext = pChild->pNext ? pChild->pNext->pPrev == pChild : pParent->pLastChild == pChild;
    return bPrev && bNext;
}

void UnlinkChild(TREE_NODE* pParent, TREE_NODE* pChild)
{
    if (!pParent || !pChild || !IsLinkedChild(pParent, pChild))
        return;
    s_qwSiblingEdits.fetch_add(1, std::memory_order_relaxed);
    if (pChild->pPrev)
        pChild->pPrev->pNext = pChild->pNext;
    else
        pParent->pFirstChild = pChild->pNext;
    if (pChild->pNext)
        pChild->pNext->pPrev = pChild->pPrev;
    else
        pParent->pLastChild = pChild->pPrev;
    // Cleared, so that taking the node out a second time finds it out already.
    pChild->pPrev = nullptr;
    pChild->pNext = nullptr;
    pChild->pParent = nullptr;
    pParent->nChildCount--;
}

void RemoveNode(TREE_NODE* pNode)
{
    if (!pNode || !pNode->pParent)
        return;
    TREE_NODE* pParent = pNode->pParent;
    UnindexChildNode(pParent, pNode);
    UnlinkChild(pParent, pNode);
}

void FreeTreeNode(TREE_NODE* pNode)
{
    if (!pNode)
        return;
    s_qwSiblingEdits.fetch_add(1, std::memory_order_relaxed);
    free(pNode->pszName);
    free(pNode->pdwChildKeys);
    free(pNode->ppChildNodes);
    free(pNode->pwBucketStart);
    free(pNode->pwBucketCount);
    free(pNode);
}

int SetNodeOrder(TREE_NODE* pNode, int64_t llOrder)
{
    if (!pNode || !pNode->pParent)
        return 0;
    TREE_NODE* pParent = pNode->pParent;
    UnlinkChild(pParent, pNode);
    InsertChildSorted(pParent, pNode, llOrder);
    return 1;
}

int SwapNodeOrder(TREE_NODE* pA, TREE_NODE* pB)
{
    if (!pA || !pB)
        return 0;
    int64_t llA = pA->llOrder;
    int64_t llB = pB->llOrder;
    if (!SetNodeOrder(pA, llB))
        pA->llOrder = llB;
    if (!SetNodeOrder(pB, llA))
        pB->llOrder = llA;
    return 1;
}

TREE_NODE* GetNthChild(TREE_NODE* pNode, int64_t n)
{
    if (!pNode)
        return nullptr;
    if (n < 1)
        n = 1;
    int64_t nCount = pNode->nChildCount;
    if (n > nCount)
        return nullptr;

    // Start from whichever known position is nearest: the first child, the last child, or where
    // the previous call on this parent stopped when no sibling list has changed since.
    TREE_NODE* pFrom = pNode->pFirstChild;
    int64_t nFrom = 1;
    if (nCount - n < n - 1) {
        pFrom = pNode->pLastChild;
        nFrom = nCount;
    }
    NTH_CHILD_CACHE& cache = s_nthCache;
    uint64_t qwEdits = s_qwSiblingEdits.load(std::memory_order_relaxed);
    if (cache.pParent == pNode && cache.qwEdits == qwEdits && cache.pNode) {
        int64_t d = cache.n > n ? cache.n - n : n - cache.n;
        int64_t dBest = nFrom > n ? nFrom - n : n - nFrom;
        if (d < dBest) {
            pFrom = cache.pNode;
            nFrom = cache.n;
        }
    }
    while (pFrom && nFrom < n) {
        pFrom = pFrom->pNext;
        ++nFrom;
    }
    while (pFrom && nFrom > n) {
        pFrom = pFrom->pPrev;
        --nFrom;
    }
    cache = NTH_CHILD_CACHE{pNode, pFrom, n, qwEdits};
    return pFrom;
}

// ---------------------------------------------------------------------------------------------
// Creation

TREE_NODE* CreateNode(TREE_NODE* pRoot, const char* pszPath, uint8_t bGroup, int64_t llOrder)
{
    if (!pszPath) {
        ReportError(KX_ERR_NODE_NO_PATH, 1);
        return nullptr;
    }
    TREE_NODE* pParent = FindParentNode(pszPath, pRoot);
    if (!pParent)
        return nullptr;
    // The index has room for KX_TREE_MAX_CHILDREN children; one more is refused.
    if (pParent->nIndexed >= KX_TREE_MAX_CHILDREN || pParent->nChildCount >= KX_TREE_MAX_CHILDREN) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return nullptr;
    }
    const char* pName = FindLastComponent(pszPath);
    size_t len = strlen(pName);
    TREE_NODE* pNode = static_cast<TREE_NODE*>(AllocZeroed(sizeof(TREE_NODE)));
    char* pszName = static_cast<char*>(AllocZeroed(len + 1));
    if (!pNode || !pszName) {
        free(pNode);
        free(pszName);
        ReportError(KX_ERR_NO_MEMORY, 1);
        return nullptr;
    }
    memcpy(pszName, pName, len + 1);
    pNode->pszName = pszName;
    pNode->nNameLen = static_cast<int32_t>(len);
    pNode->dwKey = (bGroup ? KX_KEY_GROUP : 0u) + HashBytes31(pName, len);
    pNode->bGroup = bGroup ? 1 : 0;
    pNode->llOrder = llOrder;
    if (InsertChildIndex(pParent, pNode) != 0) {
        FreeTreeNode(pNode);
        return nullptr;
    }
    InsertChildSorted(pParent, pNode, llOrder);
    return pNode;
}

static TREE_NODE* CreateTree(TREE_NODE** ppRoot, char* pszCurPath, const char* pszInitialPath)
{
    CopyTextBounded(pszCurPath, KX_MAX_OBJECT_PATH, pszInitialPath);
    *ppRoot = CreateRootNode();
    return *ppRoot;
}

// Children first, then the node's payload, then the node.
template <class PAYLOAD>
static void FreeTree(TREE_NODE*& pRoot, void (*pfnRelease)(PAYLOAD*))
{
    struct WALK {
        static void Free(TREE_NODE* pNode, void (*pfn)(PAYLOAD*))
        {
            for (TREE_NODE* pChild = pNode->pFirstChild; pChild;) {
                TREE_NODE* pNext = pChild->pNext;
                Free(pChild, pfn);
                pChild = pNext;
            }
            if (pNode->pPayload) pfn(static_cast<PAYLOAD*>(pNode->pPayload));
            pNode->pPayload = nullptr;
            FreeTreeNode(pNode);
        }
    };
    if (pRoot) WALK::Free(pRoot, pfnRelease);
    pRoot = nullptr;
}

void FreeObjectTrees(void)
{
    const ENGINE_HOOKS& h = g_EngineHooks;
    if (g_pLayerRoot) h.pfnFreeLayerTree(g_pLayerRoot);
    g_pLayerRoot = nullptr;
    FreeTree(g_pThreadRoot, h.pfnFreeScriptThread);
    FreeTree(g_pSoundRoot, h.pfnReleaseSoundChannel);
    FreeTree(g_pMenuRoot, h.pfnReleaseMenuItem);
}

int CreateObjectTrees(void)
{
    const ENGINE_HOOKS& h = g_EngineHooks;
    FreeObjectTrees();
    // Layers: the root carries the game screen's size; window 0's layer set "W0" gets a cleared
    // picture of that size (the layer code makes both).
    if (!CreateTree(&g_pLayerRoot, g_pszLayerPath, "W0"))
        return -1;
    int32_t nWidth = g_nScreenWidth, nHeight = g_nScreenHeight;
    if (g_apWindowState[0] && g_apWindowState[0]->nWidth > 0 && g_apWindowState[0]->nHeight > 0) {
        nWidth = g_apWindowState[0]->nWidth;
        nHeight = g_apWindowState[0]->nHeight;
    }
    if (nWidth <= 0 || nHeight <= 0) nWidth = nHeight = 1;
    if (h.pfnSetUpLayerTree(g_pLayerRoot, nWidth, nHeight) != 0)
        return -1;

    // Script threads: the unnamed group, then "SYSTEM" with the same key, so that the scheduler,
    // walking from the last sibling, runs "SYSTEM" first.
    if (!CreateTree(&g_pThreadRoot, g_pszThreadPath, ""))
        return -1;
    TREE_NODE* pGroup = CreateNode(g_pThreadRoot, "", 1, 100);
    if (!pGroup)
        return -1;
    h.pfnAttachScriptThread(pGroup);
    TREE_NODE* pSystem = CreateNode(g_pThreadRoot, "SYSTEM", 0, 100);
    if (!pSystem)
        return -1;
    if (SCRIPT_THREAD* pSystemThread = h.pfnAttachScriptThread(pSystem))
        pSystemThread->bRoot = 1;   // the one thread that cannot be ended

    // Sounds: "S0".
    if (!CreateTree(&g_pSoundRoot, g_pszSoundPath, "S0"))
        return -1;
    TREE_NODE* pS0 = CreateNode(g_pSoundRoot, "S0", 1, 1);
    if (!pS0)
        return -1;
    h.pfnAttachSoundChannel(pS0);

    // Menus: "M0".
    if (!CreateTree(&g_pMenuRoot, g_pszMenuPath, "M0"))
        return -1;
    TREE_NODE* pM0 = CreateNode(g_pMenuRoot, "M0", 1, 0);
    if (!pM0)
        return -1;
    h.pfnAttachMenuItem(pM0, "M0");
    return 0;
}

void ResetObjectTreePaths(void)
{
    s_szLayerPath[0] = s_szThreadPath[0] = s_szSoundPath[0] = s_szMenuPath[0] = '\0';
    g_pszLayerPath = s_szLayerPath;
    g_pszThreadPath = s_szThreadPath;
    g_pszSoundPath = s_szSoundPath;
    g_pszMenuPath = s_szMenuPath;
}
