// The module registry: built-in codec modules by DLL name, fakes and hidden names for tests.
#include "platform/plat_modules.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/plat_text.h"

namespace {

struct MODULE_EXPORT {
    std::string strName;   // empty: by ordinal only
    int nOrdinal;          // 0: by name only
    void* pfn;
};

struct FAKE_MODULE {
    std::string strName;
    std::vector<MODULE_EXPORT> exports;
};

struct MODULE_REGISTRY {
    std::mutex lock;
    std::vector<FAKE_MODULE> fakes;
    std::vector<std::string> hidden;
};

MODULE_REGISTRY& Registry()
{
    static MODULE_REGISTRY s_registry;
    return s_registry;
}

thread_local uint32_t t_nLastError = PLAT_ERROR_SUCCESS;

struct BUILTIN_MODULE {
    const char* pszName;
    const PLAT_MODULE_ENTRY* (*pfnEntries)(int* pnCount);
};
const BUILTIN_MODULE k_aBuiltins[] = {
    {"ZURUV.DLL", PlatZlibModuleEntries},
    {"KXSNP.DLL", PlatSnappyModuleEntries},
    {"VOZEZ.DLL", PlatPngModuleEntries},
    {"VOROR.DLL", PlatWebPModuleEntries},
    {"VORBISFILE.DLL", PlatOggModuleEntries},
    {"THEORALIB.DLL", PlatTheoraModuleEntries},
};

bool SameNameNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
        if (ca != cb) return false;
        if (!ca) return true;
    }
}

void CopyEntries(std::vector<MODULE_EXPORT>* pOut, const PLAT_MODULE_ENTRY* pEntries, int nEntries)
{
    for (int i = 0; i < nEntries; ++i) {
        const PLAT_MODULE_ENTRY& e = pEntries[i];
        pOut->push_back(MODULE_EXPORT{e.pszName ? e.pszName : "", e.nOrdinal > 0 ? e.nOrdinal : 0, e.pfn});
    }
}

bool IsJapaneseLocale()
{
    for (const char* pszVar : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* psz = std::getenv(pszVar);
        if (psz && *psz) return std::strncmp(psz, "ja", 2) == 0;
    }
    return false;
}

}  // namespace

// A loaded module: its own copy of the entries, so that the registry may change under it.
struct PLAT_MODULE {
    std::string strName;
    std::vector<MODULE_EXPORT> exports;
};

PLAT_MODULE* PlatLoadLibrary(const char* pszName)
{
    if (!pszName || !*pszName) {
        t_nLastError = PLAT_ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    try {
        MODULE_REGISTRY& reg = Registry();
        std::lock_guard<std::mutex> guard(reg.lock);
        for (const std::string& s : reg.hidden) {
            if (SameNameNoCase(s.c_str(), pszName)) {
                t_nLastError = PLAT_ERROR_MOD_NOT_FOUND;
                return nullptr;
            }
        }
        PLAT_MODULE* pModule = nullptr;
        for (const FAKE_MODULE& f : reg.fakes) {
            if (SameNameNoCase(f.strName.c_str(), pszName)) {
                pModule = new PLAT_MODULE{f.strName, f.exports};
                break;
            }
        }
        if (!pModule) {
            for (const BUILTIN_MODULE& b : k_aBuiltins) {
                if (!SameNameNoCase(b.pszName, pszName)) continue;
                pModule = new PLAT_MODULE{b.pszName, {}};
                int nCount = 0;
                const PLAT_MODULE_ENTRY* pEntries = b.pfnEntries(&nCount);
                CopyEntries(&pModule->exports, pEntries, nCount);
                break;
            }
        }
        t_nLastError = pModule ? PLAT_ERROR_SUCCESS : PLAT_ERROR_MOD_NOT_FOUND;
        return pModule;
    } catch (const std::bad_alloc&) {
        t_nLastError = PLAT_ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
}

void* PlatGetProcAddress(PLAT_MODULE* pModule, const char* pszName)
{
    if (!pModule) {
        t_nLastError = PLAT_ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (pszName && *pszName) {
        for (const MODULE_EXPORT& e : pModule->exports) {
            if (e.strName == pszName) {   // export names match case-sensitively, as on Windows
                t_nLastError = PLAT_ERROR_SUCCESS;
                return e.pfn;
            }
        }
    }
    t_nLastError = PLAT_ERROR_PROC_NOT_FOUND;
    return nullptr;
}

void* PlatGetProcOrdinal(PLAT_MODULE* pModule, int nOrdinal)
{
    if (!pModule) {
        t_nLastError = PLAT_ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (nOrdinal > 0) {
        for (const MODULE_EXPORT& e : pModule->exports) {
            if (e.nOrdinal == nOrdinal) {
                t_nLastError = PLAT_ERROR_SUCCESS;
                return e.pfn;
            }
        }
    }
    t_nLastError = PLAT_ERROR_PROC_NOT_FOUND;
    return nullptr;
}

int PlatFreeLibrary(PLAT_MODULE* pModule)
{
    delete pModule;
    return 1;
}

uint32_t PlatGetLastError(void) { return t_nLastError; }

int PlatFormatErrorText(uint32_t nCode, char* pszBuf, size_t nCap)
{
    struct ERROR_TEXT {
        uint32_t nCode;
        const char* pszEnglish;
        const char* pszJapanese;   // UTF-8
    };
    static const ERROR_TEXT k_aTexts[] = {
        {PLAT_ERROR_SUCCESS, "The operation completed successfully.", "この操作を正しく終了しました。"},
        {PLAT_ERROR_INVALID_HANDLE, "The handle is invalid.", "ハンドルが無効です。"},
        {PLAT_ERROR_MOD_NOT_FOUND, "The specified module could not be found.",
         "指定されたモジュールが見つかりません。"},
        {PLAT_ERROR_PROC_NOT_FOUND, "The specified procedure could not be found.",
         "指定されたプロシージャが見つかりません。"},
    };
    if (!pszBuf || nCap == 0) return 0;
    pszBuf[0] = '\0';
    for (const ERROR_TEXT& t : k_aTexts) {
        if (t.nCode != nCode) continue;
        if (IsJapaneseLocale()) {
            const int n = PlatUtf8ToCp932(t.pszJapanese, pszBuf, nCap);
            return n < 0 ? static_cast<int>(std::strlen(pszBuf)) : n;
        }
        const size_t n = std::min(std::strlen(t.pszEnglish), nCap - 1);
        std::memcpy(pszBuf, t.pszEnglish, n);
        pszBuf[n] = '\0';
        return static_cast<int>(n);
    }
    return 0;
}

void PlatHideModule(const char* pszName, int bHidden)
{
    if (!pszName) return;
    MODULE_REGISTRY& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    for (auto it = reg.hidden.begin(); it != reg.hidden.end(); ++it) {
        if (SameNameNoCase(it->c_str(), pszName)) {
            if (!bHidden) reg.hidden.erase(it);
            return;
        }
    }
    if (bHidden) reg.hidden.emplace_back(pszName);
}

int PlatRegisterFakeModule(const char* pszName, const PLAT_MODULE_ENTRY* pEntries, int nEntries)
{
    if (!pszName || !*pszName || nEntries < 0 || (nEntries > 0 && !pEntries)) return -1;
    FAKE_MODULE fake{pszName, {}};
    CopyEntries(&fake.exports, pEntries, nEntries);
    MODULE_REGISTRY& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    for (FAKE_MODULE& f : reg.fakes) {
        if (SameNameNoCase(f.strName.c_str(), pszName)) {
            f = std::move(fake);
            return 0;
        }
    }
    reg.fakes.push_back(std::move(fake));
    return 0;
}

void PlatResetModules(void)
{
    MODULE_REGISTRY& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.lock);
    reg.fakes.clear();
    reg.hidden.clear();
}
